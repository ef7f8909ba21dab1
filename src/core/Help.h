#pragma once
#include <string>

// Opens a page of the program's help; nothing is reported when it is missing.
void ShowHelpTopic(const std::string& page);
