#include "dialogs/gui/UImpoConne.h"
#include "controls/gui/Placement.h"

#include "core/Globali.h"
#include "core/Help.h"
#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/ListAndMaskRules.h"
#include "notify/Ras.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

using dialogs::Q;
using dialogs::S;

namespace {

int TextWidth(const QWidget* w, const char* text) { return w->fontMetrics().horizontalAdvance(QString::fromUtf8(text)); }

// A check box or radio button as wide as its caption.
template <typename B>
B* Choice(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* b = new B(QString::fromUtf8(caption), parent);
    return Place(b, name, left, top, b->sizeHint().width() + 4, 18);
}

QLineEdit* Field(QWidget* parent, const char* name, const char* caption, int captionLeft, int left, int top,
                 int width) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setGeometry(captionLeft, top + 3, left - captionLeft - 4, 14);
    return Place(new QLineEdit(parent), name, left, top, width, 21);
}

}  // namespace

TImpoConne::TImpoConne(QWidget* parent) : QDialog(parent) {
    setObjectName("TImpoConne");
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    GroupBox1 = new QGroupBox(QStringLiteral(" Impostazioni "), this);
    GroupBox1->setObjectName("GroupBox1");
    QWidget* g = GroupBox1;

    // One column for every edit, right of the widest caption.
    const int indent = 30, authIndent = 48;
    const int column = std::max({indent + TextWidth(this, "Nome utente:"), indent + TextWidth(this, "Password:"),
                                 indent + TextWidth(this, "Indirizzo o nome host:"),
                                 indent + TextWidth(this, "Numero porta:"), authIndent + TextWidth(this, "Nome utente:"),
                                 authIndent + TextWidth(this, "Password:")}) +
                       10;
    const int fieldWidth = 200;
    const int groupWidth = column + fieldWidth + 14;

    RadioButton1 = Choice<QRadioButton>(g, "RadioButton1", "Il computer è connesso ad Internet", 12, 22);
    RadioButton2 = Choice<QRadioButton>(g, "RadioButton2", "Attiva la seguente connessione", 12, 44);
    ComboBox1 = Place(new QComboBox(g), "ComboBox1", indent, 66, column + fieldWidth - indent, 22);
    ComboBox1->setMaxVisibleItems(12);
    dialogs::IgnoreTypedKeys(ComboBox1);
    Edit5 = Field(g, "Edit5", "Nome utente:", indent, column, 94, fieldWidth);
    Edit6 = Field(g, "Edit6", "Password:", indent, column, 120, fieldWidth);
    dialogs::MaskWithAsterisks(Edit6);
    CheckBox1 = Choice<QCheckBox>(g, "CheckBox1", "Disconnetti al termine", indent, 146);

    CheckBox2 = Choice<QCheckBox>(g, "CheckBox2", "Usa il seguente proxy server:", 12, 178);
    Edit1 = Field(g, "Edit1", "Indirizzo o nome host:", indent, column, 200, fieldWidth);
    Edit2 = Field(g, "Edit2", "Numero porta:", indent, column, 226, 60);
    dialogs::AcceptDigitsOnly(Edit2, 5);
    CheckBox3 = Choice<QCheckBox>(g, "CheckBox3", "Autenticazione:", indent, 252);
    Edit3 = Field(g, "Edit3", "Nome utente:", authIndent, column, 274, fieldWidth);
    Edit4 = Field(g, "Edit4", "Password:", authIndent, column, 300, fieldWidth);
    dialogs::MaskWithAsterisks(Edit4);
    for (QLineEdit* e : {Edit5, Edit6, Edit1, Edit3, Edit4}) dialogs::LimitTyping(e, 100);
    GroupBox1->setGeometry(8, 8, groupWidth, 334);

    const int width = groupWidth + 16, buttonsTop = 8 + 334 + 10;
    // Created in tab order.
    OKBtn = Place(new QPushButton("OK", this), "OKBtn", width - 8 - 100 - 2 * (6 + 80), buttonsTop, 80, 25);
    CancelBtn = Place(new QPushButton("Annulla", this), "CancelBtn", width - 8 - 100 - 6 - 80, buttonsTop, 80, 25);
    HelpBtn = Place(new QPushButton("Guida in linea", this), "HelpBtn", width - 8 - 100, buttonsTop, 100, 25);
    OKBtn->setDefault(true);
    dialogs::MakeFixedDialog(this, QStringLiteral("Configura connessione"), width, buttonsTop + 25 + 10);

    // Until the settings are in, nothing that depends on a choice is usable.
    ComboBox1->setEnabled(false);
    CheckBox3->setEnabled(false);
    for (QLineEdit* e : {Edit5, Edit6, Edit1, Edit2, Edit3, Edit4}) dialogs::SetFieldEnabled(e, false);

    for (const std::string& entry : notify::ListaConnessioni()) ComboBox1->addItem(Q(entry));
    const int stored = ComboBox1->findText(Q(Settings.Conn_NomeConnessione));
    ComboBox1->setCurrentIndex(stored >= 0 ? stored : (ComboBox1->count() > 0 ? 0 : -1));
    (Settings.Conn_AttivaConnessione ? RadioButton2 : RadioButton1)->setChecked(true);
    // "Autenticazione:" before its proxy box, so that a proxy left off also
    // clears it, as the proxy box's rule does whenever it is cleared.
    CheckBox3->setChecked(Settings.Conn_ProxyAuth);
    dialogs::ShowStored(Edit3, Q(Settings.Conn_ProxyUsername));
    dialogs::ShowStored(Edit4, Q(Settings.Conn_ProxyPassword));
    CheckBox2->setChecked(Settings.Conn_UsaProxy);
    dialogs::ShowStored(Edit1, Q(Settings.Conn_ProxyServer));
    dialogs::ShowStored(Edit2, Q(Settings.Conn_ProxyPorta));
    CheckBox1->setChecked(Settings.Conn_Disconnetti);
    dialogs::ShowStored(Edit5, Q(Settings.Conn_Username));
    dialogs::ShowStored(Edit6, Q(Settings.Conn_Password));

    connect(RadioButton2, &QRadioButton::toggled, this, &TImpoConne::RadioButtonClick);
    connect(CheckBox2, &QCheckBox::toggled, this, &TImpoConne::CheckBox2Click);
    connect(CheckBox3, &QCheckBox::toggled, this, &TImpoConne::CheckBox3Click);
    RadioButtonClick();
    CheckBox2Click();
    CheckBox3Click();

    connect(OKBtn, &QPushButton::clicked, this, &TImpoConne::OkClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpBtn, &QPushButton::clicked, this, &TImpoConne::HelpClick);
}

