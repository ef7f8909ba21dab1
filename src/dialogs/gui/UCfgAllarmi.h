#pragma once
// "Configurazione allarmi e notifiche": the parameters of the six alarm
// actions, one page each. The checks and the storing live in
// dialogs/CfgAllarmi.h; this class shows the fields and runs the buttons.

#include "dialogs/CfgAllarmi.h"
#include "notify/SmsGateway.h"
#include "platform/Capture.h"

#include <QDialog>

#include <string>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

class TCfgAllarmi : public QDialog {
    Q_OBJECT
public:
    explicit TCfgAllarmi(QWidget* parent = nullptr);
    ~TCfgAllarmi() override;

    // Brings page 0..5 to the front and gives its focus control the focus.
    void ShowPage(int index);

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;  // Allarme sonoro
    QWidget* TabSheet2 = nullptr;  // Notifica tramite SMS
    QWidget* TabSheet3 = nullptr;  // Notifica tramite mail
    QWidget* TabSheet4 = nullptr;  // Registrazione Audio/Video
    QWidget* TabSheet5 = nullptr;  // Foto
    QWidget* TabSheet6 = nullptr;  // Esecuzione file

    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* ApriFileButton = nullptr;
    QPushButton* CambiaFileAudioButton = nullptr;

    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QPushButton* VerificaCreditoButton = nullptr;
    QPushButton* AcquistaSMSButton = nullptr;
    QPushButton* ConnessioneSMSButton = nullptr;

    QLineEdit* Edit6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit13 = nullptr;     // Porta
    QComboBox* ComboBox4 = nullptr;  // Sicurezza
    QLineEdit* Edit14 = nullptr;     // Nome utente
    QLineEdit* Edit15 = nullptr;     // Password
    QPushButton* Button_MailDiProva = nullptr;
    QPushButton* ConnessioneMailButton = nullptr;

    QLabel* Label18 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QLineEdit* Edit10 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QPushButton* CartellaVideoButton = nullptr;

    QLabel* Label24 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QPushButton* CartellaFotoButton = nullptr;

    QLabel* Label30 = nullptr;
    QLineEdit* Edit12 = nullptr;
    QPushButton* EseguiFileButton = nullptr;
    QPushButton* CambiaFileButton = nullptr;

    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* HelpBtn = nullptr;

public Q_SLOTS:
    void OkClick();
    void CancelClick();
    void HelpClick();
    void ApriFileClick();
    void CambiaFileAudioClick();
    void VerificaCreditoClick();
    void AcquistaSMSClick();
    void ConfiguraConnessioneClick();
    void MailDiProvaClick();
    void CartellaVideoClick();
    void CartellaFotoClick();
    void EseguiFileClick();
    void CambiaFileClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // UCfgAllarmiPages.cpp
    void BuildPageSonoro(QWidget* page);
    void BuildPageSMS(QWidget* page);
    void BuildPageMail(QWidget* page);
    void BuildPageRegistrazione(QWidget* page);
    void BuildPageFoto(QWidget* page);
    void BuildPageFile(QWidget* page);
    void BuildButtons();

    void LoadFields();
    dialogs::CfgAllarmiFields ReadFields() const;
    void WriteDigitFields(const dialogs::CfgAllarmiFields& fields);
    QWidget* FocusControl(int index) const;
    void PageShown(int index);
    void RegistraVideoClick();
    void RegistraAudioClick();
    void UpdateCodecControls();
    void UsaCodecClick(QCheckBox* box, QComboBox* list);
    void SicurezzaChosen(int index);
    void MailDiProvaFinished(bool ok, const std::string& error);
    QString ChooseFile(const QString& startFolder, const QStringList& filters);
    void ChooseFolder(QLabel* label);

    int contentWidth_ = 0;  // of the notes and the name boxes
    // Kept until the dialog closes, as the lists were filled from them.
    std::vector<platform::DeviceInfo> videoCompressors_;
    std::vector<platform::DeviceInfo> audioCompressors_;
    notify::HttpClient http1;
    // The test message's exchange; its result comes back as a queued call.
    std::thread mailDiProva_;
    int mailDiProvaCancel_[2] = {-1, -1};  // written by the destructor to cut it off
};
