#include "dialogs/gui/UCfgAllarmi.h"

#include "core/Globali.h"
#include "core/Help.h"
#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/UDlgSelezionaDir.h"
#include "dialogs/gui/UImpoConne.h"
#include "notify/MailWorker.h"
#include "notify/Ras.h"
#include "platform/MessageBox.h"
#include "platform/PlaySound.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

using dialogs::Q;
using dialogs::S;

constexpr int kHeight = 340;
constexpr int kNoteWidth = 533;
constexpr int kPageMargin = 12;  // left and right of the notes
constexpr int kPageFrame = 2;    // the page control's border
constexpr int kPageBottom = 11;  // below a page's lowest control

const char* const kPageCaptions[] = {
    "Allarme sonoro ",           "Notifica tramite SMS ", "Notifica tramite mail ",
    "Registrazione Audio/Video ", "Foto ",                 "Esecuzione file ",
};
const char* const kHelpTopics[] = {
    "allarme_sonoro.htm", "allarme_sms.htm",  "allarme_mail.htm",
    "allarme_video.htm",  "allarme_foto.htm", "allarme_file.htm",
};
constexpr int kPageCount = 6;

void SelectText(QComboBox* list, const std::string& text) {
    const int index = list->findText(Q(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) list->setCurrentIndex(index);
}

void FillCompressors(QComboBox* list, const std::vector<platform::DeviceInfo>& devices) {
    for (const auto& device : devices) list->addItem(Q(device.FriendlyName));
    list->setCurrentIndex(-1);  // a filled list selects its first item by itself
}

std::string Selected(const QComboBox* list) { return list->currentIndex() >= 0 ? S(list->currentText()) : ""; }

// Everything before the last "/"; "" when there is none.
QString FolderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? QString() : Q(file.substr(0, slash + 1));
}

}  // namespace

