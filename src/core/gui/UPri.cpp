#include "core/gui/UPri.h"
#include "core/TimerInterval.h"
#include "controls/gui/Placement.h"

#include "alarms/EventLog.h"
#include "alarms/Notifiche.h"
#include "controls/gui/ClickableLabel.h"
#include "controls/gui/FittingComboBox.h"
#include "controls/gui/FittingText.h"
#include "controls/gui/MioIndicatore.h"
#include "core/AlarmLabels.h"
#include "core/Globali.h"
#include "core/Help.h"
#include "capture/MonitoringController.h"
#include "core/gui/TTimer.h"
#include "notify/MailWorker.h"
#include "notify/SmsWorker.h"
#include "platform/gui/VideoWindowWidget.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

const QColor kWindowColour(16, 64, 128);
const QColor kPanelColour(236, 232, 216);
// The two precision columns share gb_preview's width below the level bar.
constexpr int kPrecisionTop = 322;
constexpr int kPrecisionColumn = 186;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QPixmap ProgramPicture(const char* name) {
    return QPixmap(Q(ProgramDir + "Immagini/" + name + ".png"));
}

// The client area: the fixed background picture at the top-left corner,
// the window colour beyond it.
class BackgroundClient : public QWidget {
public:
    explicit BackgroundClient(QWidget* parent) : QWidget(parent), picture_(ProgramPicture("Sfondo")) {
        setObjectName("Client");
    }
    std::function<void()> onResize;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), kWindowColour);
        if (!picture_.isNull()) p.drawPixmap(0, 0, picture_);
    }
    void resizeEvent(QResizeEvent*) override {
        if (onResize) onResize();
    }

private:
    QPixmap picture_;
};

QFrame* RaisedPanel(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, kPanelColour);
    panel->setPalette(pal);
    panel->setGeometry(left, top, width, height);
    return panel;
}

QLabel* Caption(QWidget* parent, const char* name, const char* text, int left, int top, int width) {
    return Place(new QLabel(QString::fromUtf8(text), parent), name, left, top, width, 14);
}

QComboBox* DropDownList(QWidget* parent, const char* name, const char* hint, int left, int top, int width) {
    auto* list = Place(new FittingComboBox(parent), name, left, top, width, 22);
    list->setMaxVisibleItems(12);
    list->SetHint(QString::fromUtf8(hint));
    return list;
}

}  // namespace

TPri::TPri(QWidget* parent)
    : QMainWindow(parent), monitor_(std::make_unique<capture::MonitoringController>(Settings)) {
    setObjectName("TPri");
    setWindowTitle("Oculara");
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    auto* client = new BackgroundClient(this);
    Client = client;
    setCentralWidget(client);

    BuildMenus();
    BuildSurveillancePanel(client);
    BuildPreviewPanel(client);
    BuildAlarmsPanel(client);
    BuildLogPanel(client);
    BuildTimers();
    ConnectSwitchRules();
    ConnectCaptureControls();
    ConnectAlarmTimers();
    CreateNotificationWorkers();

    // 790 x 524 client area, centred; the creation handler maximises.
    resize(790, 524 + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - rect().center());
    }
    client->onResize = [this] { FormResize(); };
    FormCreate();
}

TPri::~TPri() {
    // First, so that what the workers write while they end, their last
    // lines included, goes straight to the file instead of to this window.
    alarms::TheEventLog().Detach();
    ThreadSMS.reset();
    thrdMail.reset();
}

capture::CaptureComponents& TPri::Capture() { return monitor_->Components(); }

