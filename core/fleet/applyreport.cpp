// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/applyreport.h"

#include "core/fleet/csv.h"
#include "core/fleet/devicelist.h"

#include <QStringList>

namespace corla {

QString foundSerialText(const ApplyRow& row)
{
    return row.found ? QString::number(row.serial) : QString();
}

QString foundTypeText(const ApplyRow& row)
{
    return row.found ? DisplayText::deviceType(row.type) : QString();
}

QString applyReportCsv(const QVector<ApplyRow>& rows)
{
    static const char* const settingNames[] = {"IP Address", "Subnet Mask", "Gateway", "DNS Server",
                                               "Address mode"};
    QStringList header{"Line", "MAC Address", "Serial", "Device Type"};
    for (const char* when : {"Found", "Left"})
        for (const char* name : settingNames)
            header << QStringLiteral("%1 %2").arg(QLatin1String(when), QLatin1String(name));
    header << "Outcome";
    QString csv = header.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const ApplyRow& row : rows) {
        csv += csvRecord(QStringList{QString::number(row.line), DisplayText::mac(row.mac),
                                     foundSerialText(row), foundTypeText(row)} +
                         csvSettingFields(row.found) + csvSettingFields(row.left) +
                         QStringList{row.outcomeText()}) +
               QLatin1Char('\n');
    }
    return csv;
}

} // namespace corla
