#include "controls/JusLab.h"

#include <cstddef>
#include <utility>

namespace controls {

TLineObj::TLineObj(std::u32string text, int32_t extraPixels, int32_t gapCount)
    : ExtraPixels(extraPixels), GapCount(gapCount), LineText(std::move(text)) {}

int32_t TLineObj::ExtraForGap(int32_t k) const {
    if (GapCount == 0) return 0;
    // In 64 bits: INT32_MIN / -1 would overflow.
    const auto base = static_cast<int32_t>(static_cast<int64_t>(ExtraPixels) / GapCount);
    const double frac = static_cast<double>(ExtraPixels) / GapCount - base;
    if (k <= 0) return base;
    const auto now = static_cast<int64_t>(k * frac);
    const auto before = static_cast<int64_t>((k - 1) * frac);
    return now > before ? base + 1 : base;
}

namespace {

// The text being broken, addressed by 1-based positions; ranges reaching
// past either end are cut to the text.
class Positions {
public:
    explicit Positions(const std::u32string& text) : s_(text) {}

    std::size_t Size() const { return s_.size(); }
    char32_t& At(std::size_t pos) { return s_[pos - 1]; }

    std::u32string Range(std::size_t from, std::size_t to) const {
        if (to > s_.size()) to = s_.size();
        if (from < 1 || to < from) return {};
        return s_.substr(from - 1, to - from + 1);
    }

private:
    std::u32string s_;
};

}  // namespace

TLineList BreakLines(const std::u32string& text, int width, const TextMeasure& measure) {
    Positions s(text);
    const std::size_t n = s.Size();
    TLineList lines;

    std::size_t a = 1;  // start of the current line
    std::size_t i = 1;  // next character to look at
    std::size_t p = 1;  // last space seen; inside the line only when p >= a
    int32_t g = -1;     // spaces since the line start, less one

    // The last character is measured with its line but never looked at.
    while (i < n) {
        char32_t& c = s.At(i);
        if (c == U'\t' || c == U' ') {
            c = U' ';
            ++g;
            p = i;
            ++i;
        } else if (c == U'\r') {
            lines.emplace_back(s.Range(a, i - 1), 0, 0);
            a = i + 1;  // within the text: i < n
            if (s.At(a) == U'\n') ++a;
            i = a;
            g = -1;
        } else {
            ++i;
        }

        if (measure.Width(s.Range(a, i)) > width) {
            if (p > a) {
                std::u32string line = s.Range(a, p - 1);
                const int extra = width - measure.Width(line);
                lines.emplace_back(std::move(line), extra, g);
                a = p + 1;
                i = a;
            } else {
                // No space to break at: cut before the character that
                // overflows, which then starts the next line.
                lines.emplace_back(s.Range(a, i - 1), 0, 0);
                a = i;
            }
            g = -1;
        }
    }
    lines.emplace_back(s.Range(a, i), 0, 0);
    return lines;
}

std::vector<int> FittingExtents(const std::u32string& text, int maxExtent,
                                const TextMeasure& measure) {
    std::vector<int> extents;
    for (std::size_t j = 1; j <= text.size(); ++j) {
        const int extent = measure.Width(text.substr(0, j));
        if (extent > maxExtent) break;
        extents.push_back(extent);
    }
    return extents;
}

std::vector<int> CharacterAdvances(const TLineObj& line, const std::vector<int>& extents) {
    const std::size_t m = extents.size() < line.LineText.size() ? extents.size()
                                                                : line.LineText.size();
    std::vector<int> advances(m);
    if (m == 0) return advances;
    int32_t k = 0;
    for (std::size_t j = m; j >= 2; --j) {
        int advance = extents[j - 1] - extents[j - 2];
        if (line.LineText[j - 1] == U' ') advance += line.ExtraForGap(k++);
        advances[j - 1] = advance;
    }
    advances[0] = extents[0];
    return advances;
}

}  // namespace controls