void TPri::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto item = [this](QMenu* menu, const char* name, const char* text, auto handler) {
        QAction* a = menu->addAction(QString::fromUtf8(text));
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };

    QMenu* file = bar->addMenu("File ");
    file->setObjectName("File1");
    item(file, "Avvia1", "Avvia", [this] {
        if (Button1->isEnabled()) Button1Click();
    });
    item(file, "Anteprima1", "Anteprima", [this] {
        if (BitBtn1->isEnabled()) BitBtn1->click();
    });
    item(file, "Ferma1", "Ferma", [this] {
        if (Button2->isEnabled()) Button2->click();
    });
    file->addSeparator();
    item(file, "Esci1", "&Esci", [this] { close(); });

    QMenu* settings = bar->addMenu("Impostazioni ");
    settings->setObjectName("Impostazioni1");
    item(settings, "AllarmiNotifiche1", "Allarmi/Notifiche", [this] { ShowAlarmDialog(-1); });
    item(settings, "ConnessioneadInternet1", "Connessione ad Internet", [this] { ShowConnectionDialog(); });
    item(settings, "MonitoraggioAudioVideo1", "Monitoraggio Audio/Video", [this] {
        if (BitBtn3->isEnabled()) BitBtn3->click();
    });
    item(settings, "Impostazionigenerali1", "Impostazioni generali", [this] { ShowGeneralDialog(); });

    QMenu* help = bar->addMenu("Guida in linea");
    help->setObjectName("Guidainlinea1");
    QAction* contents = item(help, "Sommario1", "Sommario", [] { ShowHelpTopic("introduzione.htm"); });
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    contents->setShortcutContext(Qt::WindowShortcut);
}

void TPri::BuildSurveillancePanel(QWidget* client) {
    gb_Sorveglianza2 = RaisedPanel(client, "gb_Sorveglianza2", 8, 8, 774, 104);
    gb_Sorveglianza = Place(new QFrame(gb_Sorveglianza2), "gb_Sorveglianza", 8, 6, 758, 92);
    QWidget* p = gb_Sorveglianza;

    // The format lists get the room for a whole "PCM 44100 Hertz, 16 Bits,
    // Stereo"; the device lists and the buttons give it up.
    cb_VideoSorveglianza =
        Place(new QCheckBox("Attiva la videosorveglianza:", p), "cb_VideoSorveglianza", 4, 22, 180, 20);
    Caption(p, "lb_DispositivoVideo", "Dispositivo video", 190, 4, 216);
    cb_DispositiviVideo = DropDownList(p, "cb_DispositiviVideo", "Dispositivo video", 190, 20, 216);
    SpeedButton1 = SmallButton(p, "SpeedButton1", " Aggiorna elenco ", QStyle::SP_BrowserReload, 410, 20);
    Caption(p, "lb_RisoluzioneVideo", "Risoluzione video", 436, 4, 220);
    cb_RisoluzioniVideo = DropDownList(p, "cb_RisoluzioniVideo", "Risoluzione video", 436, 20, 220);
    Button5 = Place(new QPushButton("Impostazioni", p), "Button5", 664, 19, 88, 24);
    Button5->setEnabled(false);

    cb_AudioSorveglianza =
        Place(new QCheckBox("Attiva l'audiosorveglianza:", p), "cb_AudioSorveglianza", 4, 66, 180, 20);
    Caption(p, "lb_DispositivoAudio", "Dispositivo audio", 190, 48, 132);
    cb_DispositiviAudio = DropDownList(p, "cb_DispositiviAudio", "Dispositivo audio", 190, 64, 132);
    Caption(p, "lb_PerifericaAudio", "Periferica", 326, 48, 80);
    cb_PerifericheAudio = DropDownList(p, "cb_PerifericheAudio", "Periferica", 326, 64, 80);
    SpeedButton2 = SmallButton(p, "SpeedButton2", " Aggiorna elenco ", QStyle::SP_BrowserReload, 410, 64);
    Caption(p, "lb_RisoluzioneAudio", "Risoluzione audio", 436, 48, 220);
    cb_RisoluzioniAudio = DropDownList(p, "cb_RisoluzioniAudio", "Risoluzione audio", 436, 64, 220);
    Button7 = Place(new QPushButton("Impostazioni", p), "Button7", 664, 63, 88, 24);
    Button7->setEnabled(false);

    cb_VideoSorveglianza->setChecked(true);
    cb_AudioSorveglianza->setChecked(true);

}

