#pragma once
// "Configura connessione": how the notifications reach the Internet (an
// entry to dial first, the HTTP proxy). OK stores and saves at once.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TImpoConne : public QDialog {
    Q_OBJECT

public:
    explicit TImpoConne(QWidget* parent = nullptr);

    QGroupBox* GroupBox1 = nullptr;  // " Impostazioni "
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;

    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* HelpBtn = nullptr;

public Q_SLOTS:
    void RadioButtonClick();
    void CheckBox2Click();
    void CheckBox3Click();
    void OkClick();
    void HelpClick();
};
