#include "controls/IndicatorSlice.h"

#include <cmath>

namespace controls {

IndicatorPair ChoosePair(bool enabled, PictureSize enabledBackground,
                         PictureSize disabledBackground) {
    if (enabled) return enabledBackground.Empty() ? IndicatorPair::None : IndicatorPair::Enabled;
    return disabledBackground.Empty() ? IndicatorPair::None : IndicatorPair::Disabled;
}

CentreOffsets CentreForeground(PictureSize background, PictureSize foreground) {
    // C++ division truncates toward zero, as the offsets must.
    return {(background.width - foreground.width) / 2,
            (background.height - foreground.height) / 2};
}

int SliceWidth(int foregroundWidth, int32_t min, int32_t max, int32_t pos) {
    if (foregroundWidth <= 0 || pos <= min || max <= min) return 0;
    // In double: pos - min and max - min may not fit in 32 bits.
    const double span = static_cast<double>(max) - static_cast<double>(min);
    const double part = static_cast<double>(pos) - static_cast<double>(min);
    const double exact = static_cast<double>(foregroundWidth) * part / span;
    // A Pos above Max would ask for more than the picture has; clamping
    // before rounding also keeps the conversion to int defined.
    if (exact >= foregroundWidth) return foregroundWidth;
    // nearbyint in the default rounding mode rounds ties to even.
    return static_cast<int>(std::nearbyint(exact));
}

IndicatorPaint PlanIndicatorPaint(bool enabled, PictureSize background, PictureSize foreground,
                                  PictureSize backgroundDis, PictureSize foregroundDis,
                                  int32_t min, int32_t max, int32_t pos) {
    IndicatorPaint plan;
    plan.pair = ChoosePair(enabled, background, backgroundDis);
    if (plan.pair == IndicatorPair::None) return plan;

    const PictureSize bg = plan.pair == IndicatorPair::Enabled ? background : backgroundDis;
    const PictureSize fg = plan.pair == IndicatorPair::Enabled ? foreground : foregroundDis;
    if (pos <= min || fg.Empty()) return plan;

    const int width = SliceWidth(fg.width, min, max, pos);
    if (width <= 0) return plan;

    const CentreOffsets offsets = CentreForeground(bg, fg);
    plan.drawSlice = true;
    plan.dx = offsets.dx;
    plan.dy = offsets.dy;
    plan.sliceWidth = width;
    plan.sliceHeight = fg.height;
    return plan;
}

}  // namespace controls
