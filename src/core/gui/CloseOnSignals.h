#pragma once
class QWidget;

// SIGTERM, SIGINT and SIGHUP close `window` as its title bar would, so a
// log-out or a kill runs the close handler and the settings get saved.
void CloseOnTerminationSignals(QWidget* window);
