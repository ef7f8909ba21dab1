#pragma once
// The states of both detectors. Other parts of the program test them: a
// photo is taken only in Monitoring, the precision displays follow them.

#include <cstdint>

namespace capture {

enum DetectorState : uint8_t { Idle = 0, CheckFormat = 1, WarmUp = 2, Calibrating = 3, Verifying = 4, Monitoring = 5, LevelOnlyStart = 10, LevelOnly = 11 };

}  // namespace capture
