#include "core/Help.h"

#include "core/Globali.h"
#include "platform/HtmlHelp.h"

void ShowHelpTopic(const std::string& page) {
    platform::HtmlHelpDisplayTopic(ProgramDir + "Oculara.chm::/html/" + page);
}
