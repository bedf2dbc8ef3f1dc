// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/cliformat.h"

#include "core/fleet/applyreport.h"
#include "core/fleet/csv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <QVector>

#include <algorithm>

namespace corla {

namespace {

using Devices = DeviceList::Devices;

// Lines of cells as columns two blanks apart; the first line is the header.
QString alignedColumns(const QList<QStringList>& lines)
{
    QVector<int> widths(lines.first().size(), 0);
    for (const QStringList& line : lines) {
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], int(line.at(i).size()));
    }
    QString out;
    for (const QStringList& line : lines) {
        QString row;
        for (int i = 0; i < line.size(); ++i)
            row += i + 1 < line.size() ? line.at(i).leftJustified(widths.at(i) + 2) : line.at(i);
        out += row + QLatin1Char('\n');
    }
    return out;
}

// What the list says of the device's answers when two senders disagree about it.
QString conflictOf(const DeviceList& list, const Device& device)
{
    const auto conflict = list.conflict(device.netHostInfo().macAddress());
    return conflict ? conflict->text() : QString();
}

// A conflicting device's reachability is not the point: which host answers for it is.
QString statusOf(const DeviceList& list, const Device& device)
{
    return list.isConflicting(device.netHostInfo().macAddress())
               ? QStringLiteral("Conflict")
               : DisplayText::status(device.netStat());
}

QString reasonOf(const DeviceList& list, const Device& device, const CliReasons& reasons)
{
    const QString conflict = conflictOf(list, device);
    return conflict.isEmpty() ? reasons.value(DisplayText::mac(device.netHostInfo().macAddress()))
                              : conflict;
}

QString formatTable(const DeviceList& list, const Devices& devices, bool withStatus,
                    const CliReasons& reasons)
{
    QList<QStringList> lines;
    QStringList header;
    if (withStatus)
        header << QStringLiteral("Status");
    header << QStringLiteral("Device Type") << QStringLiteral("Serial #")
           << QStringLiteral("IP Address") << QStringLiteral("Mode")
           << QStringLiteral("MAC Address") << QStringLiteral("Interface");
    if (withStatus)
        header << QStringLiteral("Reason");
    lines << header;
    for (const auto& device : devices) {
        const NetworkSettings& net = device->netHostInfo();
        QStringList line;
        if (withStatus)
            line << statusOf(list, *device);
        line << DisplayText::deviceType(device->devType()) << QString::number(device->serial())
             << DisplayText::address(net.ipAddress()) << DisplayText::addressMode(net.addressMode())
             << DisplayText::mac(net.macAddress())
             << DisplayText::address(device->commsIfaceAddr());
        if (withStatus)
            line << reasonOf(list, *device, reasons);
        lines << line;
    }
    QString notes;
    for (const auto& device : devices) {
        const QString conflict = conflictOf(list, *device);
        if (!conflict.isEmpty() && !withStatus)
            notes += QStringLiteral("Conflicting %1: %2\n")
                         .arg(DisplayText::mac(device->netHostInfo().macAddress()), conflict);
    }
    return alignedColumns(lines) + notes;
}

// Written object by object: a fleet of tens of thousands is never held twice in memory.
void writeJson(QTextStream& out, const DeviceList& list, const Devices& devices, bool withStatus,
               const CliReasons& reasons)
{
    out << '[';
    bool first = true;
    for (const auto& device : devices) {
        const NetworkSettings& net = device->netHostInfo();
        QJsonObject o{
            {"serial", int(device->serial())},
            {"deviceType", DisplayText::deviceType(device->devType())},
            {"deviceTypeCode", int(device->devType())},
            {"ipAddress", DisplayText::address(net.ipAddress())},
            {"subnetMask", DisplayText::address(net.subnetMask())},
            {"gateway", DisplayText::address(net.gateway())},
            {"dnsServer", DisplayText::address(net.dns())},
            {"addressMode", DisplayText::addressMode(net.addressMode())},
            {"macAddress", DisplayText::mac(net.macAddress())},
            {"interface", DisplayText::address(device->commsIfaceAddr())},
        };
        const QString conflict = conflictOf(list, *device);
        o.insert("conflict", conflict.isEmpty() ? QJsonValue::Null : QJsonValue(conflict));
        if (withStatus) {
            o.insert("status", statusOf(list, *device));
            o.insert("reason", reasonOf(list, *device, reasons));
        }
        out << (first ? "\n" : ",\n")
            << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed();
        first = false;
    }
    out << (first ? "]\n" : "\n]\n");
}

