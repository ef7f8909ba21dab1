#include "alarms/Photo.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <unistd.h>

#include "platform/UniqueFile.h"

#include <jerror.h>
#include <jpeglib.h>

namespace alarms {

namespace {

using platform::MediaType;

constexpr size_t kBitmapHeadersSize = 14 + 40;
constexpr int kJpegQuality = 90;

// Where the pixels of a frame are. The whole padded image must be inside the
// buffer: the padding of the last row is part of the DIB.
struct FrameLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint16_t bits = 0;
    size_t stride = 0;
    size_t imageSize = 0;
};

std::optional<FrameLayout> LayoutOf(const MediaType& type, size_t length) {
    if (type.majortype != platform::MajorType::Video) return std::nullopt;
    std::optional<platform::BITMAPINFOHEADER> bmi;
    if (type.formattype == platform::FormatType::VideoInfo) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER>()) bmi = vih->bmiHeader;
    } else if (type.formattype == platform::FormatType::VideoInfo2) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER2>()) bmi = vih->bmiHeader;
    }
    if (!bmi || bmi->biCompression != platform::BI_RGB) return std::nullopt;

    const bool known = (type.subtype == platform::SubType::RGB24 && bmi->biBitCount == 24) ||
                       (type.subtype == platform::SubType::RGB32 && bmi->biBitCount == 32) ||
                       (type.subtype == platform::SubType::RGB555 && bmi->biBitCount == 16);
    if (!known || bmi->biWidth <= 0 || bmi->biHeight == 0) return std::nullopt;

    FrameLayout layout;
    layout.width = static_cast<uint32_t>(bmi->biWidth);
    const int64_t height = bmi->biHeight;
    layout.height = static_cast<uint32_t>(height < 0 ? -height : height);
    layout.topDown = height < 0;
    layout.bits = bmi->biBitCount;
    layout.stride = ((static_cast<uint64_t>(layout.width) * layout.bits + 31) / 32) * 4;
    // Divided rather than multiplied so that a huge header cannot overflow.
    if (layout.height > length / layout.stride) return std::nullopt;
    layout.imageSize = layout.stride * layout.height;
    return layout;
}

