#pragma once
class QWidget;

// SIGTERM, SIGINT and SIGHUP are caught from here on. One that comes before
// the window exists waits for it, so a log-out during start-up still ends
// in a normal close instead of an unsaved death.
void CatchTerminationSignals();

// SIGTERM, SIGINT and SIGHUP close `window` as its title bar would, so a
// log-out or a kill runs the close handler and the settings get saved.
void CloseOnTerminationSignals(QWidget* window);
