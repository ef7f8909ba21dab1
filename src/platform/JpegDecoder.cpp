#include "platform/JpegDecoder.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "platform/MediaTypeUtil.h"

namespace platform {

namespace {

// libjpeg reports errors by calling error_exit, which must not return: we
// jump back into Decode, so a broken frame never ends the program.
struct JumpingErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JumpingErrors*>(cinfo->err)->jump, 1); }

// Cameras send slightly broken frames now and then; they decode anyway.
void Quiet(j_common_ptr) {}

// The smallest of 1/8, 1/4, 1/2 and 1 that keeps the picture at least
// min x min (the other eighths have no fast path in libjpeg and cost more
// than a whole frame); no minimum is the whole picture.
unsigned ScaleNum(unsigned width, unsigned height, int minWidth, int minHeight) {
    if (minWidth <= 0 && minHeight <= 0) return 8;
    for (unsigned n = 1; n < 8; n *= 2) {
        const unsigned w = (width * n + 7) / 8, h = (height * n + 7) / 8;
        if (int(w) >= minWidth && int(h) >= minHeight) return n;
    }
    return 8;
}

}  // namespace

struct JpegDecoder::State {
    jpeg_decompress_struct cinfo{};
    JumpingErrors errors{};
};

JpegDecoder::JpegDecoder() : state_(std::make_unique<State>()) {
    state_->cinfo.err = jpeg_std_error(&state_->errors.mgr);
    state_->errors.mgr.error_exit = JumpBack;
    state_->errors.mgr.output_message = Quiet;
    jpeg_create_decompress(&state_->cinfo);
}

JpegDecoder::~JpegDecoder() { jpeg_destroy_decompress(&state_->cinfo); }

// Holds no C++ object that a jump out of libjpeg would skip.
bool JpegDecoder::Decode(const uint8_t* data, size_t size, const Layout& layout, std::vector<uint8_t>& out, int& width,
                         int& height, int& stride) {
    jpeg_decompress_struct& cinfo = state_->cinfo;
    if (!data || size == 0) return false;
    if (setjmp(state_->errors.jump)) {
        jpeg_abort_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&cinfo);
        return false;
    }
    const int bytes = layout.pixels == Pixels::Bgrx ? 4 : 3;
    cinfo.out_color_space = bytes == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    cinfo.dct_method = JDCT_IFAST;  // as GStreamer's decoder does by default
    cinfo.scale_num = ScaleNum(cinfo.image_width, cinfo.image_height, layout.minWidth, layout.minHeight);
    cinfo.scale_denom = 8;
    // Chroma as GStreamer's decoder and converter spread it: the detector's
    // calibration was made on those pixels. (It is cheaper, too.)
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    width = int(cinfo.output_width);
    height = int(cinfo.output_height);
    const size_t rowBytes = size_t(width) * size_t(bytes);
    stride = layout.bottomUp ? int(DibStride(width, bytes * 8)) : int(rowBytes);
    out.resize(size_t(stride) * size_t(height));
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t line = cinfo.output_scanline;
        JSAMPROW row = out.data() + (layout.bottomUp ? size_t(height) - 1 - line : line) * size_t(stride);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    if (size_t(stride) > rowBytes)
        for (int y = 0; y < height; ++y) std::memset(out.data() + size_t(y) * size_t(stride) + rowBytes, 0, size_t(stride) - rowBytes);
    return true;
}

}  // namespace platform
