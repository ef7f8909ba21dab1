// Recording: a branch into an AVI file added to the running monitoring
// graph for a fixed time; detection pauses while the graph is rebuilt.

#include "capture/MonitoringController.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/DateTime.h"

#include <QApplication>
#include <QPushButton>

bool TPri::StartRecording() { return monitor_->StartRecording(NomeFileAvi); }

// StopRecording: closes the file and puts the monitoring graph back.
void TPri::Ferma_RegAviTimer() {
    Ferma_RegAvi->Tag = 1;
    Ferma_RegAvi->SetEnabled(false);
    Settings.RegAvi_OraUltimaRegistrazione = platform::FormatDateTime("yyyymmddhhnn", platform::Now());
    monitor_->PauseDetectors();
    QApplication::processEvents();
    if (isMinimized() || !isVisible()) showNormal();
    QApplication::processEvents();
    monitor_->EndRecording();
    QApplication::processEvents();
    if (Button2->isEnabled()) monitor_->ReconnectMonitoring();
    monitor_->ResumeDetectors();
    Ferma_RegAvi->Tag = 0;
}
