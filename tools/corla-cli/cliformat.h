// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// What corla-cli prints. Pure functions over the device list: its texts and its CSV
// export are the window's, so the CSV is byte for byte the list's export and the table
// shows what the window shows.

#include "core/fleet/commissioning.h"
#include "core/fleet/devicelist.h"
#include "tools/corla-cli/command.h"

#include <QHash>
#include <QString>
#include <QTextStream>
#include <QVector>

#include <optional>

namespace corla {

// Why each probed device has its status, by MAC address text.
using CliReasons = QHash<QString, QString>;

// By serial number, then MAC address. withStatus adds each device's reachability and its
// reason (after --probe): a first and a last column in the table, "status" and "reason"
// members in JSON, two trailing columns in CSV; without it CSV is the export format alone.
void writeDevices(QTextStream& out, const DeviceList& list, CliFormat format, bool withStatus,
                  const CliReasons& reasons = {});
QString formatDevices(const DeviceList& list, CliFormat format, bool withStatus,
                      const CliReasons& reasons = {});

using corla::settingsText;

// How one plan row of `apply` ended, as the commissioning service reports it.
using CliOutcome = corla::RowOutcome;
using CliApplyRow = corla::ApplyRow;

// apply's report, a line per plan row in plan order. CSV: the as-left report the window
// saves too (corla::applyReportCsv). JSON: an array of objects with "found" and "left" null
// where unknown.
QString formatApplyReport(const QVector<CliApplyRow>& rows, CliFormat format);

} // namespace corla
