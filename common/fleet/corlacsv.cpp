#include "corlacsv.h"

#include <algorithm>

#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

QString csvHeader()
{
    return QStringLiteral(
        "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address");
}

QString csvField(const QString& text)
{
    static const QString needsQuotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return needsQuotes.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvLine(const TevDevice& device)
{
    const TevNetHostInfo& net = device.netHostInfo();
    const QString fields[] = {
        QString::number(device.serial()),          CorlaText::deviceType(device.devType()),
        CorlaText::address(net.ipAddress()),       CorlaText::address(net.subnetMask()),
        CorlaText::address(net.gateway()),         CorlaText::address(net.dns()),
        CorlaText::addressMode(net.addressMode()), CorlaText::mac(net.macAddress()),
    };
    QStringList line;
    for (const QString& field : fields)
        line << csvField(field);
    return line.join(QLatin1Char(','));
}

QString csvRecord(const QStringList& fields)
{
    QStringList line;
    for (const QString& field : fields)
        line << csvField(field);
    return line.join(QLatin1Char(','));
}

QStringList csvSettingFields(const std::optional<TevNetHostInfo>& settings)
{
    if (!settings)
        return {QString(), QString(), QString(), QString(), QString()};
    return {CorlaText::address(settings->ipAddress()), CorlaText::address(settings->subnetMask()),
            CorlaText::address(settings->gateway()), CorlaText::address(settings->dns()),
            CorlaText::addressMode(settings->addressMode())};
}

QString devicesCsv(const CorlaDeviceList::Devices& devices)
{
    QString csv = csvHeader() + QLatin1Char('\n');
    for (const auto& device : devices)
        csv += csvLine(*device) + QLatin1Char('\n');
    return csv;
}

CsvFileResult writeCsvFile(const QString& path, const QString& csv)
{
    CsvFileResult result;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        result.failure = CsvFileResult::NotOpened;
        result.reason = file.errorString();
        return result;
    }
    QTextStream out(&file);
    out << csv;
    out.flush();
    // Without a commit the new file is discarded: a short write never replaces the old one.
    if (out.status() != QTextStream::Ok || !file.commit()) {
        result.failure = CsvFileResult::NotWritten;
        result.reason = file.errorString();
    }
    return result;
}
