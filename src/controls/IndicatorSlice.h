#pragma once
// What the level indicator paints, as pure rules: which picture pair, where
// the foreground sits on the background and how much of it shows. The
// widget only copies the pixels these rules name.

#include <cstdint>

namespace controls {

struct PictureSize {
    int width = 0;
    int height = 0;
    // A picture with no pixels counts as not set.
    bool Empty() const { return width <= 0 || height <= 0; }
};

enum class IndicatorPair { None, Enabled, Disabled };

// Enabled pictures for an enabled control, disabled ones for a disabled
// control, each only when its background is set; never the other pair.
IndicatorPair ChoosePair(bool enabled, PictureSize enabledBackground,
                         PictureSize disabledBackground);

struct CentreOffsets {
    int dx = 0;
    int dy = 0;
};
// Centres the foreground on the background; negative when it is larger.
CentreOffsets CentreForeground(PictureSize background, PictureSize foreground);

// Width of the foreground's left-hand slice for `pos` in min..max, rounded
// half to even and kept within 0..foregroundWidth. 0 when pos <= min or
// max <= min (the callers are meant to keep max above min).
int SliceWidth(int foregroundWidth, int32_t min, int32_t max, int32_t pos);

// The whole painting decision for one paint.
struct IndicatorPaint {
    IndicatorPair pair = IndicatorPair::None;  // None: draw nothing at all
    bool drawSlice = false;                    // else the background alone
    int dx = 0;                                // where the slice goes
    int dy = 0;
    int sliceWidth = 0;   // copied from the foreground's (0, 0)
    int sliceHeight = 0;  // the foreground's whole height
};

IndicatorPaint PlanIndicatorPaint(bool enabled, PictureSize background, PictureSize foreground,
                                  PictureSize backgroundDis, PictureSize foregroundDis,
                                  int32_t min, int32_t max, int32_t pos);

}  // namespace controls
