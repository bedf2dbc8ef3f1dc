// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-snapshot: the window program as `corla` runs it, with the screenshot hook of
// windowsnapshot.h on top, for the demo and the tests. It is never installed.
#include "app/startup.h"
#include "tests/support/snapshot/windowsnapshot.h"

using namespace corla;

int main(int argc, char* argv[])
{
    return runWindowApplication(argc, argv, scheduleSnapshotFromEnvironment);
}