void TPri::BuildPreviewPanel(QWidget* client) {
    gb_preview = RaisedPanel(client, "gb_preview", 8, 120, 397, 366);
    QWidget* p = gb_preview;

    Button1 = Place(new QPushButton("Avvia", p), "Button1", 8, 6, 88, 24);
    BitBtn1 = Place(new QPushButton("Anteprima", p), "BitBtn1", 102, 6, 92, 24);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    Button2 = Place(new QPushButton("Ferma", p), "Button2", 200, 6, 88, 24);
    Button2->setEnabled(false);
    BitBtn3 = Place(new QPushButton("Impostazioni", p), "BitBtn3", 294, 6, 95, 24);
    BitBtn3->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));

    VideoWindow = Place(new VideoWindowWidget(p), "VideoWindow", 38, 56, 320, 240);
    VideoWindow->setToolTip(" Anteprima video ");

    Label3 = Place(new QLabel("Calibrazione in corso, evitare movimenti ...", p), "Label3", 38, 36, 320, 16);
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    Label3->setAlignment(Qt::AlignCenter);
    QPalette red = Label3->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label3->setPalette(red);
    Label3->hide();

    VolMeter = new TMioIndicatore(p);
    VolMeter->setObjectName("VolMeter");
    VolMeter->move(38, 300);
    VolMeter->SetMax(65535);
    VolMeter->setToolTip(" Livello audio ");
    VolMeter->SetImmagineDiSfondo(ProgramPicture("VolMeter_Sfondo"));
    VolMeter->SetImmaginePrimoPiano(ProgramPicture("VolMeter_PrimoPiano"));
    VolMeter->SetImmagineDiSfondoDis(ProgramPicture("VolMeter_SfondoDis"));
    VolMeter->SetImmaginePrimoPianoDis(ProgramPicture("VolMeter_PrimoPianoDis"));

    // One column per medium under the level bar: the text above its
    // precision bar, the progress bar beside that.
    auto precision = [&](const char* labelName, const char* text, const char* barName, const char* progressName,
                         int left, QLabel*& label, TMioIndicatore*& bar, QProgressBar*& progress) {
        label = Place(new QLabel(QString::fromUtf8(text), p), labelName, left, kPrecisionTop, kPrecisionColumn, 14);
        label->setEnabled(false);  // greyed until its detector calibrates
        // Room for the longest text the label takes, "... 100 %".
        label->setFont(FontFitting(label->font(), label->text().replace("0 %", "100 %"), kPrecisionColumn));
        bar = new TMioIndicatore(p);
        bar->setObjectName(barName);
        bar->move(left, kPrecisionTop + 16);
        bar->SetImmagineDiSfondo(ProgramPicture("Precisione_Sfondo"));
        bar->SetImmaginePrimoPiano(ProgramPicture("Precisione_PrimoPiano"));
        bar->SetImmagineDiSfondoDis(ProgramPicture("Precisione_SfondoDis"));
        bar->SetImmaginePrimoPianoDis(ProgramPicture("Precisione_PrimoPianoDis"));
        bar->setEnabled(false);
        const int barRight = left + bar->width() + 4;
        progress = Place(new QProgressBar(p), progressName, barRight, bar->y() + 2,
                         std::max(0, left + kPrecisionColumn - barRight), 14);
        progress->setTextVisible(false);
        progress->hide();
    };
    precision("lb_pv", "Precisione del dispositivo video: 0 %", "MioIndicatore1", "ProgressBar1", 8, lb_pv,
              MioIndicatore1, ProgressBar1);
    precision("lb_pa", "Precisione del dispositivo audio: 0 %", "MioIndicatore2", "ProgressBar2",
              397 - 8 - kPrecisionColumn, lb_pa, MioIndicatore2, ProgressBar2);

    connect(BitBtn3, &QPushButton::clicked, this, &TPri::BitBtn3Click);
}

