// Camera JPEG frames decoded straight into the grabber's DIB and the
// window's small picture.

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "alarms/Photo.h"
#include "platform/GstPtr.h"
#include "platform/JpegDecoder.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"
#include "support/TestSupport.h"

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
    // 64x32 is 1/4 of the frame; 1/2 (128x64) is the first at least 70 wide.
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgrx, false, 70, 20}, out, width,
                               height, stride));
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 64);
    EXPECT_EQ(stride, 128 * 4);
    ExpectBlocks(out, width, height, stride, 4, false, 2);
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

// The JPEG as GStreamer's own decoder and converter make it: top-down BGR.
std::vector<uint8_t> GStreamerBgr(const std::string& path, int w, int h) {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPtr<GstElement> pipeline(gst_parse_launch(("filesrc location=\"" + path +
                                                  "\" ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! "
                                                  "appsink name=out sync=false")
                                                     .c_str(),
                                                 &error));
    if (error) g_error_free(error);
    std::vector<uint8_t> bgr;
    if (!pipeline) return bgr;
    GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstPtr<GstSample> sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
    GstVideoInfo info;
    GstVideoFrame frame;
    if (sample && gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ)) {
        for (int y = 0; y < h; ++y) {
            const auto* row = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                              ptrdiff_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            bgr.insert(bgr.end(), row, row + size_t(w) * 3);
        }
        gst_video_frame_unmap(&frame);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return bgr;
}

TEST(JpegDecoder, TheTestScenesPixelsAreGStreamersOwnWithinRounding) {
    // The detector's calibration was made on GStreamer's pixels: smoothing
    // the colours otherwise would change its noise, and with it when it is ready.
    const int w = 320, h = 240;
    TestCameraScene scene(w, h, TestSceneConfig{});
    std::vector<uint8_t> topDown(size_t(w) * h * 3), dib(topDown.size());
    scene.Render(5000, topDown.data(), w * 3);
    for (int y = 0; y < h; ++y)
        std::copy_n(topDown.begin() + ptrdiff_t(y) * w * 3, w * 3, dib.begin() + ptrdiff_t(h - 1 - y) * w * 3);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(alarms::EncodeJpeg(MakeRgbVideoType(SubType::RGB24, w, h), dib.data(), dib.size(), jpeg));
    testsupport::TempDir dir;
    const std::string path = dir / "scene.jpg";
    testsupport::WriteFile(path, std::string(jpeg.begin(), jpeg.end()));
    const std::vector<uint8_t> reference = GStreamerBgr(path, w, h);
    ASSERT_EQ(reference.size(), topDown.size());

    JpegDecoder decoder;
    std::vector<uint8_t> out;
    int width = 0, height = 0, stride = 0;
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), {JpegDecoder::Pixels::Bgr, false, 0, 0}, out, width,
                               height, stride));
    ASSERT_EQ(out.size(), reference.size());
    int far = 0, worst = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const int d = std::abs(int(out[i]) - int(reference[i]));
        worst = std::max(worst, d);
        far += d > 3;
    }
    EXPECT_EQ(far, 0) << "worst difference " << worst;
}

}  // namespace
