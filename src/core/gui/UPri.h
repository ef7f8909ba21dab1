#pragma once
// The main window: it owns every timer and component of the run. Its
// handlers are short and hand the work to the rooms that do it.

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace capture {
struct CaptureComponents;
struct CaptureChoice;
class MonitoringController;
}
namespace alarms {
struct PhotoOutcome;
}
namespace notify {
class ThreadSMS;
class MailWorker;
}

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QAction;
class TMioIndicatore;
class TTimer;
class ClickableLabel;
class VideoWindowWidget;

class TPri : public QMainWindow {
    Q_OBJECT
public:
    explicit TPri(QWidget* parent = nullptr);
    ~TPri() override;

    void RefreshAlarmLabels();
    void Edit1Exit();
    void FormResize();

    // Device lists and the capture graph.
    void RefreshVideoDevices();
    void RefreshAudioDevices();
    void cb_DispositiviVideoSelect();
    void cb_DispositiviAudioSelect();
    void cb_RisoluzioniVideoSelect();
    void cb_RisoluzioniAudioSelect();
    void cb_PerifericheAudioSelect();

    // Monitoring: start, preview, stop.
    void Button1Click();
    void BitBtn1Click();
    void Button2Click();
    void BitBtn3Click();
    void Button5Click();
    void Button7Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void AvvioAutomatico_TimerTimer();

    // Timers of the detectors and the event queue.
    void AggCalibVideoTimer();
    void AggCalibAudioTimer();
    void VolTimerTimer();
    void ControllaEventi_TimerTimer();
    void GestisciEvento_TimerTimer();
    // Logs devices that stopped watching or came back (once a second while the graph runs).
    void ControllaDispositivi_TimerTimer();

    // Alarm actions and periodic notifications.
    void StartSoundAlarm();
    void FermaAllarmeSonoro_TimerTimer();
    alarms::PhotoOutcome TakePhoto();
    bool StartRecording();
    void Ferma_RegAviTimer();  // StopRecording
    void RunAlarmFile();
    void AttivaNotifiche_TimerTimer();  // QueueNotification
    std::string NomeFileAvi;  // the recording last started

    // Start timers of the notification workers.
    void InviaSMS_TimerTimer();
    void InviaMail_TimerTimer();

    capture::MonitoringController& Monitor() { return *monitor_; }
    capture::CaptureComponents& Capture();

    // Settings dialogs, opened by the menus and the alarm captions; page -1
    // leaves the alarm dialog on the page it opens with.
    void ShowAlarmDialog(int page);
    void ShowConnectionDialog();
    void ShowGeneralDialog();

    // Event list pop-up menu.
    void ApriconNotepad1Click();
    void Azzeraregistro1Click();
    void Azzeratuttoilregistro1Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildSurveillancePanel(QWidget* client);
    void BuildPreviewPanel(QWidget* client);
    void BuildAlarmsPanel(QWidget* client);
    void BuildLogPanel(QWidget* client);
    void BuildTimers();
    void ConnectSwitchRules();
    void FormCreate();
    void FormClose();
    void AttachEventLog();
    // "Data e ora" keeps its 120 pixels unless a whole date-time needs more.
    void FitDateColumn();
    void AddLogRow(int icon, const QString& dateTime, const QString& type, const QString& description);
    void ConnectCaptureControls();
    void ConnectAlarmTimers();
    void CreateNotificationWorkers();
    // What the device panel has chosen, for the monitoring controller.
    capture::CaptureChoice CurrentChoice() const;
    void LeaveStoppedState();
    void AttachDetectorHooks();
    void ShowFormatRefused(const char* text, std::function<void()> dismissed);
    // Runs `task` on the main thread later; dropped once the window is gone.
    void PostToMain(std::function<void()> task);

    // Rules of the switches: each runs whenever its box changes state.
    void cb_VideoSorveglianzaClick();
    void cb_AudioSorveglianzaClick();
    void CheckBox1Click();  // also CheckBox2
    void CheckBox3Click();
    void CheckBox8Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void CheckBox7Click();
    // Common ending of the SMS/e-mail/recording/photo rules.
    void TurnOnAlarmsWhenNothingOn(QCheckBox* box);

public:
    // Components, public so that the rooms that build on the window reach them.
    QWidget* Client = nullptr;
    QFrame* gb_Sorveglianza2 = nullptr;
    QFrame* gb_Sorveglianza = nullptr;
    QCheckBox* cb_VideoSorveglianza = nullptr;
    QComboBox* cb_DispositiviVideo = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QComboBox* cb_RisoluzioniVideo = nullptr;
    QPushButton* Button5 = nullptr;
    QCheckBox* cb_AudioSorveglianza = nullptr;
    QComboBox* cb_DispositiviAudio = nullptr;
    QComboBox* cb_PerifericheAudio = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QComboBox* cb_RisoluzioniAudio = nullptr;
    QPushButton* Button7 = nullptr;

    QFrame* gb_preview = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QLabel* Label3 = nullptr;
    VideoWindowWidget* VideoWindow = nullptr;
    TMioIndicatore* VolMeter = nullptr;
    QLabel* lb_pv = nullptr;
    QLabel* lb_pa = nullptr;
    TMioIndicatore* MioIndicatore1 = nullptr;
    TMioIndicatore* MioIndicatore2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;

    QFrame* gb_Allarmi = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label14 = nullptr;
    QGroupBox* gb_Allamri2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    ClickableLabel* Label8 = nullptr;
    ClickableLabel* Label13 = nullptr;
    ClickableLabel* Label9 = nullptr;
    ClickableLabel* Label11 = nullptr;
    ClickableLabel* Label12 = nullptr;
    ClickableLabel* Label10 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton4 = nullptr;

    QFrame* gb_Log = nullptr;
    QTreeWidget* lv_Log = nullptr;
    QMenu* PopupMenu1 = nullptr;

    TTimer* AvvioAutomatico_Timer = nullptr;
    TTimer* AttivaNotifiche_Timer = nullptr;
    TTimer* AggCalibVideo = nullptr;
    TTimer* AggCalibAudio = nullptr;
    TTimer* VolTimer = nullptr;
    TTimer* ControllaEventi_Timer = nullptr;
    TTimer* ControllaDispositivi_Timer = nullptr;
    TTimer* GestisciEvento_Timer = nullptr;
    TTimer* FermaAllarmeSonoro_Timer = nullptr;
    TTimer* Ferma_RegAvi = nullptr;
    TTimer* InviaSMS_Timer = nullptr;
    TTimer* InviaMail_Timer = nullptr;

private:
    bool closing_ = false;
    int label3Tag_ = 0;  // blink counter of the calibration notice
    std::unique_ptr<capture::MonitoringController> monitor_;

public:
    // The workers clear their timers' Tags: they go before the timers do.
    std::unique_ptr<notify::ThreadSMS> ThreadSMS;
    std::unique_ptr<notify::MailWorker> thrdMail;
};