void TPri::BuildAlarmsPanel(QWidget* client) {
    gb_Allarmi = RaisedPanel(client, "gb_Allarmi", 413, 120, 369, 244);
    QWidget* p = gb_Allarmi;

    CheckBox1 = Place(new QCheckBox("Attiva allarmi o notifiche su movimenti o rumori sospetti", p), "CheckBox1",
                      8, 6, 355, 20);
    CheckBox2 = Place(new QCheckBox("Attiva notifiche ogni", p), "CheckBox2", 8, 30, 136, 20);
    Edit1 = Place(new QLineEdit("2", p), "Edit1", 146, 30, 34, 20);
    Edit1->setMaxLength(3);
    Label6 = Place(new QLabel("ore e", p), "Label6", 184, 33, 30, 14);
    Edit2 = Place(new QLineEdit("0", p), "Edit2", 216, 30, 26, 20);
    Edit2->setMaxLength(2);
    Label14 = Place(new QLabel("minuti", p), "Label14", 246, 33, 40, 14);
    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);

    gb_Allamri2 = Place(new QGroupBox(" Allarmi/Notifiche ", p), "gb_Allamri2", 8, 56, 353, 180);
    QWidget* g = gb_Allamri2;
    struct Row {
        QCheckBox*& box;
        const char* boxName;
        ClickableLabel*& label;
        const char* labelName;
    };
    const Row rows[] = {
        {CheckBox3, "CheckBox3", Label8, "Label8"},   {CheckBox8, "CheckBox8", Label13, "Label13"},
        {CheckBox4, "CheckBox4", Label9, "Label9"},   {CheckBox5, "CheckBox5", Label11, "Label11"},
        {CheckBox6, "CheckBox6", Label12, "Label12"}, {CheckBox7, "CheckBox7", Label10, "Label10"},
    };
    int page = 0;
    for (const Row& r : rows) {
        const int top = 22 + page * 25;
        r.box = Place(new QCheckBox(g), r.boxName, 10, top, 18, 18);
        r.box->setToolTip(" Fai clic per selezionare ");
        // The recording and photo rows end before their folder buttons.
        const bool folderRow = page == 3 || page == 4;
        r.label = Place(new ClickableLabel(g), r.labelName, 30, top + 2, folderRow ? 290 : g->width() - 38, 14);
        r.label->setCursor(Qt::PointingHandCursor);
        connect(r.label, &ClickableLabel::clicked, this, [this, page] { ShowAlarmDialog(page); });
        ++page;
    }
    SpeedButton3 = SmallButton(g, "SpeedButton3", " Apri cartella ", QStyle::SP_DirOpenIcon, 324, 22 + 3 * 25 - 2);
    SpeedButton4 = SmallButton(g, "SpeedButton4", " Apri cartella ", QStyle::SP_DirOpenIcon, 324, 22 + 4 * 25 - 2);
    connect(SpeedButton3, &QToolButton::clicked, this, &TPri::SpeedButton3Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TPri::SpeedButton4Click);
}

