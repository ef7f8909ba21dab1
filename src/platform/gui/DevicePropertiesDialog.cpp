#include "platform/gui/DevicePropertiesDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "platform/Capture.h"

DevicePropertiesDialog::DevicePropertiesDialog(std::shared_ptr<platform::SourceFilter> source, QWidget* parent)
    : QDialog(parent), source_(std::move(source)) {
    setModal(true);
    setWindowTitle(QString::fromStdString(source_ ? source_->FriendlyName() : std::string()));
    auto* layout = new QVBoxLayout(this);
    const auto controls = source_ ? source_->GetControls() : std::vector<platform::DeviceControl>{};
    if (controls.empty()) {
        auto* none = new QLabel(QStringLiteral("Il dispositivo non ha impostazioni regolabili."), this);
        none->setObjectName(QStringLiteral("NoControls"));
        layout->addWidget(none);
    } else {
        auto* form = new QFormLayout;
        for (const auto& c : controls) {
            auto* slider = new QSlider(Qt::Horizontal, this);
            slider->setObjectName(QString::fromStdString(c.Id));
            slider->setRange(c.Min, c.Max);
            slider->setValue(c.Value);
            slider->setMinimumWidth(220);
            const std::string id = c.Id;
            // Applied while it moves, so the user sees the effect in the preview.
            connect(slider, &QSlider::valueChanged, this, [this, id](int v) { source_->SetControl(id, v); });
            form->addRow(QString::fromStdString(c.Label), slider);
            sliders_[c.Id] = slider;
            original_[c.Id] = c.Value;
        }
        layout->addLayout(form);
    }
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DevicePropertiesDialog::reject);
    layout->addWidget(buttons);
}

int DevicePropertiesDialog::ShowFor(std::shared_ptr<platform::SourceFilter> source, QWidget* parent) {
    DevicePropertiesDialog dialog(std::move(source), parent);
    return dialog.exec();
}

QSlider* DevicePropertiesDialog::SliderFor(const std::string& id) const {
    auto it = sliders_.find(id);
    return it == sliders_.end() ? nullptr : it->second;
}

void DevicePropertiesDialog::reject() {
    for (const auto& [id, value] : original_) source_->SetControl(id, value);
    QDialog::reject();
}
