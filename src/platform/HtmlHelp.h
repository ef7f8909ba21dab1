#pragma once
#include <string>

namespace platform {

// Shows a help topic given as "<dir>/Oculara.chm::/html/<page>": the page
// <dir>/help/html/<page> is opened in the default browser. False when the
// address has no such form or the page does not exist.
bool HtmlHelpDisplayTopic(const std::string& address);
// The file a help address maps to ("" when the address is malformed).
std::string HelpPageFile(const std::string& address);

}  // namespace platform