TCfgAllarmi::TCfgAllarmi(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CfgAllarmi"));
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    QWidget** sheets[] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheet5, &TabSheet6};
    for (int i = 0; i < kPageCount; ++i) {
        auto* sheet = new QWidget;
        sheet->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
        *sheets[i] = sheet;
        PageControl1->addTab(sheet, QString::fromUtf8(kPageCaptions[i]));
    }
    // The notes are 533 pixels wide; a system font whose page captions need
    // more room widens the dialog, and the notes with it, rather than hide
    // captions behind scroll arrows.
    PageControl1->setUsesScrollButtons(false);
    const int pagesWidth = std::max(kNoteWidth + 2 * kPageMargin, PageControl1->tabBar()->sizeHint().width() + 8);
    const int width = pagesWidth + 2 * kPageFrame + 16;
    contentWidth_ = pagesWidth - 2 * kPageMargin;

    BuildPageSonoro(TabSheet1);
    BuildPageSMS(TabSheet2);
    BuildPageMail(TabSheet3);
    BuildPageRegistrazione(TabSheet4);
    BuildPageFoto(TabSheet5);
    BuildPageFile(TabSheet6);

    // As tall as the fullest page needs, and no less than 340.
    int pageHeight = 0;
    for (QWidget* sheet : {TabSheet1, TabSheet2, TabSheet3, TabSheet4, TabSheet5, TabSheet6})
        for (const QWidget* w : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            pageHeight = std::max(pageHeight, w->y() + w->height() + kPageBottom);
    const int pagesHeight = pageHeight + PageControl1->tabBar()->sizeHint().height() + 2 * kPageFrame;
    const int height = std::max(kHeight, pagesHeight + 16 + 25 + 8);
    dialogs::MakeFixedDialog(this, QStringLiteral("Configurazione allarmi e notifiche"), width, height);
    PageControl1->setGeometry(8, 8, width - 16, height - 16 - 25 - 8);
    BuildButtons();

    videoCompressors_ = platform::EnumerateDevices(platform::DeviceCategory::VideoCompressor);
    audioCompressors_ = platform::EnumerateDevices(platform::DeviceCategory::AudioCompressor);
    FillCompressors(ComboBox1, videoCompressors_);
    FillCompressors(ComboBox2, audioCompressors_);

    connect(CheckBox2, &QCheckBox::toggled, this, &TCfgAllarmi::RegistraVideoClick);
    connect(CheckBox3, &QCheckBox::toggled, this, &TCfgAllarmi::RegistraAudioClick);
    connect(CheckBox4, &QCheckBox::toggled, this, [this] { UsaCodecClick(CheckBox4, ComboBox1); });
    connect(CheckBox5, &QCheckBox::toggled, this, [this] { UsaCodecClick(CheckBox5, ComboBox2); });
    LoadFields();

    connect(PageControl1, &QTabWidget::currentChanged, this, &TCfgAllarmi::PageShown);
    connect(OKBtn, &QPushButton::clicked, this, &TCfgAllarmi::OkClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TCfgAllarmi::CancelClick);
    connect(HelpBtn, &QPushButton::clicked, this, &TCfgAllarmi::HelpClick);
    connect(ApriFileButton, &QPushButton::clicked, this, &TCfgAllarmi::ApriFileClick);
    connect(CambiaFileAudioButton, &QPushButton::clicked, this, &TCfgAllarmi::CambiaFileAudioClick);
    connect(VerificaCreditoButton, &QPushButton::clicked, this, &TCfgAllarmi::VerificaCreditoClick);
    connect(AcquistaSMSButton, &QPushButton::clicked, this, &TCfgAllarmi::AcquistaSMSClick);
    connect(ConnessioneSMSButton, &QPushButton::clicked, this, &TCfgAllarmi::ConfiguraConnessioneClick);
    connect(ConnessioneMailButton, &QPushButton::clicked, this, &TCfgAllarmi::ConfiguraConnessioneClick);
    connect(ComboBox4, &QComboBox::activated, this, &TCfgAllarmi::SicurezzaChosen);
    connect(Button_MailDiProva, &QPushButton::clicked, this, &TCfgAllarmi::MailDiProvaClick);
    connect(CartellaVideoButton, &QPushButton::clicked, this, &TCfgAllarmi::CartellaVideoClick);
    connect(CartellaFotoButton, &QPushButton::clicked, this, &TCfgAllarmi::CartellaFotoClick);
    connect(EseguiFileButton, &QPushButton::clicked, this, &TCfgAllarmi::EseguiFileClick);
    connect(CambiaFileButton, &QPushButton::clicked, this, &TCfgAllarmi::CambiaFileClick);

    ShowPage(0);
}

// A test message still under way is cut off at its next wait; its result,
// posted to this object, goes with it.
TCfgAllarmi::~TCfgAllarmi() {
    if (mailDiProva_.joinable()) {
        if (mailDiProvaCancel_[1] >= 0) {
            const char byte = 1;
            (void)!::write(mailDiProvaCancel_[1], &byte, 1);
        }
        mailDiProva_.join();
    }
    for (int fd : mailDiProvaCancel_)
        if (fd >= 0) ::close(fd);
}

void TCfgAllarmi::LoadFields() {
    const dialogs::CfgAllarmiFields f = dialogs::FieldsFromSettings(Settings);
    Label2->setText(Q(f.Label2));
    dialogs::ShowStored(Edit1, Q(f.Edit1));
    dialogs::ShowStored(Edit2, Q(f.Edit2));
    dialogs::ShowStored(Edit5, Q(f.Edit5));
    dialogs::ShowStored(Edit3, Q(f.Edit3));
    dialogs::ShowStored(Edit4, Q(f.Edit4));
    dialogs::ShowStored(Edit6, Q(f.Edit6));
    CheckBox1->setChecked(f.CheckBox1);
    dialogs::ShowStored(Edit7, Q(f.Edit7));
    dialogs::ShowStored(Edit8, Q(f.Edit8));
    dialogs::ShowStored(Edit13, Q(f.Edit13));
    ComboBox4->setCurrentIndex(f.ComboBox4);
    dialogs::ShowStored(Edit14, Q(f.Edit14));
    dialogs::ShowStored(Edit15, Q(f.Edit15));
    Label18->setText(Q(f.Label18));
    SelectText(ComboBox1, f.ComboBox1);
    SelectText(ComboBox2, f.ComboBox2);
    CheckBox2->setChecked(f.CheckBox2);
    CheckBox3->setChecked(f.CheckBox3);
    dialogs::ShowStored(Edit10, Q(f.Edit10));
    dialogs::ShowStored(Edit9, Q(f.Edit9));
    CheckBox4->setChecked(f.CheckBox4);
    CheckBox5->setChecked(f.CheckBox5);
    UpdateCodecControls();
    Label24->setText(Q(f.Label24));
    ComboBox3->setCurrentIndex(f.ComboBox3);
    dialogs::ShowStored(Edit11, Q(f.Edit11));
    Label30->setText(Q(f.Label30));
    dialogs::ShowStored(Edit12, Q(f.Edit12));
}