void TPri::BuildLogPanel(QWidget* client) {
    gb_Log = RaisedPanel(client, "gb_Log", 413, 372, 369, 114);
    lv_Log = Place(new QTreeWidget(gb_Log), "lv_Log", 8, 8, 369 - 16, 114 - 16);
    lv_Log->setColumnCount(3);
    lv_Log->setHeaderLabels({"Data e ora", "Tipo", "Descrizione"});
    lv_Log->setColumnWidth(1, 110);
    lv_Log->header()->setStretchLastSection(true);
    lv_Log->setRootIsDecorated(false);
    lv_Log->setUniformRowHeights(true);
    lv_Log->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_Log->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv_Log->setIconSize(QSize(16, 16));
    lv_Log->setStyleSheet("QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }");
    lv_Log->setContextMenuPolicy(Qt::CustomContextMenu);
    FitDateColumn();

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    auto item = [this](const char* name, const char* text, void (TPri::*handler)()) {
        QAction* a = PopupMenu1->addAction(QString::fromUtf8(text));
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, handler);
    };
    item("ApriconNotepad1", "Apri con Notepad", &TPri::ApriconNotepad1Click);
    item("Azzeraregistro1", "Azzera registro attuale", &TPri::Azzeraregistro1Click);
    item("Azzeratuttoilregistro1", "Azzera tutto il registro degli eventi", &TPri::Azzeratuttoilregistro1Click);
    PopupMenu1->addSeparator()->setObjectName("N8");
    connect(lv_Log, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(lv_Log->viewport()->mapToGlobal(at)); });
}

void TPri::BuildTimers() {
    AvvioAutomatico_Timer = new TTimer(this, "AvvioAutomatico_Timer", 500);
    AttivaNotifiche_Timer = new TTimer(this, "AttivaNotifiche_Timer", 0);
    AggCalibVideo = new TTimer(this, "AggCalibVideo", 500);
    AggCalibAudio = new TTimer(this, "AggCalibAudio", 500);
    VolTimer = new TTimer(this, "VolTimer", 500);
    ControllaEventi_Timer = new TTimer(this, "ControllaEventi_Timer", 500);
    ControllaDispositivi_Timer = new TTimer(this, "ControllaDispositivi_Timer", 1000);
    GestisciEvento_Timer = new TTimer(this, "GestisciEvento_Timer", 200);
    FermaAllarmeSonoro_Timer = new TTimer(this, "FermaAllarmeSonoro_Timer", 1000);
    Ferma_RegAvi = new TTimer(this, "Ferma_RegAvi", 1000);
    InviaSMS_Timer = new TTimer(this, "InviaSMS_Timer", 250);
    InviaMail_Timer = new TTimer(this, "InviaMail_Timer", 250);
    connect(AvvioAutomatico_Timer, &QTimer::timeout, this, &TPri::AvvioAutomatico_TimerTimer);
    connect(AggCalibVideo, &QTimer::timeout, this, &TPri::AggCalibVideoTimer);
    connect(AggCalibAudio, &QTimer::timeout, this, &TPri::AggCalibAudioTimer);
    connect(VolTimer, &QTimer::timeout, this, &TPri::VolTimerTimer);
    connect(ControllaEventi_Timer, &QTimer::timeout, this, &TPri::ControllaEventi_TimerTimer);
    connect(ControllaDispositivi_Timer, &QTimer::timeout, this, &TPri::ControllaDispositivi_TimerTimer);
}

// Creation handler, in its fixed order.
void TPri::FormCreate() {
    // Date and time separators are fixed by platform::FormatDateTime itself;
    // the event queue and both detectors start zeroed with monitor_.
    AttachEventLog();
    AttachDetectorHooks();

    cb_VideoSorveglianza->setChecked(Settings.Attiva_VideoSorveglianza);
    cb_AudioSorveglianza->setChecked(Settings.Attiva_AudioSorveglianza);

    RefreshVideoDevices();
    RefreshAudioDevices();

    // The shared rule of the two boxes runs once, after both hold their
    // stored values: run box by box, it would store the second box's state
    // before that box has been set.
    const bool alarms = Settings.Attiva_AllarmiSuSospetti;
    const bool notifications = Settings.Attiva_Notifiche;
    const bool changed = CheckBox1->isChecked() != alarms || CheckBox2->isChecked() != notifications;
    {
        const QSignalBlocker b1(CheckBox1), b2(CheckBox2);
        CheckBox1->setChecked(alarms);
        CheckBox2->setChecked(notifications);
    }
    if (changed) CheckBox1Click();

    const alarms::PeriodTexts period = alarms::NotificaOgniTexts(Settings.NotificaOgni);
    Edit1->setText(Q(period.hours));
    Edit2->setText(Q(period.minutes));
    AttivaNotifiche_Timer->SetInterval(TimerIntervalMs(Settings.NotificaOgni, 60000));

    CheckBox3->setChecked(Settings.Allarme_Sonoro);
    CheckBox8->setChecked(Settings.Allarme_SMS);
    CheckBox4->setChecked(Settings.Allarme_Mail);
    CheckBox5->setChecked(Settings.Allarme_RegAvi);
    CheckBox6->setChecked(Settings.Allarme_Foto);
    CheckBox7->setChecked(Settings.Allarme_File);

    RefreshAlarmLabels();
    setWindowState(windowState() | Qt::WindowMaximized);
    if (Settings.AvviaMonitoraggio) AvvioAutomatico_Timer->SetEnabled(true);
}

