#pragma once
// Two input rules the settings dialogs share beside DialogSupport.h.

class QComboBox;
class QLineEdit;

namespace dialogs {

// A drop-down list whose item changes only by mouse or arrow keys: typed
// characters do not search the items, neither in the box nor in its popup.
void IgnoreTypedKeys(QComboBox* list);

// A password field that shows one "*" per character.
void MaskWithAsterisks(QLineEdit* edit);

}  // namespace dialogs
