// Rules of the main window's switches. Each runs whenever its box changes
// state, by a click or by code, and writes its result into Settings.

#include "core/Globali.h"
#include "core/gui/UPri.h"
#include "platform/KnownFolders.h"

#include <QCheckBox>

void TPri::ConnectSwitchRules() {
    auto rule = [this](QCheckBox* box, void (TPri::*handler)()) {
        connect(box, &QCheckBox::toggled, this, handler);
    };
    rule(cb_VideoSorveglianza, &TPri::cb_VideoSorveglianzaClick);
    rule(cb_AudioSorveglianza, &TPri::cb_AudioSorveglianzaClick);
    rule(CheckBox1, &TPri::CheckBox1Click);
    rule(CheckBox2, &TPri::CheckBox1Click);
    rule(CheckBox3, &TPri::CheckBox3Click);
    rule(CheckBox8, &TPri::CheckBox8Click);
    rule(CheckBox4, &TPri::CheckBox4Click);
    rule(CheckBox5, &TPri::CheckBox5Click);
    rule(CheckBox6, &TPri::CheckBox6Click);
    rule(CheckBox7, &TPri::CheckBox7Click);
}

void TPri::cb_VideoSorveglianzaClick() {
    if (!cb_VideoSorveglianza->isChecked() && !cb_AudioSorveglianza->isChecked())
        cb_AudioSorveglianza->setChecked(true);
    Settings.Attiva_VideoSorveglianza = cb_VideoSorveglianza->isChecked();
}

void TPri::cb_AudioSorveglianzaClick() {
    if (!cb_AudioSorveglianza->isChecked() && !cb_VideoSorveglianza->isChecked() &&
        cb_VideoSorveglianza->isEnabled())
        cb_VideoSorveglianza->setChecked(true);
    Settings.Attiva_AudioSorveglianza = cb_AudioSorveglianza->isChecked();
}

void TPri::CheckBox1Click() {
    Settings.Attiva_AllarmiSuSospetti = CheckBox1->isChecked();
    Settings.Attiva_Notifiche = CheckBox2->isChecked();
    const bool notificationsOnly = !CheckBox1->isChecked() && CheckBox2->isChecked();
    for (QCheckBox* alarmOnly : {CheckBox3, CheckBox7}) {
        if (notificationsOnly) alarmOnly->setChecked(false);
        alarmOnly->setEnabled(!notificationsOnly);
    }
}

void TPri::CheckBox3Click() {
    if (CheckBox3->isChecked() && !CheckBox1->isChecked()) CheckBox1->setChecked(true);
    Settings.Allarme_Sonoro = CheckBox3->isChecked();
}

void TPri::TurnOnAlarmsWhenNothingOn(QCheckBox* box) {
    if (box->isChecked() && !CheckBox1->isChecked() && !CheckBox2->isChecked()) CheckBox1->setChecked(true);
}

void TPri::CheckBox8Click() {
    if (Settings.SMS_NumeroCellulare.empty()) CheckBox8->setChecked(false);
    TurnOnAlarmsWhenNothingOn(CheckBox8);
    Settings.Allarme_SMS = CheckBox8->isChecked();
}

void TPri::CheckBox4Click() {
    if (Settings.Mail_Indirizzo.empty()) CheckBox4->setChecked(false);
    TurnOnAlarmsWhenNothingOn(CheckBox4);
    Settings.Allarme_Mail = CheckBox4->isChecked();
}

void TPri::CheckBox5Click() {
    TurnOnAlarmsWhenNothingOn(CheckBox5);
    if (!platform::DirectoryExists(Settings.RegAvi_Dir)) CheckBox5->setChecked(false);
    Settings.Allarme_RegAvi = CheckBox5->isChecked();
}

void TPri::CheckBox6Click() {
    TurnOnAlarmsWhenNothingOn(CheckBox6);
    if (!platform::DirectoryExists(Settings.Foto_Dir)) CheckBox6->setChecked(false);
    Settings.Allarme_Foto = CheckBox6->isChecked();
}

void TPri::CheckBox7Click() {
    if (CheckBox7->isChecked() && !CheckBox1->isChecked()) CheckBox1->setChecked(true);
    if (Settings.File_Nome.empty() || !platform::FileExists(Settings.File_Nome)) CheckBox7->setChecked(false);
    Settings.Allarme_File = CheckBox7->isChecked();
}
