// Camera JPEG frames decoded straight into the grabber's DIB and the
// window's small picture.

#include <gtest/gtest.h>

#include <cstdlib>

#include "alarms/Photo.h"
#include "platform/JpegDecoder.h"
#include "platform/MediaTypeUtil.h"

using namespace platform;

namespace {

// Flat 16x16 blocks, each its own colour: JPEG keeps them close to true.
uint8_t Channel(int x, int y, int c) { return uint8_t(((x / 16) * 70 + (y / 16) * 40 + c * 90) % 256); }

// A bottom-up BGR DIB of the blocks, encoded as a JPEG.
std::vector<uint8_t> BlocksJpeg(int w, int h) {
    const size_t stride = DibStride(w, 24);
    std::vector<uint8_t> dib(stride * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) dib[size_t(h - 1 - y) * stride + size_t(x) * 3 + size_t(c)] = Channel(x, y, c);
    std::vector<uint8_t> jpeg;
    EXPECT_TRUE(alarms::EncodeJpeg(MakeRgbVideoType(SubType::RGB24, w, h), dib.data(), dib.size(), jpeg));
    return jpeg;
}

// The pixel at the middle of each block, `bytes` per pixel, against the blocks.
void ExpectBlocks(const std::vector<uint8_t>& out, int w, int h, int stride, int bytes, bool bottomUp, int scale) {
    for (int by = 8; by < h * scale; by += 16) {
        for (int bx = 8; bx < w * scale; bx += 16) {
            const int x = bx / scale, y = by / scale;
            const size_t row = size_t(bottomUp ? h - 1 - y : y) * size_t(stride);
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(out[row + size_t(x * bytes + c)], Channel(bx, by, c), 12)
                    << "block at " << bx << "," << by << " channel " << c;
        }
    }
}

TEST(JpegDecoder, FullSizeGoesStraightIntoABottomUpDibWithZeroPadding) {
    const int w = 90, h = 48;  // rows of 270 bytes, padded to 272
    const auto jpeg = BlocksJpeg(w, h);
    JpegDecoder decoder;
    int sw = 0, sh = 0;
    ASSERT_TRUE(decoder.ReadSize(jpeg.data(), jpeg.size(), sw, sh));
    EXPECT_EQ(sw, w);
    EXPECT_EQ(sh, h);
    std::vector<uint8_t> out(7, 0xee);  // storage from a frame before
    int width = 0, height = 0, stride = 0;
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgr, true, 0, 0}, out, width, height,
                               stride));
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    EXPECT_EQ(stride, 272);
    ASSERT_EQ(out.size(), size_t(272 * h));
    ExpectBlocks(out, w, h, stride, 3, true, 1);
    for (int y = 0; y < h; ++y) EXPECT_EQ(out[size_t(y) * 272 + 270] | out[size_t(y) * 272 + 271], 0) << y;
}

TEST(JpegDecoder, ASmallPictureIsTheSmallestScaleAtLeastTheAskedSize) {
    const auto jpeg = BlocksJpeg(256, 128);
    JpegDecoder decoder;
    std::vector<uint8_t> out;
    int width = 0, height = 0, stride = 0;
    // 64x32 is 2/8 of the frame; 3/8 (96x48) is the first at least 70 wide.
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgrx, false, 70, 20}, out, width,
                               height, stride));
    EXPECT_EQ(width, 96);
    EXPECT_EQ(height, 48);
    EXPECT_EQ(stride, 96 * 4);
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgrx, false, 64, 32}, out, width,
                               height, stride));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 32);
    ExpectBlocks(out, width, height, stride, 4, false, 4);
    // A frame smaller than asked stays whole.
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgrx, false, 320, 240}, out, width,
                               height, stride));
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 128);
}

TEST(JpegDecoder, BrokenFramesFailOrDecodeAndTheNextFrameIsWhole) {
    const auto jpeg = BlocksJpeg(64, 48);
    JpegDecoder decoder;
    std::vector<uint8_t> out;
    int width = 0, height = 0, stride = 0;
    const JpegDecoder::Layout dib{JpegDecoder::Pixels::Bgr, true, 0, 0};
    const std::vector<uint8_t> garbage(500, 0x5a);
    EXPECT_FALSE(decoder.Decode(garbage.data(), garbage.size(), dib, out, width, height, stride));
    EXPECT_FALSE(decoder.Decode(jpeg.data(), 0, dib, out, width, height, stride));
    EXPECT_FALSE(decoder.Decode(nullptr, 10, dib, out, width, height, stride));
    EXPECT_FALSE(decoder.Decode(jpeg.data(), 40, dib, out, width, height, stride));  // headers cut short
    int sw = 0, sh = 0;
    EXPECT_FALSE(decoder.ReadSize(garbage.data(), garbage.size(), sw, sh));
    // Cut in its data, as a frame lost on a busy bus: it decodes, the lost part grey.
    decoder.Decode(jpeg.data(), jpeg.size() * 2 / 3, dib, out, width, height, stride);
    std::vector<uint8_t> flipped = jpeg;
    for (size_t i = flipped.size() / 2; i < flipped.size() - 2; i += 7) flipped[i] ^= 0xa5;
    decoder.Decode(flipped.data(), flipped.size(), dib, out, width, height, stride);
    // Whatever came before, the decoder is as good as new.
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), dib, out, width, height, stride));
    EXPECT_EQ(width, 64);
    ExpectBlocks(out, 64, 48, stride, 3, true, 1);
}

}  // namespace
