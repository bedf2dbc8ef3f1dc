// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/discovery/wirelog.h"

#include "core/wire/codec.h"

#include <QString>

namespace corla {

Q_LOGGING_CATEGORY(logWire, "corla.wire", QtInfoMsg)

namespace {

// Installed during static initialisation, before main() and before any message is
// encoded or decoded. The category is looked up at each line, so rules set later count.
[[maybe_unused]] const bool wireReportsRouted = [] {
    setCorlaReportSink([](const std::string& line) {
        qCDebug(logWire).noquote() << QString::fromStdString(line);
    });
    return true;
}();

} // namespace

} // namespace corla
