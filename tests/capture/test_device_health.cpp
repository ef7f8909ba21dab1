// The event log's words for a device that stopped watching or came back.

#include "capture/DeviceHealth.h"

#include <gtest/gtest.h>

using platform::DeviceNotice;

TEST(DeviceHealth, EachLossIsAnErrorNamingTheDeviceAndItsWatchAndAReturnIsInformation) {
    const DeviceNotice lostMic{DeviceNotice::Kind::Lost, DeviceNotice::Cause::Failed, platform::MajorType::Audio,
                               "Microfono USB", "Connection refused"};
    auto row = capture::DeviceNoticeRow(lostMic);
    EXPECT_EQ(row.type, "Errore");
    EXPECT_EQ(row.icon, 2);
    EXPECT_EQ(row.description,
              "Non risponde il dispositivo audio \"Microfono USB\": audiosorveglianza sospesa, nuovo tentativo in corso ...");

    const DeviceNotice silentCamera{DeviceNotice::Kind::Lost, DeviceNotice::Cause::Silent, platform::MajorType::Video,
                                    "Webcam", ""};
    row = capture::DeviceNoticeRow(silentCamera);
    EXPECT_EQ(row.type, "Errore");
    EXPECT_EQ(row.description.rfind("Non invia più dati il dispositivo video \"Webcam\": videosorveglianza sospesa", 0),
              0u)
        << row.description;

    const DeviceNotice moved{DeviceNotice::Kind::Lost, DeviceNotice::Cause::Moved, platform::MajorType::Audio, "Mic", ""};
    EXPECT_NE(capture::DeviceNoticeRow(moved).description.find("Il server audio ha sostituito il dispositivo audio \"Mic\""),
              std::string::npos);

    const DeviceNotice back{DeviceNotice::Kind::Restored, DeviceNotice::Cause::None, platform::MajorType::Video, "Webcam",
                            ""};
    row = capture::DeviceNoticeRow(back);
    EXPECT_EQ(row.type, "Informazione");
    EXPECT_EQ(row.icon, 3);
    EXPECT_EQ(row.description,
              "Di nuovo disponibile il dispositivo video \"Webcam\": videosorveglianza ripresa, calibrazione in corso ...");
}

TEST(DeviceHealth, ARecordingThatCannotBeWrittenIsAnErrorNamingTheFileAndWhy) {
    const DeviceNotice failed{DeviceNotice::Kind::RecordingFailed, DeviceNotice::Cause::Failed,
                              platform::MajorType::None, "/home/u/video/OCL-20240102030405.avi",
                              "No space left on the resource."};
    const auto row = capture::DeviceNoticeRow(failed);
    EXPECT_EQ(row.type, "Errore");
    EXPECT_EQ(row.icon, 2);
    EXPECT_EQ(row.description, "Impossibile scrivere la registrazione: /home/u/video/OCL-20240102030405.avi "
                               "(No space left on the resource.)");
}
