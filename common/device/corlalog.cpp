// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "corlalog.h"

// Info and above by default; debug only when a rule asks for it.
Q_LOGGING_CATEGORY(corlaDiscovery, "corla.discovery", QtInfoMsg)
Q_LOGGING_CATEGORY(corlaNet, "corla.net", QtInfoMsg)
Q_LOGGING_CATEGORY(corlaUi, "corla.ui", QtInfoMsg)
