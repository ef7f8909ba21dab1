#include "dialogs/gui/UImpoMonitoraggio.h"
#include "controls/gui/Placement.h"

#include "core/Globali.h"
#include "core/Help.h"
#include "dialogs/ImpoMonitoraggio.h"
#include "dialogs/gui/DialogSupport.h"
#include "dialogs/gui/ListAndMaskRules.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr int kMargin = 12;
constexpr int kGap = 6;

// A label as wide as its text; returns where the next control may start.
int Caption(QWidget* page, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), page);
    const int width = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    label->setGeometry(left, top, width, 14);
    return left + width + kGap;
}

QComboBox* List(QWidget* page, const char* name, const char* const* items, int count, int left, int top,
                int width) {
    auto* list = Place(new QComboBox(page), name, left, top, width, 22);
    for (int i = 0; i < count; ++i) list->addItem(QString::fromUtf8(items[i]));
    list->setMaxVisibleItems(count);
    dialogs::IgnoreTypedKeys(list);
    return list;
}

struct PageNames {
    const char* wait;
    const char* sensitivity;
    const char* count;
    const char* window;
    const char* defaults;
    const char* sensitivityCaption;
    const char* countCaption;
};

struct PageControls {
    QLineEdit* wait;
    QComboBox* sensitivity;
    QLineEdit* count;
    QComboBox* window;
    QPushButton* defaults;
};

constexpr int kPageHeight = 186;

// Both pages share one layout; returns the width the page needs.
int BuildPage(QWidget* page, const PageNames& n, PageControls& c) {
    int x = Caption(page, "Avvia calibrazione dopo", kMargin, 21);
    c.wait = Place(new QLineEdit(page), n.wait, x, 18, 44, 21);
    dialogs::AcceptDigitsOnly(c.wait, 4);
    int right = Caption(page, "secondi", x + 44 + kGap, 21);

    right = std::max(right, Caption(page, n.sensitivityCaption, kMargin, 56));
    c.sensitivity = List(page, n.sensitivity, dialogs::kSensitivityItems, 5, kMargin, 73, 110);

    x = Caption(page, "Attiva allarmi se si verificano almeno ", kMargin, 115);
    c.count = Place(new QLineEdit(page), n.count, x, 112, 36, 21);
    dialogs::AcceptDigitsOnly(c.count, 3);
    x = Caption(page, n.countCaption, x + 36 + kGap, 115);
    c.window = List(page, n.window, dialogs::kTimeWindowItems, 9, x, 112, 56);
    right = std::max(right, Caption(page, "secondi", x + 56 + kGap, 115));

    c.defaults = new QPushButton(QString::fromUtf8("Ripristina impostazioni predefinite"), page);
    c.defaults->setObjectName(QString::fromLatin1(n.defaults));
    const int buttonWidth = c.defaults->fontMetrics().horizontalAdvance(c.defaults->text()) + 24;
    c.defaults->resize(buttonWidth, 25);
    return std::max(right - kGap, buttonWidth + kMargin) + kMargin;
}

// In the bottom right corner of a page `width` wide.
void PlaceDefaults(QPushButton* button, int width) {
    button->move(width - kMargin - button->width(), kPageHeight - 25 - kMargin);
}

void SelectText(QComboBox* list, const std::string& text) { list->setCurrentIndex(list->findText(dialogs::Q(text))); }

void SelectIndex(QComboBox* list, int index) { list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1); }

}  // namespace

