#include "platform/gui/QtMessageBox.h"

#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <vector>

namespace {

QMessageBox::Icon IconFor(unsigned flags) {
    switch (flags & 0xF0) {
        case platform::MB_ICONERROR: return QMessageBox::Critical;
        case platform::MB_ICONQUESTION: return QMessageBox::Question;
        case platform::MB_ICONWARNING: return QMessageBox::Warning;
        case platform::MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

struct ButtonChoice {
    QMessageBox::StandardButton button;
    const char* text;
    int answer;
};

std::vector<ButtonChoice> ButtonsFor(unsigned flags) {
    const ButtonChoice ok{QMessageBox::Ok, "OK", platform::IDOK};
    const ButtonChoice cancel{QMessageBox::Cancel, "Annulla", platform::IDCANCEL};
    const ButtonChoice yes{QMessageBox::Yes, "Sì", platform::IDYES};
    const ButtonChoice no{QMessageBox::No, "No", platform::IDNO};
    switch (flags & 0xF) {
        case platform::MB_OKCANCEL: return {ok, cancel};
        case platform::MB_YESNOCANCEL: return {yes, no, cancel};
        case platform::MB_YESNO: return {yes, no};
        default: return {ok};
    }
}

int ShowQtMessageBox(const platform::MessageBoxRequest& request) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        // A worker must never wait on the GUI: it gets the default answer.
        std::fprintf(stderr, "Oculara: finestra di messaggio chiesta fuori dal thread principale\n");
        return platform::DefaultMessageBoxAnswer(request);
    }
    QMessageBox box(IconFor(request.flags), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    const std::vector<ButtonChoice> choices = ButtonsFor(request.flags);
    for (const auto& choice : choices) box.addButton(choice.button)->setText(QString::fromUtf8(choice.text));
    box.setDefaultButton(choices.front().button);
    box.exec();
    const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
    for (const auto& choice : choices)
        if (choice.button == clicked) return choice.answer;
    // Closed without a button: the way out the box offers.
    for (const auto& choice : choices)
        if (choice.answer == platform::IDCANCEL) return choice.answer;
    return choices.size() == 1 ? platform::IDOK : platform::IDNO;
}

}  // namespace

void InstallQtMessageBox() { platform::SetMessageBoxHandler(ShowQtMessageBox); }
