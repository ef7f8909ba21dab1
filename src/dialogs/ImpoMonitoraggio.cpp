#include "dialogs/ImpoMonitoraggio.h"

#include "core/Globali.h"
#include "core/Numbers.h"
#include "platform/MessageBox.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace dialogs {

namespace {

constexpr const char* kTitle = "Attenzione";

const char* const kMessages[] = {
    "Il valore del campo \"Avvia calibrazione dopo\" non è valido.\n"
    "Inserire un numero maggiore di 0 e minore di 10000.",
    "Il valore del campo \"Attiva allarmi se si verificano almeno\" non è valido.\n"
    "Inserire un numero maggiore di 0 e minore di 1000.",
    "Il valore del campo \"Attiva allarmi se si verificano almeno\" è inferiore a 3.\n"
    "Questa impostazione potrebbe causare falsi allarmi. Generalemte è utilizzabile in\n"
    "sistemi di alta qualità. Impostare il valore inserito ?",
    "Il valore del campo \"Attiva allarmi se si verificano almeno\" è inferiore a 2.\n"
    "Questa impostazione potrebbe causare falsi allarmi. Generalemte è utilizzabile in\n"
    "sistemi di alta qualità. Impostare il valore inserito ?",
};

void Warn(int number) { platform::MessageBox(kMessages[number - 1], kTitle, platform::MB_OK | platform::MB_ICONWARNING); }

bool Confirm(int number) {
    return platform::MessageBox(kMessages[number - 1], kTitle, platform::MB_YESNO | platform::MB_ICONQUESTION) ==
           platform::IDYES;
}

// The fields' bounds, as their messages state them. Typing alone cannot pass
// them (4 and 3 digits), but a stored value shown whole can.
constexpr int32_t kWaitBelow = 10000;
constexpr int32_t kCountBelow = 1000;

// How one page's count of suspicious events is read and checked.
struct CountRule {
    int page;
    int32_t fallback;        // taken when the text is not a number
    int32_t advisedMinimum;  // below it the user confirms the value
    int question;
};

}  // namespace

std::string TimeWindowText(int32_t milliseconds) {
    // to_chars, not printf: the decimal point must not follow the locale.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, milliseconds / 1000.0, std::chars_format::fixed, 1);
    std::string text(buffer, result.ptr);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
    for (char& c : text)
        if (c == '.') c = ',';
    return text;
}

int32_t TimeWindowMilliseconds(const std::string& text) {
    std::string number = text;
    for (char& c : number)
        if (c == ',') c = '.';
    double seconds = 0;
    const char* end = number.data() + number.size();
    const auto result = std::from_chars(number.data(), end, seconds);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(seconds)) return 0;
    const double ms = std::round(seconds * 1000.0);
    if (ms < std::numeric_limits<int32_t>::min() || ms > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(ms);
}

MonitoringForm MonitoringFormFrom(const TSettings& s) {
    MonitoringForm f;
    f.Edit1 = std::to_string(s.AttesaPerCalibrazioneVideo);
    f.ComboBox2 = s.SesnsibilitaMotionDetector - 2;
    f.Edit2 = std::to_string(s.NumMinMovimentiPerAvviso);
    f.ComboBox1 = TimeWindowText(s.TempoMaxMovimentiPerAvviso);
    f.Edit3 = std::to_string(s.AttesaPerCalibrazioneAudio);
    f.ComboBox4 = s.SesnsibilitaAudioDetector - 1;
    f.Edit4 = std::to_string(s.NumMinRumoriPerAvviso);
    f.ComboBox3 = TimeWindowText(s.TempoMaxRumoriPerAvviso);
    return f;
}

MonitoringForm MonitoringDefaults() {
    MonitoringForm f;
    f.Edit1 = "3";
    f.ComboBox2 = 1;  // "Alta"
    f.Edit2 = "3";
    f.ComboBox1 = "4";
    f.Edit3 = "3";
    f.ComboBox4 = 1;
    f.Edit4 = "2";
    f.ComboBox3 = "2";
    return f;
}

MonitoringStop StoreMonitoringForm(const MonitoringForm& form, TSettings& s,
                                   const std::function<void(int page)>& showPage) {
    // Each check stores its value when it passes; false stops the walk.
    auto checkWait = [&](const std::string& text, int page, int32_t& target) {
        const int32_t wait = IntegerOr(text, 3);
        if (wait <= 0 || wait >= kWaitBelow) {
            showPage(page);
            Warn(1);
            return false;
        }
        target = wait;
        return true;
    };
    auto checkCount = [&](const std::string& text, const CountRule& rule, int32_t& target) {
        const int32_t count = IntegerOr(text, rule.fallback);
        if (count <= 0 || count >= kCountBelow) {
            showPage(rule.page);
            Warn(2);
            return false;
        }
        if (count < rule.advisedMinimum) {
            showPage(rule.page);
            if (!Confirm(rule.question)) return false;
        }
        target = count;
        return true;
    };

    const CountRule video{0, 3, 3, 3}, audio{1, 2, 2, 4};
    if (!checkWait(form.Edit1, video.page, s.AttesaPerCalibrazioneVideo)) return MonitoringStop::Edit1;
    s.SesnsibilitaMotionDetector = form.ComboBox2 + 2;
    if (!checkCount(form.Edit2, video, s.NumMinMovimentiPerAvviso)) return MonitoringStop::Edit2;
    s.TempoMaxMovimentiPerAvviso = TimeWindowMilliseconds(form.ComboBox1);
    if (!checkWait(form.Edit3, audio.page, s.AttesaPerCalibrazioneAudio)) return MonitoringStop::Edit3;
    s.SesnsibilitaAudioDetector = form.ComboBox4 + 1;
    if (!checkCount(form.Edit4, audio, s.NumMinRumoriPerAvviso)) return MonitoringStop::Edit4;
    s.TempoMaxRumoriPerAvviso = TimeWindowMilliseconds(form.ComboBox3);
    return MonitoringStop::None;
}

}  // namespace dialogs
