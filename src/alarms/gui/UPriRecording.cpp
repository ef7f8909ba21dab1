// Recording: replaced once the capture layer has its AVI branch.
#include "core/gui/UPri.h"
#include "core/gui/TTimer.h"

bool TPri::StartRecording() { return false; }
void TPri::Ferma_RegAviTimer() { Ferma_RegAvi->SetEnabled(false); }
void TPri::PauseDetectors() {}
void TPri::ResumeDetectors() {}
