#pragma once
// Shared by the capture tests: GStreamer set up once per executable, the
// test devices switched on, small waiting helpers.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "support/TestSupport.h"
#include "platform/Capture.h"

namespace capturetest {

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    }

    testsupport::ScopedEnv testDevices_{"OCULARA_TEST_DEVICES", "1"};
    testsupport::ScopedEnv noFile_{"OCULARA_TEST_VIDEO_FILE", std::nullopt};
    testsupport::ScopedEnv fastIntruder_{"OCULARA_TEST_INTRUDER_SECONDS", std::nullopt};
};

// Polls `done` every 10 ms for at most `limitMs`; true once it holds.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline platform::DeviceInfo OnlyDevice(platform::DeviceCategory category, const std::string& name) {
    for (auto& d : platform::EnumerateDevices(category))
        if (d.FriendlyName == name) return d;
    ADD_FAILURE() << "no device named " << name;
    return {};
}

// A short MJPEG AVI made with the installed tools: `frames` frames at `fps`;
// "ball" moves from frame to frame, "smpte" stands still.
inline bool MakeTestVideo(const std::string& path, int width, int height, int frames, int fps,
                          const std::string& pattern = "ball") {
    std::string command = "gst-launch-1.0 -q videotestsrc pattern=" + pattern + " num-buffers=" + std::to_string(frames) +
                          " ! video/x-raw,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
                          ",framerate=" + std::to_string(fps) + "/1 ! jpegenc ! avimux ! filesink location='" +
                          path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace capturetest
