#pragma once
// Layout of the justified label, free of any toolkit: the widget hands in
// a measure of its font and draws, character by character, what these
// functions decide. Texts are sequences of code points, so an accented
// letter is one character, as it is on screen.

#include <cstdint>
#include <string>
#include <vector>

namespace controls {

// Width in pixels of a run of characters in the label's font.
class TextMeasure {
public:
    virtual ~TextMeasure() = default;
    virtual int Width(const std::u32string& text) const = 0;
};

// One laid-out line. ExtraPixels and GapCount are 0 for a line that is not
// stretched; LineText has its tabs already turned into spaces.
class TLineObj {
public:
    TLineObj(std::u32string text, int32_t extraPixels, int32_t gapCount);

    // The extra pixels of the k-th space of the line, counted from the
    // right starting at 0. Of the remainder of ExtraPixels / GapCount all
    // but one pixel is spread evenly, never to the rightmost space, so a
    // stretched line may end one pixel short of the edge.
    int32_t ExtraForGap(int32_t k) const;

    int32_t ExtraPixels;
    int32_t GapCount;
    std::u32string LineText;
};

// The list owns its lines.
using TLineList = std::vector<TLineObj>;

// Breaks `text` into lines no wider than `width` pixels where a space
// allows it. A line broken at a space is stretched; the last line of each
// paragraph (a carriage return, optionally followed by a line feed, ends
// one) and a line cut inside a word too long for the label are not. The
// breaking space belongs to neither line. The last character of the text is
// taken as it is: a final tab stays a tab, a final carriage return stays in
// the last line.
TLineList BreakLines(const std::u32string& text, int width, const TextMeasure& measure);

// Cumulative extents of the leading characters of `text` that fit within
// `maxExtent` pixels: element j - 1 is the width of the first j characters,
// and the size is the number of characters that fit.
std::vector<int> FittingExtents(const std::u32string& text, int maxExtent,
                                const TextMeasure& measure);

// The pen advance of each of the first extents.size() characters of
// `line`, given their cumulative extents: a character's own width, plus
// its share of the line's extra pixels when it is a space. Spaces are
// numbered from the right; the first character is never widened.
std::vector<int> CharacterAdvances(const TLineObj& line, const std::vector<int>& extents);

}  // namespace controls
