#include "corlachangelog.h"

#include "corlacsv.h"
#include "corladevicelist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QString CorlaChangeLog::defaultPath()
{
    // Named here rather than through the application's names: Qt would put the
    // organisation's folder in front, and the log must not split in two when those change.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/corla/changes.csv");
}

CorlaChangeLog::CorlaChangeLog(const QString& path) : m_path(path) {}

QString CorlaChangeLog::header()
{
    return QStringLiteral("Time,MAC Address,Serial,Device Type,"
                          "Found IP Address,Found Subnet Mask,Found Gateway,Found DNS Server,"
                          "Found Address mode,Requested IP Address,Requested Subnet Mask,"
                          "Requested Gateway,Requested DNS Server,Requested Address mode,"
                          "Outcome,Program");
}

QString CorlaChangeLog::line(const CorlaChangeLogEntry& entry)
{
    // A local time without its offset would be ambiguous once the clocks change.
    const QDateTime time = entry.time.toOffsetFromUtc(entry.time.offsetFromUtc());
    return csvRecord(QStringList{time.toString(Qt::ISODate), CorlaText::mac(entry.mac),
                                 QString::number(entry.serial), CorlaText::deviceType(entry.type)} +
                     csvSettingFields(entry.found) + csvSettingFields(entry.requested) +
                     QStringList{entry.outcome, entry.program});
}

bool CorlaChangeLog::append(const CorlaChangeLogEntry& entry, QString* why) const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        if (why)
            *why = file.errorString();
        return false;
    }
    QString text = line(entry) + QLatin1Char('\n');
    if (file.size() == 0)
        text.prepend(header() + QLatin1Char('\n'));
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}
