// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

#include <functional>

namespace corla {

class MainWindow;

// The window program from its command line to its end: --help and --version are answered on
// standard output before any window or socket exists, a mistaken command line ends with status
// 1 before anything is sent, and otherwise the window opens on this computer's networks. When
// given, `shown` is called with the window once it is shown, before the event loop starts.
// Returns the exit status.
int runWindowApplication(int argc, char* argv[],
                         const std::function<void(MainWindow&)>& shown = {});

} // namespace corla
