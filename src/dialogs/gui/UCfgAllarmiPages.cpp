// The six pages of TCfgAllarmi and its button row, laid out in pixels as
// the main window is.

#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/UCfgAllarmi.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

constexpr int kLeft = 12;
constexpr int kNoteWidth = 533;
constexpr int kNoteHeight = 29;
constexpr int kButtonWidth = 97;
constexpr int kButtonHeight = 25;
constexpr int kRight = kLeft + kNoteWidth;  // right edge of the notes, the path boxes and the buttons

template <typename W>
W* Place(W* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(left, top, width, height);
    return w;
}

QLabel* Caption(QWidget* page, const char* name, const char* text, int left, int top, int width = 0) {
    auto* label = new QLabel(QString::fromUtf8(text), page);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    if (width > 0)
        label->resize(width, label->sizeHint().height());
    else
        label->adjustSize();
    return label;
}

// A file or folder name, shown in a sunken box the width of the notes.
QLabel* PathBox(QWidget* page, const char* name, int top) {
    auto* box = Place(new QLabel(page), name, kLeft, top, kNoteWidth, 21);
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setAutoFillBackground(true);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Base));
    box->setPalette(p);
    box->setMargin(2);
    box->setTextInteractionFlags(Qt::NoTextInteraction);
    return box;
}

QLineEdit* Field(QWidget* page, const char* name, int left, int top, int width, int digitsMax = -1) {
    auto* edit = Place(new QLineEdit(page), name, left, top, width, 21);
    if (digitsMax >= 0) dialogs::AcceptDigitsOnly(edit, digitsMax);
    return edit;
}

QPushButton* Button(QWidget* page, const char* name, const char* text, int left, int top,
                    int width = kButtonWidth) {
    auto* b = Place(new QPushButton(QString::fromUtf8(text), page), name, left, top, width, kButtonHeight);
    b->setAutoDefault(false);
    return b;
}

// A fixed information text: navy, on the page's own background.
QLabel* Note(QWidget* page, const char* name, const char* text, int top) {
    auto* note = Place(new QLabel(QString::fromUtf8(text), page), name, kLeft, top, kNoteWidth, kNoteHeight);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setAutoFillBackground(false);
    note->setAttribute(Qt::WA_TranslucentBackground);
    QPalette p = note->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 128));
    note->setPalette(p);
    return note;
}

// "Una ogni" [field] "minuti", the field 40 pixels wide.
QLineEdit* EveryMinutes(QWidget* page, const char* captionName, const char* caption, const char* fieldName,
                        const char* unitName, int left, int top) {
    QLabel* before = Caption(page, captionName, caption, left, top + 3);
    const int fieldLeft = before->geometry().right() + 6;
    QLineEdit* edit = Field(page, fieldName, fieldLeft, top, 40, 4);
    Caption(page, unitName, "minuti", fieldLeft + 46, top + 3);
    return edit;
}

}  // namespace

void TCfgAllarmi::BuildPageSonoro(QWidget* p) {
    Caption(p, "Label1", "Nome del file auodio", kLeft, 16);
    Label2 = PathBox(p, "Label2", 32);
    ApriFileButton = Button(p, "ApriFileButton", " Apri file ", kRight - 2 * kButtonWidth - 6, 60);
    CambiaFileAudioButton = Button(p, "CambiaFileAudioButton", " Cambia file ", kRight - kButtonWidth, 60);

    Caption(p, "Label3", "Riproduci allarme per", kLeft, 107);
    Edit1 = Field(p, "Edit1", 130, 104, 50, 0);
    Caption(p, "Label4", "secondi", 186, 107);
}

