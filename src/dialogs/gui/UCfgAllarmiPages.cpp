// The six pages of TCfgAllarmi and its button row, laid out in pixels as
// the main window is. Rows are placed after what they follow, so a wider
// system font moves them rather than overlapping them.

#include "controls/gui/JusLab.h"
#include "controls/gui/Placement.h"
#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/ListAndMaskRules.h"
#include "dialogs/gui/UCfgAllarmi.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr int kLeft = 12;
constexpr int kNoteHeight = 29;
constexpr int kButtonWidth = 97;
constexpr int kButtonHeight = 25;
constexpr int kFieldHeight = 21;
constexpr int kGap = 6;
constexpr int kSecondColumn = 300;

int Right(const QWidget* w) { return w->x() + w->width(); }
int Bottom(const QWidget* w) { return w->y() + w->height(); }

QLabel* Caption(QWidget* page, const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), page);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// A caption on the line of the field that follows it.
QLabel* FieldCaption(QWidget* page, const char* name, const char* text, int left, int fieldTop) {
    return Caption(page, name, text, left, fieldTop + 3);
}

// A file or folder name, shown in a sunken box.
QLabel* PathBox(QWidget* page, const char* name, int top, int width) {
    auto* box = Place(new QLabel(page), name, kLeft, top, width, kFieldHeight);
    box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    box->setAutoFillBackground(true);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Base));
    box->setPalette(p);
    box->setMargin(2);
    return box;
}

QLineEdit* Field(QWidget* page, const char* name, int left, int top, int width, int digitsMax = -1) {
    auto* edit = Place(new QLineEdit(page), name, left, top, width, kFieldHeight);
    if (digitsMax >= 0) dialogs::AcceptDigitsOnly(edit, digitsMax);
    return edit;
}

QPushButton* Button(QWidget* page, const char* name, const char* text, int right, int top,
                    int width = kButtonWidth) {
    auto* b = Place(new QPushButton(QString::fromUtf8(text), page), name, right - width, top, width, kButtonHeight);
    b->setAutoDefault(false);
    return b;
}

QCheckBox* Box(QWidget* page, const char* name, const char* text, int left, int top) {
    auto* box = new QCheckBox(QString::fromUtf8(text), page);
    box->setObjectName(QString::fromLatin1(name));
    box->move(left, top);
    box->adjustSize();
    return box;
}

// A fixed information text: navy, justified, on the page's own background.
// Its height follows its lines, so that no font cuts off the last one.
TJusLab* Note(QWidget* page, const char* name, const char* text, int top, int width) {
    auto* note = Place(new TJusLab(page), name, kLeft, top, width, kNoteHeight);
    QPalette p = note->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 128));
    note->setPalette(p);
    note->setText(QString::fromUtf8(text));
    note->SetAutoSize(true);
    return note;
}

// [caption] "Una ogni" [field] "minuti", the field 40 pixels wide.
QLineEdit* EveryMinutes(QWidget* page, const char* captionName, const char* caption, const char* fieldName,
                        const char* unitName, int left, int top) {
    QLabel* before = FieldCaption(page, captionName, caption, left, top);
    QLineEdit* edit = Field(page, fieldName, Right(before) + kGap, top, 40, 4);
    FieldCaption(page, unitName, "minuti", Right(edit) + kGap, top);
    return edit;
}

}  // namespace

void TCfgAllarmi::BuildPageSonoro(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label1", "Nome del file auodio", kLeft, 16);
    Label2 = PathBox(p, "Label2", 32, contentWidth_);
    CambiaFileAudioButton = Button(p, "CambiaFileAudioButton", " Cambia file ", right, 60);
    ApriFileButton = Button(p, "ApriFileButton", " Apri file ", CambiaFileAudioButton->x() - kGap, 60);

    QLabel* before = FieldCaption(p, "Label3", "Riproduci allarme per", kLeft, 104);
    Edit1 = Field(p, "Edit1", Right(before) + kGap, 104, 50, 0);
    FieldCaption(p, "Label4", "secondi", Right(Edit1) + kGap, 104);
}

