#pragma once
// The message-box seam. The GUI installs a handler that shows a real modal
// box on the main thread; tests install one that records and answers.

#include <functional>
#include <string>

namespace platform {

enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    unsigned flags = MB_OK;
};
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Main thread only. Without a handler the text goes to stderr and the
// answer is the box's first button (IDOK or IDYES).
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
// Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// What happens without a handler: the text goes to stderr, the answer is
// the first button. Handlers that cannot show a box fall back to it.
int DefaultMessageBoxAnswer(const MessageBoxRequest& request);

}  // namespace platform