// The frame row shown at `y` from the top.
const uint8_t* RowFromTop(const FrameLayout& layout, const uint8_t* frame, uint32_t y) {
    const uint32_t stored = layout.topDown ? y : layout.height - 1 - y;
    return frame + stored * layout.stride;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

void RowToRgb(const FrameLayout& layout, const uint8_t* src, uint8_t* dst) {
    const uint32_t w = layout.width;
    switch (layout.bits) {
    case 24:
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        break;
    case 32:
        for (uint32_t x = 0; x < w; ++x, src += 4, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        break;
    default:  // RGB555, little-endian
        for (uint32_t x = 0; x < w; ++x, src += 2, dst += 3) {
            const unsigned v = src[0] | (unsigned(src[1]) << 8);
            dst[0] = Expand5((v >> 10) & 31);
            dst[1] = Expand5((v >> 5) & 31);
            dst[2] = Expand5(v & 31);
        }
        break;
    }
}

// libjpeg reports errors by calling error_exit, which must not return: we
// jump back to the encoder, so a bad image never ends the program.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegSilent(j_common_ptr) {}

// Compressed bytes go straight into the caller's vector, grown by doubling.
struct VectorDestination {
    jpeg_destination_mgr mgr;
    std::vector<uint8_t>* out;
};

constexpr size_t kFirstChunk = 64 * 1024;

// Runs inside libjpeg: no exception may leave, and no C++ object may be
// alive when it jumps out through ERREXIT.
bool Grow(std::vector<uint8_t>& out, size_t size) {
    try {
        out.resize(size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void DestinationInit(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    if (!Grow(*dest->out, kFirstChunk)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->mgr.next_output_byte = dest->out->data();
    dest->mgr.free_in_buffer = dest->out->size();
}

boolean DestinationEmpty(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // Called only when the whole buffer is full.
    const size_t used = dest->out->size();
    if (!Grow(*dest->out, used * 2)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    dest->mgr.next_output_byte = dest->out->data() + used;
    dest->mgr.free_in_buffer = dest->out->size() - used;
    return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->mgr.free_in_buffer);
}

// Everything libjpeg may jump out of; holds no C++ objects.
void Compress(j_compress_ptr cinfo, const FrameLayout& layout, const uint8_t* frame, uint8_t* row) {
    cinfo->image_width = layout.width;
    cinfo->image_height = layout.height;
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);  // YCbCr, sequential Huffman: baseline
    jpeg_set_quality(cinfo, kJpegQuality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        RowToRgb(layout, RowFromTop(layout, frame, cinfo->next_scanline), row);
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
}

}  // namespace

bool EncodeBitmapFile(const MediaType& type, const uint8_t* frame, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (!frame) return false;
    const auto layout = LayoutOf(type, length);
    if (!layout || layout->imageSize > UINT32_MAX - kBitmapHeadersSize) return false;

    out.assign(kBitmapHeadersSize + layout->imageSize, 0);
    uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, static_cast<uint32_t>(out.size()));
    Put32(p + 10, static_cast<uint32_t>(kBitmapHeadersSize));
    p += 14;
    Put32(p + 0, 40);
    Put32(p + 4, layout->width);
    Put32(p + 8, layout->height);  // positive: the rows below are bottom-up
    Put16(p + 12, 1);
    Put16(p + 14, layout->bits);
    Put32(p + 16, platform::BI_RGB);
    Put32(p + 20, static_cast<uint32_t>(layout->imageSize));
    p += 40;

    if (!layout->topDown) {
        std::memcpy(p, frame, layout->imageSize);
    } else {
        for (uint32_t y = 0; y < layout->height; ++y)
            std::memcpy(p + size_t(layout->height - 1 - y) * layout->stride, frame + size_t(y) * layout->stride,
                        layout->stride);
    }
    return true;
}

bool EncodeJpeg(const MediaType& type, const uint8_t* frame, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (!frame) return false;
    const auto layout = LayoutOf(type, length);
    if (!layout) return false;
    std::vector<uint8_t> row;
    if (!Grow(row, size_t(layout->width) * 3)) return false;

    jpeg_compress_struct cinfo{};
    JpegError error{};
    VectorDestination dest{};
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = JpegErrorExit;
    error.mgr.output_message = JpegSilent;
    dest.mgr.init_destination = DestinationInit;
    dest.mgr.empty_output_buffer = DestinationEmpty;
    dest.mgr.term_destination = DestinationTerm;
    dest.out = &out;

    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        out.clear();
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.mgr;
    Compress(&cinfo, *layout, frame, row.data());
    jpeg_destroy_compress(&cinfo);
    return true;
}

std::string PhotoPath(const std::string& fotoDir, const platform::DateTime& now) {
    return fotoDir + PhotoStem(now);
}

std::string PhotoStem(const platform::DateTime& now) {
    return "OCL-" + platform::FormatDateTime("yyyymmddhhnnss", now);
}

namespace {

// Writes all of `bytes` and closes `fd`; false on any error.
bool WriteAndClose(int fd, const std::vector<uint8_t>& bytes) {
    bool ok = true;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    // Some file systems report a full disk only here.
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return fd >= 0 && WriteAndClose(fd, bytes);
}

PhotoResult TakePhoto(const std::string& fotoDir, int32_t formato, const std::vector<uint8_t>* frame,
                      const MediaType* type, const platform::DateTime& now) {
    PhotoResult result;
    result.path = PhotoPath(fotoDir, now);
    if (!frame || frame->empty() || !type || !LayoutOf(*type, frame->size())) return result;

    std::vector<uint8_t> bytes;
    const bool jpeg = formato == 1;
    if (jpeg) {
        if (!EncodeJpeg(*type, frame->data(), frame->size(), bytes)) return result;
        result.path += ".jpg";
    } else {
        result.path += ".bmp";
        if (!EncodeBitmapFile(*type, frame->data(), frame->size(), bytes)) return result;
    }
    // A photo of the same second gets a numbered name: the pictures of a
    // busy second are all kept.
    const int fd = platform::CreateUniqueFile(fotoDir, PhotoStem(now), jpeg ? "jpg" : "bmp", result.path);
    result.ok = fd >= 0 && WriteAndClose(fd, bytes);
    return result;
}

}  // namespace alarms