void TImpoConne::RadioButtonClick() {
    const bool dial = RadioButton2->isChecked();
    ComboBox1->setEnabled(dial);
    CheckBox1->setEnabled(dial);
    dialogs::SetFieldEnabled(Edit5, dial);
    dialogs::SetFieldEnabled(Edit6, dial);
}

void TImpoConne::CheckBox2Click() {
    const bool proxy = CheckBox2->isChecked();
    if (!proxy) CheckBox3->setChecked(false);
    CheckBox3->setEnabled(proxy);
    dialogs::SetFieldEnabled(Edit1, proxy);
    dialogs::SetFieldEnabled(Edit2, proxy);
}

void TImpoConne::CheckBox3Click() {
    const bool auth = CheckBox3->isChecked();
    dialogs::SetFieldEnabled(Edit3, auth);
    dialogs::SetFieldEnabled(Edit4, auth);
}

void TImpoConne::OkClick() {
    Settings.Conn_AttivaConnessione = RadioButton2->isChecked();
    Settings.Conn_NomeConnessione = S(ComboBox1->currentText());
    Settings.Conn_Disconnetti = CheckBox1->isChecked();
    Settings.Conn_Username = S(Edit5->text());
    Settings.Conn_Password = S(Edit6->text());
    Settings.Conn_UsaProxy = CheckBox2->isChecked();
    Settings.Conn_ProxyServer = S(Edit1->text());
    Settings.Conn_ProxyPorta = S(Edit2->text());
    Settings.Conn_ProxyAuth = CheckBox3->isChecked();
    Settings.Conn_ProxyUsername = S(Edit3->text());
    Settings.Conn_ProxyPassword = S(Edit4->text());
    SaveSettings();
    accept();
}

void TImpoConne::HelpClick() { ShowHelpTopic("connessione.htm"); }