dialogs::CfgAllarmiFields TCfgAllarmi::ReadFields() const {
    dialogs::CfgAllarmiFields f;
    f.Label2 = S(Label2->text());
    f.Edit1 = S(Edit1->text());
    f.Edit2 = S(Edit2->text());
    f.Edit5 = S(Edit5->text());
    f.Edit3 = S(Edit3->text());
    f.Edit4 = S(Edit4->text());
    f.Edit6 = S(Edit6->text());
    f.CheckBox1 = CheckBox1->isChecked();
    f.Edit7 = S(Edit7->text());
    f.Edit8 = S(Edit8->text());
    f.Edit13 = S(Edit13->text());
    f.ComboBox4 = ComboBox4->currentIndex();
    f.Edit14 = S(Edit14->text());
    f.Edit15 = S(Edit15->text());
    f.Label18 = S(Label18->text());
    f.CheckBox2 = CheckBox2->isChecked();
    f.CheckBox3 = CheckBox3->isChecked();
    f.Edit10 = S(Edit10->text());
    f.Edit9 = S(Edit9->text());
    f.CheckBox4 = CheckBox4->isChecked();
    f.CheckBox5 = CheckBox5->isChecked();
    f.ComboBox1 = Selected(ComboBox1);
    f.ComboBox2 = Selected(ComboBox2);
    f.Label24 = S(Label24->text());
    f.ComboBox3 = ComboBox3->currentIndex();
    f.Edit11 = S(Edit11->text());
    f.Label30 = S(Label30->text());
    f.Edit12 = S(Edit12->text());
    return f;
}

// The walk fills empty digit fields with their defaults; the dialog shows them.
void TCfgAllarmi::WriteDigitFields(const dialogs::CfgAllarmiFields& f) {
    const std::pair<QLineEdit*, const std::string*> fields[] = {
        {Edit1, &f.Edit1},   {Edit5, &f.Edit5}, {Edit7, &f.Edit7},   {Edit13, &f.Edit13},
        {Edit10, &f.Edit10}, {Edit9, &f.Edit9}, {Edit11, &f.Edit11}, {Edit12, &f.Edit12},
    };
    for (const auto& [edit, text] : fields)
        if (edit->text() != Q(*text)) edit->setText(Q(*text));
}

QWidget* TCfgAllarmi::FocusControl(int index) const {
    QWidget* const controls[] = {Edit1, Edit2, Edit6, Edit10, ComboBox3, Edit12};
    return index >= 0 && index < kPageCount ? controls[index] : nullptr;
}

void TCfgAllarmi::ShowPage(int index) {
    if (index < 0 || index >= kPageCount) return;
    if (PageControl1->currentIndex() != index)
        PageControl1->setCurrentIndex(index);  // PageShown gives the focus
    else
        PageShown(index);
}

// The codec lists are filled once, as the dialog opens, and their stored
// names selected then (LoadFields); bringing the page forward again, as a
// failed "Applica" does, keeps the user's unsaved choice.
void TCfgAllarmi::PageShown(int index) {
    if (QWidget* control = FocusControl(index)) control->setFocus(Qt::OtherFocusReason);
}

