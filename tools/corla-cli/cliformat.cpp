#include "cliformat.h"

#include "corlacsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVector>

#include <algorithm>

namespace {

using Devices = CorlaDeviceList::Devices;

QString reasonOf(const TevDevice& device, const CliReasons& reasons)
{
    return reasons.value(CorlaText::mac(device.netHostInfo().macAddress()));
}

QString formatTable(const Devices& devices, bool withStatus, const CliReasons& reasons)
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
        const TevNetHostInfo& net = device->netHostInfo();
        QStringList line;
        if (withStatus)
            line << CorlaText::status(device->netStat());
        line << CorlaText::deviceType(device->devType()) << QString::number(device->serial())
             << CorlaText::address(net.ipAddress()) << CorlaText::addressMode(net.addressMode())
             << CorlaText::mac(net.macAddress()) << CorlaText::address(device->commsIfaceAddr());
        if (withStatus)
            line << reasonOf(*device, reasons);
        lines << line;
    }

    QVector<int> widths(header.size(), 0);
    for (const QStringList& line : qAsConst(lines)) {
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], int(line.at(i).size()));
    }
    QString out;
    for (const QStringList& line : qAsConst(lines)) {
        QString row;
        for (int i = 0; i < line.size(); ++i)
            row += i + 1 < line.size() ? line.at(i).leftJustified(widths.at(i) + 2) : line.at(i);
        out += row + QLatin1Char('\n');
    }
    return out;
}

QString formatJson(const Devices& devices, bool withStatus, const CliReasons& reasons)
{
    QJsonArray array;
    for (const auto& device : devices) {
        const TevNetHostInfo& net = device->netHostInfo();
        QJsonObject o{
            {"serial", int(device->serial())},
            {"deviceType", CorlaText::deviceType(device->devType())},
            {"deviceTypeCode", int(device->devType())},
            {"ipAddress", CorlaText::address(net.ipAddress())},
            {"subnetMask", CorlaText::address(net.subnetMask())},
            {"gateway", CorlaText::address(net.gateway())},
            {"dnsServer", CorlaText::address(net.dns())},
            {"addressMode", CorlaText::addressMode(net.addressMode())},
            {"macAddress", CorlaText::mac(net.macAddress())},
            {"interface", CorlaText::address(device->commsIfaceAddr())},
        };
        if (withStatus) {
            o.insert("status", CorlaText::status(device->netStat()));
            o.insert("reason", reasonOf(*device, reasons));
        }
        array.append(o);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

// The export, and after a probe each line's status and reason behind it.
QString formatCsv(const Devices& devices, bool withStatus, const CliReasons& reasons)
{
    if (!withStatus)
        return devicesCsv(devices);
    QString csv = csvHeader() + QStringLiteral(",Status,Reason\n");
    for (const auto& device : devices)
        csv += csvLine(*device) + QLatin1Char(',') +
               csvField(CorlaText::status(device->netStat())) + QLatin1Char(',') +
               csvField(reasonOf(*device, reasons)) + QLatin1Char('\n');
    return csv;
}

} // namespace

QString formatDevices(const CorlaDeviceList& list, CliFormat format, bool withStatus,
                      const CliReasons& reasons)
{
    const Devices devices = list.sortedBySerial();
    switch (format) {
    case CliFormat::Csv:
        return formatCsv(devices, withStatus, reasons);
    case CliFormat::Json:
        return formatJson(devices, withStatus, reasons);
    case CliFormat::Table:
        break;
    }
    return formatTable(devices, withStatus, reasons);
}

QString settingsText(const TevNetHostInfo& settings)
{
    QString mode;
    switch (settings.addressMode()) {
    case TevAddressModeAuto:
        mode = QStringLiteral("DHCP");
        break;
    case TevAddressModeManual:
        mode = QStringLiteral("static");
        break;
    default:
        mode = QStringLiteral("mode %1").arg(uint(settings.addressMode()));
        break;
    }
    return QStringLiteral("%1 %2 mask %3 gateway %4 DNS %5")
        .arg(mode, CorlaText::address(settings.ipAddress()),
             CorlaText::address(settings.subnetMask()), CorlaText::address(settings.gateway()),
             CorlaText::address(settings.dns()));
}
