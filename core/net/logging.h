// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The program's debug lines, by the part that writes them. They are off by default: the
// window's --verbose, corla-cli's -v or QT_LOGGING_RULES (e.g. "corla.*.debug=true" or
// "corla.net.debug=true") turn them on. Warnings are always written.

#include <QLoggingCategory>

namespace corla {

Q_DECLARE_LOGGING_CATEGORY(logDiscovery) // "corla.discovery": requests sent, answers dropped
Q_DECLARE_LOGGING_CATEGORY(logNet)       // "corla.net": echoes and address checks
Q_DECLARE_LOGGING_CATEGORY(logUi)        // "corla.ui": the window, dialog and settings pane

} // namespace corla
