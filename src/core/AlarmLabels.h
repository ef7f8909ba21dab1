#pragma once
// Texts of the six captions of the main window's alarms panel.

#include <array>
#include <string>

struct TSettings;

// First character, "../" after a leading "/" (else "/../"), then the last
// component. A folder's trailing "/" is dropped before its last component
// is taken. "" for an empty path.
std::string ShortPathForm(const std::string& path, bool isFolder);

struct AlarmLabelTexts {
    std::string Label8, Label13, Label9, Label11, Label12, Label10;
};
AlarmLabelTexts ComposeAlarmLabels(const TSettings& s);
