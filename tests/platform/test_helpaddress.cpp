#include "platform/HtmlHelp.h"
#include "platform/Shell.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::HelpPageFile;

namespace {

TEST(HelpPageFile, MapsTheHelpFileAddressIntoTheHelpFolder) {
    EXPECT_EQ(HelpPageFile("/opt/oculara/Oculara.chm::/html/introduzione.htm"),
              "/opt/oculara/help/html/introduzione.htm");
    EXPECT_EQ(HelpPageFile("/opt/oculara/Oculara.chm::/html/allarme_sms.htm#numero"),
              "/opt/oculara/help/html/allarme_sms.htm");
    EXPECT_EQ(HelpPageFile("/opt/oculara/Oculara.chm::/html/img/logo.png"),
              "/opt/oculara/help/html/img/logo.png");
}

TEST(HelpPageFile, RejectsMalformedAddressesAndEscapes) {
    for (const char* bad : {"/opt/oculara/Oculara.chm::/html/", "/opt/oculara/Oculara.chm::/html/#x",
                            "/opt/oculara/Oculara.chm::/html/../../etc/passwd",
                            "/opt/oculara/Oculara.chm::/html/img/../../x.htm",
                            "/opt/oculara/Oculara.chm::/html/..", "/opt/oculara/Oculara.chm::/html//x.htm",
                            "/opt/oculara/Oculara.chm::/introduzione.htm", "/opt/oculara/introduzione.htm",
                            "/opt/oculara/::/html/introduzione.htm", ""})
        EXPECT_EQ(HelpPageFile(bad), "") << bad;
}

TEST(HtmlHelpDisplayTopic, OpensTheExistingPageAsAnEncodedFileUrl) {
    testsupport::TempDir dir;
    const std::string programDir = dir / "Programma con spazi è 100%/";
    std::filesystem::create_directories(programDir + "help/html");
    testsupport::WriteFile(programDir + "help/html/introduzione.htm", "<html></html>");
    std::filesystem::create_directory(dir / "bin");
    testsupport::WriteFile(dir / "bin/xdg-open", "#!/bin/sh\n");
    chmod((dir / "bin/xdg-open").c_str(), 0755);
    testsupport::ScopedEnv path("PATH", dir / "bin");
    std::vector<std::vector<std::string>> calls;
    platform::SetSpawnForTests([&](const std::vector<std::string>& argv) {
        calls.push_back(argv);
        return true;
    });

    EXPECT_TRUE(platform::HtmlHelpDisplayTopic(programDir + "Oculara.chm::/html/introduzione.htm#inizio"));
    EXPECT_FALSE(platform::HtmlHelpDisplayTopic(programDir + "Oculara.chm::/html/monitoraggio.htm"));
    EXPECT_FALSE(platform::HtmlHelpDisplayTopic(programDir + "Oculara.chm::/html/"));
    platform::SetSpawnForTests({});

    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{
                            dir / "bin/xdg-open",
                            "file://" + dir.path() +
                                "/Programma%20con%20spazi%20%C3%A8%20100%25/help/html/introduzione.htm#inizio"}));
}

}  // namespace
