#pragma once
// "Impostazioni di monitoraggio ": the detection settings of the video and
// audio detectors, edited in memory (the registry gets them at the next save).

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

class TImpoMonitoraggio : public QDialog {
    Q_OBJECT

public:
    explicit TImpoMonitoraggio(QWidget* parent = nullptr);

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;  // " Impostazioni video "
    QWidget* TabSheet2 = nullptr;  // "Impostazioni audio"
    // Video page
    QLineEdit* Edit1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* VideoDefaultsBtn = nullptr;
    // Audio page
    QLineEdit* Edit3 = nullptr;
    QComboBox* ComboBox4 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QPushButton* AudioDefaultsBtn = nullptr;

    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* HelpBtn = nullptr;

public Q_SLOTS:
    void OkClick();
    void HelpClick();
    void VideoDefaultsClick();
    void AudioDefaultsClick();
};