void TCfgAllarmi::BuildPageSMS(QWidget* p) {
    Caption(p, "Label5", "Numero di cellulare", kLeft, 12);
    Caption(p, "Label6", "+39", kLeft, 31);
    Edit2 = Field(p, "Edit2", kLeft + 24, 28, 160, 20);

    Caption(p, "Label7", "Nº massimo di notifiche", 300, 12);
    Edit5 = EveryMinutes(p, "Label8", "Una ogni", "Edit5", "Label9", 300, 28);

    Caption(p, "Label10", "Nome utente", kLeft, 60);
    Edit3 = Field(p, "Edit3", kLeft, 76, 184);
    Caption(p, "Label11", "Password", 300, 60);
    Edit4 = Field(p, "Edit4", 300, 76, 184);
    Edit4->setEchoMode(QLineEdit::Password);

    Note(p, "JusLab1",
         "Gli SMS devono essere preventivamente acquistati dal nostro sito web. Inserire il nome utente e "
         "la password rilasciati al momento dell'acquisto.",
         112);
    VerificaCreditoButton =
        Button(p, "VerificaCreditoButton", "Verifica credito", kRight - 2 * kButtonWidth - 6, 146);
    AcquistaSMSButton = Button(p, "AcquistaSMSButton", "Acquista SMS", kRight - kButtonWidth, 146);

    Note(p, "JusLab2",
         "Per poter inviare gli SMS il computer deve essere connesso ad Internet. Fare clic sul pulsante "
         "\"Configura connessione\" per configurare la connessione da utilizzare per l'invio degli SMS.",
         186);
    ConnessioneSMSButton = Button(p, "ConnessioneSMSButton", "Configura connessione", kRight - 130, 220, 130);
}

void TCfgAllarmi::BuildPageMail(QWidget* p) {
    Caption(p, "Label12", "Indirizzo E-Mail", kLeft, 12);
    Edit6 = Field(p, "Edit6", kLeft, 28, 270);
    CheckBox1 = Place(new QCheckBox(QString::fromUtf8("Allega foto"), p), "CheckBox1", 300, 29, 160, 20);
    CheckBox1->setToolTip(QString::fromUtf8(" Nel caso in cui la video sorveglianza sia attiva "));

    Caption(p, "Label13", "Nº massimo di notifiche", kLeft, 60);
    Edit7 = EveryMinutes(p, "Label14", "Una ogni", "Edit7", "Label15", kLeft, 76);

    Caption(p, "Label16", "Server di posta in uscita:", kLeft, 110);
    Edit8 = Field(p, "Edit8", kLeft, 126, 270);
    Note(p, "JusLab4",
         "La posta elettronica può essere inviata solo tramite il server di posta in uscita (o SMTP) del "
         "proprio provider di servizi Internet. Indicare l'indirizzo o il nome host del server.",
         156);

    Note(p, "JusLab3",
         "Per poter inviare una mail il computer deve essere connesso ad Internet. Fare clic sul pulsante "
         "\"Configura connessione\" per configurare la connessione da utilizzare per l'invio delle mail.",
         196);
    ConnessioneMailButton = Button(p, "ConnessioneMailButton", "Configura connessione", kRight - 130, 230, 130);
}

