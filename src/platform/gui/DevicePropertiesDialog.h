#pragma once
// The capture device's own settings as a modal dialog: one slider per
// control of the source filter, applied live while it moves; "Annulla"
// puts the values found at opening back.

#include <QDialog>
#include <map>
#include <memory>
#include <string>

class QSlider;

namespace platform {
class SourceFilter;
}

class DevicePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    DevicePropertiesDialog(std::shared_ptr<platform::SourceFilter> source, QWidget* parent = nullptr);

    // The dialog of `source` owned by `parent`, shown modally. Main thread.
    static int ShowFor(std::shared_ptr<platform::SourceFilter> source, QWidget* parent);

    // The slider of a control (by DeviceControl::Id), nullptr when absent.
    QSlider* SliderFor(const std::string& id) const;
    bool HasControls() const { return !sliders_.empty(); }

    void reject() override;

private:
    std::shared_ptr<platform::SourceFilter> source_;
    std::map<std::string, QSlider*> sliders_;
    std::map<std::string, int> original_;
};
