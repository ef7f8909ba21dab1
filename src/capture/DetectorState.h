#pragma once
#include <cstdint>

namespace capture { enum DetectorState : uint8_t { Idle = 0, CheckFormat = 1, WarmUp = 2, Calibrating = 3, Verifying = 4, Monitoring = 5, LevelOnlyStart = 10, LevelOnly = 11 }; }