void TPri::RefreshAlarmLabels() {
    const auto captions = ComposeAlarmCaptions(Settings);
    ClickableLabel* const labels[] = {Label8, Label13, Label9, Label11, Label12, Label10};
    for (std::size_t i = 0; i < captions.size(); ++i)
        labels[i]->SetCaption(Q(captions[i].prefix), Q(captions[i].value), " Fai clic per configurare ");
}

void TPri::Edit1Exit() {
    Settings.NotificaOgni = alarms::NotificaOgniFromTexts(Edit1->text().toStdString(), Edit2->text().toStdString());
    AttivaNotifiche_Timer->SetInterval(TimerIntervalMs(Settings.NotificaOgni, 60000));
}

bool TPri::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 || watched == Edit2) {
        if (event->type() == QEvent::KeyPress) {  // Edit1KeyPress
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            if (key->key() == Qt::Key_Backspace) return false;
            if (!text.isEmpty() && text.at(0).isPrint() &&
                !alarms::NotificationKeyAccepted(text.at(0).unicode()))
                return true;
        } else if (event->type() == QEvent::FocusOut) {
            Edit1Exit();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TPri::FormResize() {
    const int w = Client->width();
    const int h = Client->height();
    auto widthFor = [w](QWidget* panel, int normal) { return w > 800 ? w - panel->x() - 8 : normal; };
    gb_Sorveglianza2->resize(widthFor(gb_Sorveglianza2, 774), gb_Sorveglianza2->height());
    gb_Allarmi->resize(widthFor(gb_Allarmi, 369), gb_Allarmi->height());
    gb_Log->resize(widthFor(gb_Log, 369), h >= 496 ? h - gb_Log->y() - 8 : 114);
    lv_Log->setGeometry(8, 8, gb_Log->width() - 16, gb_Log->height() - 16);
    gb_Allamri2->move((gb_Allarmi->width() - gb_Allamri2->width()) / 2, gb_Allamri2->y());
    gb_Sorveglianza->move((gb_Sorveglianza2->width() - gb_Sorveglianza->width()) / 2, gb_Sorveglianza->y());
}

void TPri::AvvioAutomatico_TimerTimer() {
    AvvioAutomatico_Timer->SetEnabled(false);
    if (Button1->isEnabled()) Button1Click();
}

void TPri::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        FormClose();
    }
    event->accept();
}

// Close handler, in its fixed order.
void TPri::FormClose() {
    Button2Click();
    QApplication::processEvents();
    FermaAllarmeSonoro_TimerTimer();
    QApplication::processEvents();
    QApplication::processEvents();
    Capture().VideoDeviceInfos.clear();
    Capture().AudioDeviceInfos.clear();
    Edit1Exit();
    Capture().videoDetector.Release();
}


void TPri::SpeedButton3Click() { platform::ShellOpen(Settings.RegAvi_Dir); }
void TPri::SpeedButton4Click() { platform::ShellOpen(Settings.Foto_Dir); }
