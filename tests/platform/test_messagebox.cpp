#include "platform/MessageBox.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(MessageBox, WithoutHandlerAnswersTheFirstButton) {
    MessageBoxHandler previous = SetMessageBoxHandler({});
    EXPECT_EQ(MessageBox("t", "c", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBox("t", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(MessageBox("t", "c", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBox("t", "c", MB_YESNOCANCEL | MB_ICONWARNING), IDYES);
    SetMessageBoxHandler(previous);
}

TEST(MessageBox, HandlerSeesTheRequestAndMayAskAgain) {
    std::vector<MessageBoxRequest> seen;
    MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        seen.push_back(r);
        // A nested box must not dead-lock on the handler's guard.
        if (seen.size() == 1) MessageBox("interna", "Attenzione", MB_OK);
        return IDNO;
    });
    EXPECT_EQ(MessageBox("Azzerare completamente il registro degli eventi ?", "Attenzione",
                         MB_YESNO | MB_ICONQUESTION),
              IDNO);
    MessageBoxHandler mine = SetMessageBoxHandler(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Azzerare completamente il registro degli eventi ?");
    EXPECT_EQ(seen[0].caption, "Attenzione");
    EXPECT_EQ(seen[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(seen[1].text, "interna");
    ASSERT_TRUE(mine);  // the handler handed back is the one installed
    EXPECT_EQ(mine({"x", "y", MB_OK}), IDNO);
}

}  // namespace