void TCfgAllarmi::BuildPageSMS(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label5", "Numero di cellulare", kLeft, 12);
    QLabel* prefix = FieldCaption(p, "Label6", "+39", kLeft, 28);
    Edit2 = Field(p, "Edit2", Right(prefix) + 4, 28, 160, 20);

    Caption(p, "Label7", "Nº massimo di notifiche", kSecondColumn, 12);
    Edit5 = EveryMinutes(p, "Label8", "Una ogni", "Edit5", "Label9", kSecondColumn, 28);

    Caption(p, "Label10", "Nome utente", kLeft, 60);
    Edit3 = Field(p, "Edit3", kLeft, 76, 184);
    Caption(p, "Label11", "Password", kSecondColumn, 60);
    Edit4 = Field(p, "Edit4", kSecondColumn, 76, 184);
    dialogs::MaskWithAsterisks(Edit4);

    TJusLab* purchase = Note(p, "JusLab1",
                             "Gli SMS devono essere preventivamente acquistati dal nostro sito web. Inserire il "
                             "nome utente e la password rilasciati al momento dell'acquisto.",
                             112, contentWidth_);
    AcquistaSMSButton = Button(p, "AcquistaSMSButton", "Acquista SMS", right, Bottom(purchase) + kGap);
    VerificaCreditoButton = Button(p, "VerificaCreditoButton", "Verifica credito", AcquistaSMSButton->x() - kGap,
                                   AcquistaSMSButton->y());

    TJusLab* connection = Note(p, "JusLab2",
                               "Per poter inviare gli SMS il computer deve essere connesso ad Internet. Fare clic "
                               "sul pulsante \"Configura connessione\" per configurare la connessione da "
                               "utilizzare per l'invio degli SMS.",
                               Bottom(AcquistaSMSButton) + 14, contentWidth_);
    ConnessioneSMSButton =
        Button(p, "ConnessioneSMSButton", "Configura connessione", right, Bottom(connection) + kGap, 140);
}