TImpoMonitoraggio::TImpoMonitoraggio(QWidget* parent) : QDialog(parent) {
    setObjectName("TImpoMonitoraggio");
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, QStringLiteral(" Impostazioni video "));
    PageControl1->addTab(TabSheet2, QStringLiteral("Impostazioni audio"));

    PageControls video{}, audio{};
    const int videoWidth = BuildPage(
        TabSheet1,
        {"Edit1", "ComboBox2", "Edit2", "ComboBox1", "VideoDefaultsBtn",
         "Sensibilità del sistema di rilevazione dei movimenti sospetti:", "movimenti sospetti in"},
        video);
    const int audioWidth = BuildPage(TabSheet2,
                                     {"Edit3", "ComboBox4", "Edit4", "ComboBox3", "AudioDefaultsBtn",
                                      "Sensibilità del sistema di rilevazione dei rumori sospetti:", "rumori sospetti in"},
                                     audio);
    Edit1 = video.wait;
    ComboBox2 = video.sensitivity;
    Edit2 = video.count;
    ComboBox1 = video.window;
    VideoDefaultsBtn = video.defaults;
    Edit3 = audio.wait;
    ComboBox4 = audio.sensitivity;
    Edit4 = audio.count;
    ComboBox3 = audio.window;
    AudioDefaultsBtn = audio.defaults;

    // The pages' own width decides the window's; the tab frame adds a few pixels.
    const int pageWidth = std::max(videoWidth, audioWidth);
    PlaceDefaults(VideoDefaultsBtn, pageWidth);
    PlaceDefaults(AudioDefaultsBtn, pageWidth);
    const int tabsHeight = PageControl1->tabBar()->sizeHint().height() + kPageHeight + 4;
    PageControl1->setGeometry(8, 8, pageWidth + 4, tabsHeight);
    const int width = pageWidth + 20;
    const int buttonsTop = 8 + tabsHeight + 10;

    // Created in tab order.
    OKBtn = Place(new QPushButton("OK", this), "OKBtn", width - 8 - 100 - 2 * (6 + 80), buttonsTop, 80, 25);
    CancelBtn = Place(new QPushButton("Annulla", this), "CancelBtn", width - 8 - 100 - 6 - 80, buttonsTop, 80, 25);
    HelpBtn = Place(new QPushButton("Guida in linea", this), "HelpBtn", width - 8 - 100, buttonsTop, 100, 25);
    OKBtn->setDefault(true);
    dialogs::MakeFixedDialog(this, QStringLiteral("Impostazioni di monitoraggio "), width, buttonsTop + 25 + 10);

    connect(OKBtn, &QPushButton::clicked, this, &TImpoMonitoraggio::OkClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpBtn, &QPushButton::clicked, this, &TImpoMonitoraggio::HelpClick);
    connect(VideoDefaultsBtn, &QPushButton::clicked, this, &TImpoMonitoraggio::VideoDefaultsClick);
    connect(AudioDefaultsBtn, &QPushButton::clicked, this, &TImpoMonitoraggio::AudioDefaultsClick);

    const dialogs::MonitoringForm form = dialogs::MonitoringFormFrom(Settings);
    dialogs::ShowStored(Edit1, dialogs::Q(form.Edit1));
    SelectIndex(ComboBox2, form.ComboBox2);
    dialogs::ShowStored(Edit2, dialogs::Q(form.Edit2));
    SelectText(ComboBox1, form.ComboBox1);
    dialogs::ShowStored(Edit3, dialogs::Q(form.Edit3));
    SelectIndex(ComboBox4, form.ComboBox4);
    dialogs::ShowStored(Edit4, dialogs::Q(form.Edit4));
    SelectText(ComboBox3, form.ComboBox3);
    Edit1->setFocus();
}

void TImpoMonitoraggio::OkClick() {
    dialogs::MonitoringForm form;
    form.Edit1 = dialogs::S(Edit1->text());
    form.ComboBox2 = ComboBox2->currentIndex();
    form.Edit2 = dialogs::S(Edit2->text());
    form.ComboBox1 = dialogs::S(ComboBox1->currentText());
    form.Edit3 = dialogs::S(Edit3->text());
    form.ComboBox4 = ComboBox4->currentIndex();
    form.Edit4 = dialogs::S(Edit4->text());
    form.ComboBox3 = dialogs::S(ComboBox3->currentText());

    const auto stop =
        dialogs::StoreMonitoringForm(form, Settings, [this](int page) { PageControl1->setCurrentIndex(page); });
    switch (stop) {
    case dialogs::MonitoringStop::None: accept(); return;
    case dialogs::MonitoringStop::Edit1: Edit1->setFocus(); return;
    case dialogs::MonitoringStop::Edit2: Edit2->setFocus(); return;
    case dialogs::MonitoringStop::Edit3: Edit3->setFocus(); return;
    case dialogs::MonitoringStop::Edit4: Edit4->setFocus(); return;
    }
}

void TImpoMonitoraggio::HelpClick() { ShowHelpTopic("monitoraggio.htm"); }

void TImpoMonitoraggio::VideoDefaultsClick() {
    const dialogs::MonitoringForm d = dialogs::MonitoringDefaults();
    Edit1->setText(dialogs::Q(d.Edit1));
    SelectIndex(ComboBox2, d.ComboBox2);
    Edit2->setText(dialogs::Q(d.Edit2));
    SelectText(ComboBox1, d.ComboBox1);
}

void TImpoMonitoraggio::AudioDefaultsClick() {
    const dialogs::MonitoringForm d = dialogs::MonitoringDefaults();
    Edit3->setText(dialogs::Q(d.Edit3));
    SelectIndex(ComboBox4, d.ComboBox4);
    Edit4->setText(dialogs::Q(d.Edit4));
    SelectText(ComboBox3, d.ComboBox3);
}
