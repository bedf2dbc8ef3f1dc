// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "wirelog.h"

#include "zecorla.h"

#include <QString>

Q_LOGGING_CATEGORY(corlaWire, "corla.wire", QtInfoMsg)

namespace {

// Installed during static initialisation, before main() and before any message is
// encoded or decoded. The category is looked up at each line, so rules set later count.
[[maybe_unused]] const bool wireReportsRouted = [] {
    setCorlaReportSink([](const std::string& line) {
        qCDebug(corlaWire).noquote() << QString::fromStdString(line);
    });
    return true;
}();

} // namespace