void TCfgAllarmi::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A page chosen before the window existed gets its focus now.
    if (QWidget* control = FocusControl(PageControl1->currentIndex())) control->setFocus(Qt::OtherFocusReason);
}

void TCfgAllarmi::RegistraVideoClick() {
    if (!CheckBox2->isChecked() && !CheckBox3->isChecked()) CheckBox3->setChecked(true);
    UpdateCodecControls();
}

void TCfgAllarmi::RegistraAudioClick() {
    if (!CheckBox3->isChecked() && !CheckBox2->isChecked()) CheckBox2->setChecked(true);
    UpdateCodecControls();
}

void TCfgAllarmi::UpdateCodecControls() {
    CheckBox4->setEnabled(CheckBox2->isChecked());
    dialogs::SetFieldEnabled(ComboBox1, CheckBox2->isChecked());
    CheckBox5->setEnabled(CheckBox3->isChecked());
    dialogs::SetFieldEnabled(ComboBox2, CheckBox3->isChecked());
}

void TCfgAllarmi::UsaCodecClick(QCheckBox* box, QComboBox* list) {
    if (box->isChecked() && list->count() > 0 && list->currentIndex() < 0) list->setCurrentIndex(0);
}

// Only the standard port follows the security chosen; one the user typed stays.
void TCfgAllarmi::SicurezzaChosen(int index) {
    if (Edit13->text() != QLatin1String("25")) return;
    if (index == MailStartTls)
        Edit13->setText(QStringLiteral("587"));
    else if (index == MailTls)
        Edit13->setText(QStringLiteral("465"));
}

void TCfgAllarmi::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        CancelBtn->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TCfgAllarmi::OkClick() {
    dialogs::CfgAllarmiFields fields = ReadFields();
    const std::optional<dialogs::CfgAllarmiFailure> failure = dialogs::ApplicaCampi(fields, Settings);
    WriteDigitFields(fields);
    if (failure) {
        ShowPage(failure->page);
        platform::MessageBox(failure->message, dialogs::kTitoloAttenzione, platform::MB_OK | platform::MB_ICONWARNING);
        if (auto* field = dialogs::Find<QWidget>(this, failure->field)) field->setFocus(Qt::OtherFocusReason);
        return;
    }
    SaveSettings();
    accept();
}

void TCfgAllarmi::CancelClick() { reject(); }

void TCfgAllarmi::HelpClick() {
    const int index = PageControl1->currentIndex();
    if (index >= 0 && index < kPageCount) ShowHelpTopic(kHelpTopics[index]);
}

void TCfgAllarmi::ApriFileClick() {
    const std::string file = S(Label2->text());
    if (!file.empty()) platform::PlaySound(file.c_str(), platform::SND_ASYNC | platform::SND_FILENAME | platform::SND_NODEFAULT);
}

QString TCfgAllarmi::ChooseFile(const QString& startFolder, const QStringList& filters) {
    QFileDialog dialog(this, QString(), startFolder);
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
}

// Qt's dialog matches "*.wav" whatever the case; "*" rather than "*.*",
// which here would hide every file without a dot in its name.
void TCfgAllarmi::CambiaFileAudioClick() {
    const QString file = ChooseFile(FolderOf(Settings.FileAudio),
                                    {QStringLiteral("File audio (*.wav)"), QStringLiteral("Tutti i file (*)")});
    if (!file.isEmpty()) Label2->setText(file);
}

void TCfgAllarmi::CambiaFileClick() {
    const QString file = ChooseFile(FolderOf(Settings.File_Nome), {QStringLiteral("Tutti i file (*)")});
    if (!file.isEmpty()) Label30->setText(file);
}

void TCfgAllarmi::EseguiFileClick() {
    const std::string file = S(Label30->text());
    if (!file.empty()) platform::ShellOpen(file);
}

void TCfgAllarmi::ConfiguraConnessioneClick() {
    TImpoConne dlg(this);
    dlg.exec();
}

