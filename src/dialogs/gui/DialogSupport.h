#pragma once
// What the settings dialogs share: fixed modal windows centred on the
// screen, the typing rules of their fields, the grey of a disabled field.

#include <QDialog>
#include <QLineEdit>
#include <QString>

#include <string>

namespace dialogs {

inline QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
inline std::string S(const QString& text) { return text.toStdString(); }

// Modal, fixed at width x height, centred on the screen when shown.
void MakeFixedDialog(QDialog* dialog, const QString& caption, int width, int height);

// A field's length limit is a typing rule: no key, paste or drop lengthens
// its text past `limit` characters (0: no limit). A longer stored text that
// ShowStored put in stays whole and may only get shorter; nothing is cut.
void LimitTyping(QLineEdit* edit, int limit);

// LimitTyping, and only the keys 0 to 9 and backspace reach the field; no
// edit (a paste included) adds any other character.
void AcceptDigitsOnly(QLineEdit* edit, int limit);

// Fills a field with a stored value, whole: a value longer than the field's
// limit, or holding characters its keys may not type, is shown as it is, and
// edits from there follow the field's rules.
void ShowStored(QLineEdit* edit, const QString& text);

// Enabled fields have the window colour, disabled ones light grey (232).
void SetFieldEnabled(QWidget* field, bool enabled);

// A child of `parent` with this objectName, or nullptr.
template <typename T>
T* Find(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace dialogs
