// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

namespace corla {

// This process's limit on open descriptors, without Qt: every port probe holds a socket,
// so the probes' scheduler sizes itself by it, and the programs raise it at start.

// Raises the soft RLIMIT_NOFILE to the hard limit (Linux; elsewhere nothing to do). Returns
// false only when the soft limit is below the hard one and could not be raised. Qt's event
// dispatchers poll rather than select, so descriptors past FD_SETSIZE are fine.
bool raiseDescriptorLimit();

// The soft limit on open descriptors, or -1 where there is none or it cannot be read
// (Windows has no such limit on sockets).
long long currentDescriptorLimit();

} // namespace corla
