#pragma once
// The photo alarm: the last frame of the video sample grabber saved as a
// Windows bitmap or as a JPEG file. Frames are DIBs in the grabber's
// connected format: RGB24 (BGR), RGB32 (BGRx) or RGB555 (16 bits, x1 r5 g5
// b5), rows padded to 4 bytes, bottom-up for a positive biHeight and
// top-down for a negative one. Main thread; no state of its own.

#include "platform/DateTime.h"
#include "platform/MediaType.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace alarms {

// A complete .bmp file (14-byte file header, 40-byte info header, pixels)
// in the frame's own pixel format, always written bottom-up with a positive
// height: a top-down frame has its rows reversed. False, with `out` empty,
// for a format other than the three above or a frame shorter than its
// format implies.
bool EncodeBitmapFile(const platform::MediaType& type, const uint8_t* frame, size_t length,
                      std::vector<uint8_t>& out);

// A baseline colour (YCbCr, 3 components) JPEG at quality 90, top row first.
// The mail attachment uses the same encoder. False, with `out` empty, for a
// bad format, a short frame or any libjpeg error.
bool EncodeJpeg(const platform::MediaType& type, const uint8_t* frame, size_t length,
                std::vector<uint8_t>& out);

// fotoDir + PhotoStem(now); fotoDir ends with "/".
std::string PhotoPath(const std::string& fotoDir, const platform::DateTime& now);
// "OCL-" + now as "yyyymmddhhnnss".
std::string PhotoStem(const platform::DateTime& now);

// Creates (for the user alone) or truncates `path` and writes all of
// `bytes`; false on any error, including a full disk. A failed write leaves
// what was written.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

struct PhotoResult {
    bool ok = false;
    std::string path;  // complete on success, as far as it was built on failure
};

// formato 1 (Foto_Formato) saves PhotoPath + ".jpg", anything else
// PhotoPath + ".bmp", readable by the user alone. An existing file is never
// replaced: a later photo of the same second is PhotoPath + "-2", "-3"...
// with the extension, and `path` names the file written. A missing or
// unusable frame fails before an extension is chosen; a JPEG that cannot be
// encoded fails before ".jpg" is appended.
PhotoResult TakePhoto(const std::string& fotoDir, int32_t formato, const std::vector<uint8_t>* frame,
                      const platform::MediaType* type, const platform::DateTime& now);

}  // namespace alarms
