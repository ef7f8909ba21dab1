#pragma once
// Independent decoders for what the mail code writes, so the tests read the
// messages as a mail program would rather than with the code under test.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mailtest {

inline std::vector<uint8_t> Base64Decode(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = value(c);
        if (v < 0) continue;  // line breaks
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(acc >> bits));
        }
    }
    return out;
}

inline std::string QpDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;  // soft line break
        } else if (i + 2 < text.size()) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

struct Mime {
    std::vector<std::pair<std::string, std::string>> headers;  // unfolded
    std::string body;

    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& h : headers) n += h.first == name;
        return n;
    }
    std::string Header(const std::string& name) const {
        for (const auto& h : headers)
            if (h.first == name) return h.second;
        return "";
    }
};

// Headers up to the first empty line, folded lines joined, names as written.
inline Mime ParseMime(const std::string& raw) {
    Mime m;
    const size_t end = raw.find("\r\n\r\n");
    const std::string head = raw.substr(0, end);
    m.body = end == std::string::npos ? "" : raw.substr(end + 4);
    size_t pos = 0;
    while (pos < head.size()) {
        size_t eol = head.find("\r\n", pos);
        if (eol == std::string::npos) eol = head.size();
        const std::string line = head.substr(pos, eol - pos);
        pos = eol + 2;
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !m.headers.empty()) {
            m.headers.back().second += line;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        m.headers.emplace_back(line.substr(0, colon), value);
    }
    return m;
}

inline std::string BoundaryOf(const std::string& contentType) {
    const std::string key = "boundary=\"";
    const size_t at = contentType.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return contentType.substr(start, contentType.find('"', start) - start);
}

// The parts between "--boundary" lines, each without the CR LF that belongs
// to the next delimiter; empty when the closing delimiter is missing.
inline std::vector<std::string> MultipartParts(const std::string& body, const std::string& boundary) {
    std::vector<std::string> parts;
    const std::string delimiter = "\r\n--" + boundary;
    size_t pos = body.find(delimiter);
    if (pos == std::string::npos) return {};
    pos += delimiter.size();
    for (;;) {
        if (body.compare(pos, 2, "--") == 0) return parts;
        if (body.compare(pos, 2, "\r\n") != 0) return {};
        pos += 2;
        const size_t next = body.find(delimiter, pos);
        if (next == std::string::npos) return {};
        parts.push_back(body.substr(pos, next - pos));
        pos = next + delimiter.size();
    }
}

inline bool EveryLineEndsWithCrlf(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    }
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

struct JpegInfo {
    int width = 0, height = 0, components = 0;
};

struct JpegErrorJump {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

// Decodes the whole image; nullopt when libjpeg finds it broken. The row
// comes from libjpeg's own pool, so a jump out of it leaks nothing.
inline std::optional<JpegInfo> DecodeJpeg(const std::vector<uint8_t>& bytes) {
    jpeg_decompress_struct cinfo{};
    JpegErrorJump err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErrorJump*>(c->err)->jump, 1); };
    err.mgr.output_message = [](j_common_ptr) {};
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return std::nullopt;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const JpegInfo info{int(cinfo.output_width), int(cinfo.output_height), cinfo.output_components};
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * cinfo.output_components, 1);
    while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return info;
}

}  // namespace mailtest
