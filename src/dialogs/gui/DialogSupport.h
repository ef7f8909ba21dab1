#pragma once
// What the settings dialogs share: fixed modal windows centred on the
// screen, digits-only fields, the grey of a disabled field.

#include <QDialog>
#include <QLineEdit>
#include <QString>

#include <string>

namespace dialogs {

inline QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
inline std::string S(const QString& text) { return text.toStdString(); }

// Modal, fixed at width x height, centred on the screen when shown.
void MakeFixedDialog(QDialog* dialog, const QString& caption, int width, int height);

// Only the keys 0 to 9 and backspace reach the field (pasted text is kept
// to digits too); at most maxLength characters (0: no limit).
void AcceptDigitsOnly(QLineEdit* edit, int maxLength);

// Enabled fields have the window colour, disabled ones light grey (232).
void SetFieldEnabled(QWidget* field, bool enabled);

// A child of `parent` with this objectName, or nullptr.
template <typename T>
T* Find(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace dialogs
