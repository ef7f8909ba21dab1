#include "platform/MessageBox.h"
#include "platform/gui/QtMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

namespace {

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Waits for the modal box to show, notes what it shows, clicks `button`.
void ClickWhenShown(const QString& button, SeenBox* seen, int triesLeft = 500) {
    QTimer::singleShot(10, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->icon = box->icon();
            for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button) b->click();
            return;
        }
        if (triesLeft > 0) ClickWhenShown(button, seen, triesLeft - 1);
    });
}

class QtMessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = SetMessageBoxHandler({});
        InstallQtMessageBox();
    }
    void TearDown() override { SetMessageBoxHandler(previous); }
    MessageBoxHandler previous;
};

TEST_F(QtMessageBoxTest, YesNoQuestionAnswersYes) {
    SeenBox seen;
    ClickWhenShown(QString::fromUtf8("Sì"), &seen);
    EXPECT_EQ(MessageBox("Azzerare completamente il registro degli eventi ?", "Attenzione",
                         MB_YESNO | MB_ICONQUESTION),
              IDYES);
    EXPECT_EQ(seen.title, "Attenzione");
    EXPECT_EQ(seen.text, "Azzerare completamente il registro degli eventi ?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    seen.buttons.sort();
    EXPECT_EQ(seen.buttons, (QStringList{"No", QString::fromUtf8("Sì")}));
}

TEST_F(QtMessageBoxTest, ButtonsAndIconsFollowTheFlags) {
    SeenBox seen;
    ClickWhenShown("Annulla", &seen);
    EXPECT_EQ(MessageBox("Valore non valido", "Attenzione", MB_OKCANCEL | MB_ICONWARNING), IDCANCEL);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    seen.buttons.sort();
    EXPECT_EQ(seen.buttons, (QStringList{"Annulla", "OK"}));

    SeenBox third;
    ClickWhenShown("No", &third);
    EXPECT_EQ(MessageBox("Salvare?", "Oculara", MB_YESNOCANCEL | MB_ICONERROR), IDNO);
    EXPECT_EQ(third.icon, QMessageBox::Critical);
    EXPECT_EQ(third.buttons.size(), 3);
}

TEST_F(QtMessageBoxTest, OtherThreadsGetTheDefaultWithoutABox) {
    int answer = 0;
    std::thread([&] { answer = MessageBox("dal thread", "Attenzione", MB_YESNO | MB_ICONQUESTION); }).join();
    EXPECT_EQ(answer, IDYES);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QMessageBox*>(w), nullptr);
}

}  // namespace