void TCfgAllarmi::BuildPageMail(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label12", "Indirizzo E-Mail", kLeft, 12);
    Edit6 = Field(p, "Edit6", kLeft, 28, 270);
    CheckBox1 = Box(p, "CheckBox1", "Allega foto", kSecondColumn, 29);
    CheckBox1->setToolTip(QString::fromUtf8(" Nel caso in cui la video sorveglianza sia attiva "));

    Caption(p, "Label13", "Nº massimo di notifiche", kLeft, 60);
    Edit7 = EveryMinutes(p, "Label14", "Una ogni", "Edit7", "Label15", kLeft, 76);

    Caption(p, "Label16", "Server di posta in uscita:", kLeft, 108);
    Edit8 = Field(p, "Edit8", kLeft, 124, 270);
    Caption(p, "Label34", "Porta:", kSecondColumn, 108);
    Edit13 = Field(p, "Edit13", kSecondColumn, 124, 50, 5);
    const int securityLeft = Right(Edit13) + 16;
    Caption(p, "Label35", "Sicurezza:", securityLeft, 108);
    ComboBox4 = new QComboBox(p);
    ComboBox4->addItems({QStringLiteral("Nessuna"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    Place(ComboBox4, "ComboBox4", securityLeft, 124, std::max(130, ComboBox4->sizeHint().width()), 22);

    // The account's row ends where the server's does, on both sides.
    Caption(p, "Label36", "Nome utente:", kLeft, 156);
    Edit14 = Field(p, "Edit14", kLeft, 172, Edit8->width());
    Caption(p, "Label37", "Password:", kSecondColumn, 156);
    Edit15 = Field(p, "Edit15", kSecondColumn, 172, Right(ComboBox4) - kSecondColumn);
    dialogs::MaskWithAsterisks(Edit15);

    TJusLab* smtp = Note(p, "JusLab4",
                         "La posta elettronica può essere inviata solo tramite il server di posta in uscita (o "
                         "SMTP) del proprio provider di servizi Internet. Indicare l'indirizzo o il nome host del "
                         "server.",
                         Bottom(Edit14) + 10, contentWidth_);

    TJusLab* connection = Note(p, "JusLab3",
                               "Per poter inviare una mail il computer deve essere connesso ad Internet. Fare clic "
                               "sul pulsante \"Configura connessione\" per configurare la connessione da "
                               "utilizzare per l'invio delle mail.",
                               Bottom(smtp) + 14, contentWidth_);
    const int buttonsTop = Bottom(connection) + kGap;
    Button_MailDiProva =
        Button(p, "Button_MailDiProva", "Invia e-mail di prova", right - 140 - kGap, buttonsTop, 140);
    ConnessioneMailButton = Button(p, "ConnessioneMailButton", "Configura connessione", right, buttonsTop, 140);
}

void TCfgAllarmi::BuildPageRegistrazione(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label17", "Cartella di registrazione dei file audio/video (AVI)", kLeft, 10);
    Label18 = PathBox(p, "Label18", 26, contentWidth_);
    CartellaVideoButton = Button(p, "CartellaVideoButton", " Cambia certella ", right, 52);

    CheckBox2 = Box(p, "CheckBox2", "Registra video", kLeft, 54);
    CheckBox2->setToolTip(QString::fromUtf8(" Nel caso in cui la video sorveglianza sia attiva "));
    CheckBox3 = Box(p, "CheckBox3", "Registra audio", Right(CheckBox2) + 24, 54);
    CheckBox3->setToolTip(QString::fromUtf8(" Nel caso in cui l'audio sorveglianza sia attiva "));

    QLabel* durata = FieldCaption(p, "Label19", "Durata della registrazione (in secondi):", kLeft, 88);
    QLabel* massimo = FieldCaption(p, "Label20", "Nº massimo di registrazioni:", kLeft, 116);
    QLabel* ogni = FieldCaption(p, "Label21", "una ogni", Right(massimo) + kGap, 116);
    const int fieldLeft = std::max(Right(durata), Right(ogni)) + kGap;
    Edit10 = Field(p, "Edit10", fieldLeft, 88, 50, 5);
    Edit9 = Field(p, "Edit9", fieldLeft, 116, 50, 4);
    FieldCaption(p, "Label22", "minuti", Right(Edit9) + kGap, 116);

    CheckBox4 = Box(p, "CheckBox4", "usa compressione video, codec:", kLeft, 151);
    CheckBox5 = Box(p, "CheckBox5", "usa compressione audio, codec:", kLeft, 179);
    const int listLeft = std::max(Right(CheckBox4), Right(CheckBox5)) + kGap;
    ComboBox1 = Place(new QComboBox(p), "ComboBox1", listLeft, 150, right - listLeft, 22);
    ComboBox2 = Place(new QComboBox(p), "ComboBox2", listLeft, 178, right - listLeft, 22);
    ComboBox1->setMaxVisibleItems(12);
    ComboBox2->setMaxVisibleItems(12);

    Note(p, "JusLab5",
         "I nomi dei file di registrazione avranno il seguente formato: OCL-AAAAMMGGhhmmss.avi, dove "
         "AAAA=anno, MM=mese, GG=giorno, hh=ora, mm=minuti, ss=secondi, riferiti al momento di inizio "
         "registrazione.",
         Bottom(ComboBox2) + 14, contentWidth_);
}

void TCfgAllarmi::BuildPageFoto(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label23", "Cartella di registrazione delle foto", kLeft, 10);
    Label24 = PathBox(p, "Label24", 26, contentWidth_);
    CartellaFotoButton = Button(p, "CartellaFotoButton", " Cambia certella ", right, 52);

    Caption(p, "Label25", "Formato", kLeft, 64);
    ComboBox3 = Place(new QComboBox(p), "ComboBox3", kLeft, 80, 140, 22);
    ComboBox3->addItem(QStringLiteral("Bitmap (.BMP)"));
    ComboBox3->addItem(QStringLiteral("JPeg (.JPG)"));

    Caption(p, "Label26", "Nº massimo di foto", kSecondColumn, 64);
    Edit11 = EveryMinutes(p, "Label27", "Una ogni", "Edit11", "Label28", kSecondColumn, 80);

    Note(p, "JusLab6",
         "I nomi delle foto avranno il seguente formato: OCL-AAAAMMGGhhmmss.bmp (o .jpg), dove AAAA=anno, "
         "MM=mese, GG=giorno, hh=ora, mm=minuti, ss=secondi, riferiti al momento dello scatto.",
         Bottom(ComboBox3) + 20, contentWidth_);
}

void TCfgAllarmi::BuildPageFile(QWidget* p) {
    const int right = kLeft + contentWidth_;
    Caption(p, "Label29", "Nome del file da eseguire", kLeft, 16);
    Label30 = PathBox(p, "Label30", 32, contentWidth_);
    CambiaFileButton = Button(p, "CambiaFileButton", " Cambia file ", right, 60);
    EseguiFileButton = Button(p, "EseguiFileButton", " Esegui file ", CambiaFileButton->x() - kGap, 60);

    Caption(p, "Label31", "Nº massimo di esecuzioni", kLeft, 96);
    Edit12 = EveryMinutes(p, "Label32", "Una ogni", "Edit12", "Label33", kLeft, 112);
}

void TCfgAllarmi::BuildButtons() {
    const int top = height() - kButtonHeight - 8;
    const int width = 88;
    HelpBtn = Place(new QPushButton(QStringLiteral("Guida in linea"), this), "HelpBtn", this->width() - 8 - width,
                    top, width, kButtonHeight);
    CancelBtn = Place(new QPushButton(QStringLiteral("Annulla"), this), "CancelBtn", HelpBtn->x() - kGap - width,
                      top, width, kButtonHeight);
    OKBtn = Place(new QPushButton(QStringLiteral("Applica"), this), "OKBtn", CancelBtn->x() - kGap - width, top,
                  width, kButtonHeight);
    OKBtn->setDefault(true);
    CancelBtn->setAutoDefault(false);
    HelpBtn->setAutoDefault(false);
}
