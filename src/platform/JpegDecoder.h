#pragma once
// Decodes camera JPEG frames straight into the layout the caller keeps:
// colour conversion and, for a small picture, scaling happen inside the
// decoder (DCT scaling), so no frame is converted or scaled a second time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class JpegDecoder {
public:
    enum class Pixels { Bgr, Bgrx };
    struct Layout {
        Pixels pixels = Pixels::Bgr;
        bool bottomUp = false;  // rows as a Windows DIB: last row first, each padded to 4 bytes
        // The smallest of the decoder's sizes (1/8, 1/4, 1/2, whole) at least this large; 0 = full size.
        int minWidth = 0;
        int minHeight = 0;
    };

    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // Decodes into `out` (resized, its storage reused), with rows of
    // `stride` bytes. False, and `out` of unspecified content, when the
    // data is not a whole JPEG; never throws for bad data. One thread at a time.
    bool Decode(const uint8_t* data, size_t size, const Layout& layout, std::vector<uint8_t>& out, int& width,
                int& height, int& stride);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
