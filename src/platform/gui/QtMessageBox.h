#pragma once
// Puts a real modal box behind platform::MessageBox: call once, on the main
// thread, after the QApplication exists.

void InstallQtMessageBox();
