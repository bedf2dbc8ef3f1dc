// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

namespace corla {

class MainWindow;

// For the demo and the tests of the window program: when CORLA_SNAPSHOT names a file, the
// window waits until it lists devices, every one probed, and its rows have not changed for
// two seconds, or at most CORLA_SNAPSHOT_AFTER_MS (default 6000); then it writes the rows to
// "<file>.rows" (status number, then the export line), saves itself to <file> as PNG and,
// with CORLA_SNAPSHOT_DIALOG set, the configuration dialog of the first reachable device to
// "<file minus .png>-config.png"; then it quits. Without CORLA_SNAPSHOT nothing happens.
void scheduleSnapshotFromEnvironment(MainWindow& window);

} // namespace corla