// The export, and after a probe each line's status and reason behind it.
QString formatCsv(const DeviceList& list, const Devices& devices, bool withStatus,
                  const CliReasons& reasons)
{
    if (!withStatus)
        return devicesCsv(devices);
    QString csv = csvHeader() + QStringLiteral(",Status,Reason\n");
    for (const auto& device : devices)
        csv += csvLine(*device) + QLatin1Char(',') + csvField(statusOf(list, *device)) +
               QLatin1Char(',') + csvField(reasonOf(list, *device, reasons)) + QLatin1Char('\n');
    return csv;
}

} // namespace

void writeDevices(QTextStream& out, const DeviceList& list, CliFormat format, bool withStatus,
                  const CliReasons& reasons)
{
    const Devices devices = list.sortedBySerial();
    switch (format) {
    case CliFormat::Csv:
        out << formatCsv(list, devices, withStatus, reasons);
        return;
    case CliFormat::Json:
        writeJson(out, list, devices, withStatus, reasons);
        return;
    case CliFormat::Table:
    case CliFormat::Jsonl: // watch's events only; the list has no such format
        break;
    }
    out << formatTable(list, devices, withStatus, reasons);
}

QString formatDevices(const DeviceList& list, CliFormat format, bool withStatus,
                      const CliReasons& reasons)
{
    QString text;
    QTextStream out(&text);
    writeDevices(out, list, format, withStatus, reasons);
    out.flush();
    return text;
}

namespace {

QJsonValue settingsJson(const std::optional<NetworkSettings>& net)
{
    if (!net)
        return QJsonValue::Null;
    const QStringList f = csvSettingFields(net);
    return QJsonObject{{"ipAddress", f.at(0)},
                       {"subnetMask", f.at(1)},
                       {"gateway", f.at(2)},
                       {"dnsServer", f.at(3)},
                       {"addressMode", f.at(4)}};
}

QString applyJson(const QVector<CliApplyRow>& rows)
{
    QJsonArray array;
    for (const CliApplyRow& row : rows) {
        array.append(QJsonObject{
            {"line", row.line},
            {"macAddress", DisplayText::mac(row.mac)},
            {"serial", row.found ? QJsonValue(int(row.serial)) : QJsonValue::Null},
            {"deviceType", row.found ? QJsonValue(corla::foundTypeText(row)) : QJsonValue::Null},
            {"found", settingsJson(row.found)},
            {"left", settingsJson(row.left)},
            {"outcome", row.outcomeText()},
        });
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

QString applyTable(const QVector<CliApplyRow>& rows)
{
    QList<QStringList> lines{
        {"Line", "MAC Address", "Serial #", "Device Type", "Found", "Left", "Outcome"}};
    for (const CliApplyRow& row : rows)
        lines << QStringList{QString::number(row.line),
                             DisplayText::mac(row.mac),
                             corla::foundSerialText(row),
                             corla::foundTypeText(row),
                             row.found ? settingsText(*row.found) : QString(),
                             row.left ? settingsText(*row.left) : QString(),
                             row.outcomeText()};
    return alignedColumns(lines);
}

} // namespace

QString formatApplyReport(const QVector<CliApplyRow>& rows, CliFormat format)
{
    switch (format) {
    case CliFormat::Csv:
        return corla::applyReportCsv(rows);
    case CliFormat::Json:
        return applyJson(rows);
    case CliFormat::Table:
    case CliFormat::Jsonl: // watch's events only
        break;
    }
    return applyTable(rows);
}

} // namespace corla
