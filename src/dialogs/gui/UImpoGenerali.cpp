#include "dialogs/gui/UImpoGenerali.h"
#include "controls/gui/Placement.h"

#include "alarms/EventLog.h"
#include "core/Autostart.h"
#include "core/Globali.h"
#include "core/Help.h"
#include "core/Numbers.h"
#include "dialogs/gui/DialogSupport.h"
#include "platform/Shell.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include <unistd.h>

namespace {

void Separator(QWidget* parent, int top, int width) {
    auto* line = new QFrame(parent);
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(8, top, width - 16, 2);
}

}  // namespace

TImpoGenerali::TImpoGenerali(QWidget* parent) : QDialog(parent) {
    setObjectName("TImpoGenerali");
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    constexpr int kWidth = 340;
    dialogs::MakeFixedDialog(this, QStringLiteral("Impostazioni generali"), kWidth, 178);

    CheckBox2 = Place(new QCheckBox(QString::fromUtf8("Esegui Oculara all'avvio del computer"), this),
                      "CheckBox2", 12, 12, kWidth - 24, 20);
    CheckBox3 = Place(new QCheckBox(QString::fromUtf8("Attiva il monitoraggio all'avvio di Oculara"), this),
                      "CheckBox3", 12, 36, kWidth - 24, 20);
    Separator(this, 64, kWidth);
    CheckBox1 = Place(new QCheckBox(QString::fromUtf8("Scrivi registro eventi su file (Oculara.log)"), this),
                      "CheckBox1", 12, 74, kWidth - 24, 20);
    Label1 = Place(new QLabel(QString::fromUtf8("Dimensione massima (MB):"), this), "Label1", 30, 104, 0, 16);
    // As wide as its text in the font at hand, the field right after it.
    Label1->resize(Label1->sizeHint().width(), 16);
    const int editLeft = Label1->geometry().right() + 7;
    Edit1 = Place(new QLineEdit(this), "Edit1", editLeft, 101, 56, 22);
    Label1->setBuddy(Edit1);
    dialogs::AcceptDigitsOnly(Edit1, 0);
    SpeedButton1 = SmallButton(this, "SpeedButton1", " Apri file ", QStyle::SP_DialogOpenButton, editLeft + 64, 101);
    SpeedButton2 = SmallButton(this, "SpeedButton2", " Azzera file ", QStyle::SP_TrashIcon, editLeft + 88, 101);
    Separator(this, 134, kWidth);

    OkButton = Place(new QPushButton(QStringLiteral("OK"), this), "OkButton", 80, 145, 75, 25);
    OkButton->setDefault(true);
    CancelButton = Place(new QPushButton(QStringLiteral("Annulla"), this), "CancelButton", 161, 145, 75, 25);
    HelpButton = Place(new QPushButton(QStringLiteral("Guida in linea"), this), "HelpButton", 242, 145, 90, 25);

    CheckBox2->setChecked(Settings.EsecuzioneAutomatica);
    CheckBox3->setChecked(Settings.AvviaMonitoraggio);
    CheckBox1->setChecked(Settings.ScriviLog);
    dialogs::ShowStored(Edit1, QString::number(Settings.DimMaxLog));
    Edit1->setFocus();
    Edit1->selectAll();

    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(OkButton, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpClick(); });
}

void TImpoGenerali::SpeedButton1Click() { platform::ShellOpen("Notepad.exe", alarms::TheEventLog().FilePath()); }

void TImpoGenerali::SpeedButton2Click() {
    // unlink, not a general remove: whatever else sits under that name stays.
    // The log reopens its file for every line, so the next one starts a new file.
    (void)::unlink(alarms::TheEventLog().FilePath().c_str());
}

void TImpoGenerali::OkClick() {
    // The start entry is written only on a change, so an untouched box never
    // rewrites (or, without the rights, fails on) the machine's entry.
    if (CheckBox2->isChecked() != Settings.EsecuzioneAutomatica) SetAutostart(CheckBox2->isChecked());
    Settings.EsecuzioneAutomatica = CheckBox2->isChecked();
    Settings.AvviaMonitoraggio = CheckBox3->isChecked();
    Settings.ScriviLog = CheckBox1->isChecked();
    Settings.DimMaxLog = IntegerOr(dialogs::S(Edit1->text()), 1);
    SaveSettings();
    accept();
}

void TImpoGenerali::HelpClick() { ShowHelpTopic("impo_generali.htm"); }
