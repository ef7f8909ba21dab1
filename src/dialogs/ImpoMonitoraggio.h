#pragma once
// The detection settings as the monitoring dialog shows them, and the walk
// that stores them back field by field.

#include <cstdint>
#include <functional>
#include <string>

struct TSettings;

namespace dialogs {

// Both sensitivity lists, most sensitive first.
inline constexpr const char* kSensitivityItems[] = {"Massima", "Alta", "Media", "Bassa", "Minima"};
// Both time-window lists, in seconds with a decimal comma.
inline constexpr const char* kTimeWindowItems[] = {"0,5", "1", "1,5", "2", "2,5", "3", "3,5", "4", "4,5"};

// A time window in milliseconds as seconds with one decimal, a trailing
// ",0" dropped: 1500 -> "1,5", 4000 -> "4", 10000 -> "10".
std::string TimeWindowText(int32_t milliseconds);
// The reverse for a list text (comma or point), rounded to the nearest
// millisecond; 0 when the text is not a number (no item selected).
int32_t TimeWindowMilliseconds(const std::string& text);

// The dialog's eight controls: edit and list texts, list indices (-1 for
// none). Named after the controls that hold them.
struct MonitoringForm {
    std::string Edit1;      // video: calibration wait, seconds
    int ComboBox2 = -1;     // video: sensitivity, value - 2
    std::string Edit2;      // video: suspicious movements needed
    std::string ComboBox1;  // video: time window text
    std::string Edit3;      // audio: calibration wait, seconds
    int ComboBox4 = -1;     // audio: sensitivity, value - 1
    std::string Edit4;      // audio: suspicious noises needed
    std::string ComboBox3;  // audio: time window text
};

MonitoringForm MonitoringFormFrom(const TSettings& settings);
// What "Ripristina impostazioni predefinite" puts on either page.
MonitoringForm MonitoringDefaults();

// The control the walk stopped at; None when every value was stored.
enum class MonitoringStop { None, Edit1, Edit2, Edit3, Edit4 };

// Stores the form into `settings` one value at a time, in the dialog's
// order, keeping what passed before a failure. Before each warning or
// question `showPage` brings the page (0 video, 1 audio) to the front; the
// texts go through platform::MessageBox.
MonitoringStop StoreMonitoringForm(const MonitoringForm& form, TSettings& settings,
                                   const std::function<void(int page)>& showPage);

}  // namespace dialogs
