#pragma once
// What the event log says when a capture device stops watching or comes
// back, or a recording cannot be written: a blind watch must never look like
// a quiet one, nor a lost recording like a kept one.

#include <string>

#include "platform/Capture.h"

namespace capture {

struct DeviceLogRow {
    std::string type;  // "Errore" for a loss or a failed recording, "Informazione" for a return
    int icon = 0;
    std::string description;
};

DeviceLogRow DeviceNoticeRow(const platform::DeviceNotice& notice);

}  // namespace capture
