#pragma once
// The program's debug lines, by the part that writes them. All are on by default;
// QT_LOGGING_RULES (e.g. "corla.*.debug=false") quiets them.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(corlaDiscovery) // "corla.discovery": requests sent, answers dropped
Q_DECLARE_LOGGING_CATEGORY(corlaNet)       // "corla.net": echoes and address checks
Q_DECLARE_LOGGING_CATEGORY(corlaUi)        // "corla.ui": the window, dialog and settings pane
