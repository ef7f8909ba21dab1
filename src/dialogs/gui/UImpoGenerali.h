#pragma once
// "Impostazioni generali": start with the session, start monitoring, the
// event log file and its size.

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class TImpoGenerali : public QDialog {
    Q_OBJECT
public:
    explicit TImpoGenerali(QWidget* parent = nullptr);

    QCheckBox* CheckBox2 = nullptr;  // EsecuzioneAutomatica
    QCheckBox* CheckBox3 = nullptr;  // AvviaMonitoraggio
    QCheckBox* CheckBox1 = nullptr;  // ScriviLog
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;      // DimMaxLog, megabytes
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

    void SpeedButton1Click();  // opens the log file in a text editor
    void SpeedButton2Click();  // deletes the log file
    void OkClick();
    void HelpClick();
};
