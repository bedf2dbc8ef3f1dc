// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/logging.h"

namespace corla {

// Info and above by default; debug only when a rule asks for it.
Q_LOGGING_CATEGORY(logDiscovery, "corla.discovery", QtInfoMsg)
Q_LOGGING_CATEGORY(logNet, "corla.net", QtInfoMsg)
Q_LOGGING_CATEGORY(logUi, "corla.ui", QtInfoMsg)

} // namespace corla
