// The settings dialogs as the main window opens them.
#include "core/gui/UPri.h"
#include "dialogs/gui/UCfgAllarmi.h"
#include "dialogs/gui/UImpoConne.h"
#include "dialogs/gui/UImpoGenerali.h"
#include "dialogs/gui/UImpoMonitoraggio.h"

void TPri::BitBtn3Click() {
    TImpoMonitoraggio dialog(this);
    dialog.exec();
}

void TPri::ShowAlarmDialog(int page) {
    {
        TCfgAllarmi dialog(this);
        if (page >= 0) dialog.ShowPage(page);
        dialog.exec();
    }
    RefreshAlarmLabels();
}

void TPri::ShowConnectionDialog() {
    TImpoConne dialog(this);
    dialog.exec();
}

void TPri::ShowGeneralDialog() {
    TImpoGenerali dialog(this);
    dialog.exec();
}
