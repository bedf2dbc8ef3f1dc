// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/csv.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTextCodec>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace corla {

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

QString csvLine(const Device& device)
{
    const NetworkSettings& net = device.netHostInfo();
    const QString fields[] = {
        QString::number(device.serial()),
        DisplayText::deviceType(device.devType()),
        DisplayText::address(net.ipAddress()),
        DisplayText::address(net.subnetMask()),
        DisplayText::address(net.gateway()),
        DisplayText::address(net.dns()),
        DisplayText::addressMode(net.addressMode()),
        DisplayText::mac(net.macAddress()),
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

QStringList csvSettingFields(const std::optional<NetworkSettings>& settings)
{
    if (!settings)
        return {QString(), QString(), QString(), QString(), QString()};
    return {DisplayText::address(settings->ipAddress()),
            DisplayText::address(settings->subnetMask()), DisplayText::address(settings->gateway()),
            DisplayText::address(settings->dns()),
            DisplayText::addressMode(settings->addressMode())};
}

QString devicesCsv(const DeviceList::Devices& devices)
{
    QString csv = csvHeader() + QLatin1Char('\n');
    for (const auto& device : devices)
        csv += csvLine(*device) + QLatin1Char('\n');
    return csv;
}

QString notRegularFileReason(const QString& path)
{
    const char* kind = nullptr;
#ifdef Q_OS_UNIX
    struct stat st;
    // Nothing there yet, or a link to nothing: the file is made, or the writer says why not.
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        return QString();
    case S_IFDIR:
        kind = "a folder";
        break;
    case S_IFCHR:
        kind = "a character device";
        break;
    case S_IFBLK:
        kind = "a block device";
        break;
    case S_IFIFO:
        kind = "a FIFO";
        break;
    case S_IFSOCK:
        kind = "a socket";
        break;
    default:
        kind = "something else";
        break;
    }
#else
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return QString();
    kind = info.isDir() ? "a folder" : "something else";
#endif
    return QStringLiteral("it is %1, not a regular file").arg(QLatin1String(kind));
}

CsvFileResult writeCsvFile(const QString& path, const QString& csv)
{
    CsvFileResult result;
    // QSaveFile renames its new file over whatever is there: a device node would be
    // replaced by a regular file, and the export would claim success.
    result.reason = notRegularFileReason(path);
    if (!result.reason.isEmpty()) {
        result.failure = CsvFileResult::NotOpened;
        return result;
    }
    // QSaveFile follows a symbolic link and renames its new file over the link's target.
    QSaveFile file(path);
    // Unbuffered, so that a short write shows up here with the system's reason, rather than
    // as a flush that fails without one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered)) {
        result.failure = CsvFileResult::NotOpened;
        result.reason = file.errorString();
        return result;
    }
    const QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(csv);
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    // Without a commit the new file is discarded: a short write never replaces the old one.
    if (done < bytes.size() || !file.commit()) {
        result.failure = CsvFileResult::NotWritten;
        result.reason = file.errorString();
        file.cancelWriting(); // after reading the reason, which this replaces
        if (result.reason.isEmpty())
            result.reason = QStringLiteral("the file could not be written completely");
    }
    return result;
}

} // namespace corla
