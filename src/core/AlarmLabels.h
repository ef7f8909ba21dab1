#pragma once
// Texts of the six captions of the main window's alarms panel.

#include <array>
#include <string>

struct TSettings;

// First character, "../" after a leading "/" (else "/../"), then the last
// component. A folder's trailing "/" is dropped before its last component
// is taken. "" for an empty path.
std::string ShortPathForm(const std::string& path, bool isFolder);

// A caption is a fixed prefix and the value taken from the settings; kept
// apart so that a caption too long for its place can shorten the value only.
struct AlarmCaption {
    std::string prefix, value;
    std::string Whole() const { return prefix + value; }
};
// In the rows' order: sound, SMS, e-mail, recording, photo, run a file
// (Label8, Label13, Label9, Label11, Label12, Label10).
std::array<AlarmCaption, 6> ComposeAlarmCaptions(const TSettings& s);

struct AlarmLabelTexts {
    std::string Label8, Label13, Label9, Label11, Label12, Label10;
};
AlarmLabelTexts ComposeAlarmLabels(const TSettings& s);