void TCfgAllarmi::BuildPageRegistrazione(QWidget* p) {
    Caption(p, "Label17", "Cartella di registrazione dei file audio/video (AVI)", kLeft, 10);
    Label18 = PathBox(p, "Label18", 26);
    CartellaVideoButton = Button(p, "CartellaVideoButton", " Cambia certella ", kRight - kButtonWidth, 52);

    CheckBox2 = Place(new QCheckBox(QString::fromUtf8("Registra video"), p), "CheckBox2", kLeft, 54, 120, 20);
    CheckBox2->setToolTip(QString::fromUtf8(" Nel caso in cui la video sorveglianza sia attiva "));
    CheckBox3 = Place(new QCheckBox(QString::fromUtf8("Registra audio"), p), "CheckBox3", 140, 54, 120, 20);
    CheckBox3->setToolTip(QString::fromUtf8(" Nel caso in cui l'audio sorveglianza sia attiva "));

    Caption(p, "Label19", "Durata della registrazione (in secondi):", kLeft, 91);
    Edit10 = Field(p, "Edit10", 230, 88, 50, 5);
    Caption(p, "Label20", "Nº massimo di registrazioni:", kLeft, 119);
    Caption(p, "Label21", "una ogni", 170, 119);
    Edit9 = Field(p, "Edit9", 230, 116, 50, 4);
    Caption(p, "Label22", "minuti", 286, 119);

    CheckBox4 = Place(new QCheckBox(QString::fromUtf8("usa compressione video, codec:"), p), "CheckBox4", kLeft,
                      151, 200, 20);
    ComboBox1 = Place(new QComboBox(p), "ComboBox1", 230, 150, kRight - 230, 22);
    CheckBox5 = Place(new QCheckBox(QString::fromUtf8("usa compressione audio, codec:"), p), "CheckBox5", kLeft,
                      179, 200, 20);
    ComboBox2 = Place(new QComboBox(p), "ComboBox2", 230, 178, kRight - 230, 22);
    ComboBox1->setMaxVisibleItems(12);
    ComboBox2->setMaxVisibleItems(12);

    Note(p, "JusLab5",
         "I nomi dei file di registrazione avranno il seguente formato: OCL-AAAAMMGGhhmmss.avi, dove "
         "AAAA=anno, MM=mese, GG=giorno, hh=ora, mm=minuti, ss=secondi, riferiti al momento di inizio "
         "registrazione.",
         214);
}

void TCfgAllarmi::BuildPageFoto(QWidget* p) {
    Caption(p, "Label23", "Cartella di registrazione delle foto", kLeft, 10);
    Label24 = PathBox(p, "Label24", 26);
    CartellaFotoButton = Button(p, "CartellaFotoButton", " Cambia certella ", kRight - kButtonWidth, 52);

    Caption(p, "Label25", "Formato", kLeft, 60);
    ComboBox3 = Place(new QComboBox(p), "ComboBox3", kLeft, 76, 140, 22);
    ComboBox3->addItem(QStringLiteral("Bitmap (.BMP)"));
    ComboBox3->addItem(QStringLiteral("JPeg (.JPG)"));

    Caption(p, "Label26", "Nº massimo di foto", 200, 60);
    Edit11 = EveryMinutes(p, "Label27", "Una ogni", "Edit11", "Label28", 200, 76);

    Note(p, "JusLab6",
         "I nomi delle foto avranno il seguente formato: OCL-AAAAMMGGhhmmss.bmp (o .jpg), dove AAAA=anno, "
         "MM=mese, GG=giorno, hh=ora, mm=minuti, ss=secondi, riferiti al momento dello scatto.",
         116);
}

void TCfgAllarmi::BuildPageFile(QWidget* p) {
    Caption(p, "Label29", "Nome del file da eseguire", kLeft, 16);
    Label30 = PathBox(p, "Label30", 32);
    EseguiFileButton = Button(p, "EseguiFileButton", " Esegui file ", kRight - 2 * kButtonWidth - 6, 60);
    CambiaFileButton = Button(p, "CambiaFileButton", " Cambia file ", kRight - kButtonWidth, 60);

    Caption(p, "Label31", "Nº massimo di esecuzioni", kLeft, 96);
    Edit12 = EveryMinutes(p, "Label32", "Una ogni", "Edit12", "Label33", kLeft, 112);
}

void TCfgAllarmi::BuildButtons() {
    const int top = height() - kButtonHeight - 8;
    const int width = 88;
    GuidaButton = Place(new QPushButton(QStringLiteral("Guida in linea"), this), "GuidaButton",
                        this->width() - 8 - width, top, width, kButtonHeight);
    AnnullaButton = Place(new QPushButton(QStringLiteral("Annulla"), this), "AnnullaButton",
                          GuidaButton->x() - 6 - width, top, width, kButtonHeight);
    ApplicaButton = Place(new QPushButton(QStringLiteral("Applica"), this), "ApplicaButton",
                          AnnullaButton->x() - 6 - width, top, width, kButtonHeight);
    ApplicaButton->setDefault(true);
    AnnullaButton->setAutoDefault(false);
    GuidaButton->setAutoDefault(false);
}
