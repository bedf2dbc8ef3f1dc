// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The as-left report of an applied plan, as corla-cli apply --report and the window's
// "Save report" write it: one function, so that both files are the same bytes for the same
// rows.

#include "core/fleet/commissioning.h"

#include <QString>
#include <QVector>

namespace corla {

// The serial number and the device type's name of the row's device; empty when no device
// with its MAC address was found.
QString foundSerialText(const ApplyRow& row);
QString foundTypeText(const ApplyRow& row);

// A header line, then a line per row in plan order: the line number, MAC address, serial
// number and type, the five settings as found and as left (empty where unknown) and the
// outcome. Fields are quoted as the export quotes them; every line ends in "\n".
QString applyReportCsv(const QVector<ApplyRow>& rows);

} // namespace corla