void TCfgAllarmi::ChooseFolder(QLabel* label) {
    TDlgSelezionaDir dlg(this);
    dlg.Cartella = S(label->text());
    if (dlg.exec() == QDialog::Accepted) label->setText(Q(dlg.Cartella));
}

void TCfgAllarmi::CartellaVideoClick() { ChooseFolder(Label18); }
void TCfgAllarmi::CartellaFotoClick() { ChooseFolder(Label24); }

void TCfgAllarmi::AcquistaSMSClick() {
    notify::AcquistaSMS(notify::CampiGateway(S(Edit2->text()), S(Edit3->text()), S(Edit4->text())));
}

// The whole exchange runs on the main thread and blocks the dialog, as the
// button's own greying shows; the handle lives for this click only.
void TCfgAllarmi::VerificaCreditoClick() {
    VerificaCreditoButton->setEnabled(false);
    repaint();
    notify::Pause(250);

    uintptr_t handle = 0;
    if (Settings.Conn_AttivaConnessione) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        handle = notify::ComponiConnessione(Settings.Conn_NomeConnessione, Settings.Conn_Username,
                                            Settings.Conn_Password);
        QApplication::restoreOverrideCursor();
        notify::Pause(100);
    }

    const std::string answer = notify::ChiediCredito(
        http1, Settings, notify::CampiGateway(S(Edit2->text()), S(Edit3->text()), S(Edit4->text())));

    VerificaCreditoButton->setEnabled(true);
    repaint();

    if (Settings.Conn_AttivaConnessione && Settings.Conn_Disconnetti) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        notify::ChiudiConnessione(handle);
        QApplication::restoreOverrideCursor();
        notify::Pause(100);
    }

    if (const auto box = notify::EsitoVerificaCredito(answer)) platform::MessageBox(box->text, box->caption, box->flags);
    notify::Pause(750);
}

// The fields as they are now, not Settings: trying them before "Applica" is
// the point. The exchange runs on its own thread, the dialog stays live.
void TCfgAllarmi::MailDiProvaClick() {
    dialogs::CfgAllarmiFields fields = ReadFields();
    TSettings prova = Settings;
    const std::optional<dialogs::CfgAllarmiFailure> failure = dialogs::CampiMailDiProva(fields, prova);
    if (Edit13->text() != Q(fields.Edit13)) Edit13->setText(Q(fields.Edit13));
    if (failure) {
        platform::MessageBox(failure->message, dialogs::kTitoloAttenzione, platform::MB_OK | platform::MB_ICONWARNING);
        Edit13->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (mailDiProva_.joinable()) mailDiProva_.join();
    if (mailDiProvaCancel_[0] < 0 && ::pipe2(mailDiProvaCancel_, O_CLOEXEC | O_NONBLOCK) != 0)
        mailDiProvaCancel_[0] = mailDiProvaCancel_[1] = -1;

    Button_MailDiProva->setEnabled(false);
    mailDiProva_ = std::thread([this, prova = std::move(prova), cancelFd = mailDiProvaCancel_[0]] {
        const notify::SmtpOutcome outcome = notify::InviaMailDiProva(prova, {}, cancelFd);
        // Posted, never run here: the destructor joins this thread before
        // the object goes, and a posted call still pending goes with it.
        QMetaObject::invokeMethod(
            this, [this, outcome] { MailDiProvaFinished(outcome.ok, outcome.error); }, Qt::QueuedConnection);
    });
}

void TCfgAllarmi::MailDiProvaFinished(bool ok, const std::string& error) {
    if (mailDiProva_.joinable()) mailDiProva_.join();
    Button_MailDiProva->setEnabled(true);
    if (ok)
        platform::MessageBox("E-mail di prova inviata.", "Informazione", platform::MB_OK | platform::MB_ICONINFORMATION);
    else
        platform::MessageBox("Impossibile inviare l'e-mail di prova.\n" + error, dialogs::kTitoloAttenzione,
                             platform::MB_OK | platform::MB_ICONWARNING);
}
