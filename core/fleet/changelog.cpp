// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/changelog.h"

#include "core/fleet/csv.h"
#include "core/fleet/devicelist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace corla {

QString ChangeLog::defaultPath()
{
    // Named here rather than through the application's names: Qt would put the
    // organisation's folder in front, and the log must not split in two when those change.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/corla/changes.csv");
}

ChangeLog::ChangeLog(const QString& path) : m_path(path) {}

QString ChangeLog::header()
{
    return QStringLiteral("Time,MAC Address,Serial,Device Type,"
                          "Found IP Address,Found Subnet Mask,Found Gateway,Found DNS Server,"
                          "Found Address mode,Requested IP Address,Requested Subnet Mask,"
                          "Requested Gateway,Requested DNS Server,Requested Address mode,"
                          "Outcome,Program");
}

QString ChangeLog::line(const ChangeLogEntry& entry)
{
    // A local time without its offset would be ambiguous once the clocks change.
    const QDateTime time = entry.time.toOffsetFromUtc(entry.time.offsetFromUtc());
    return csvRecord(QStringList{time.toString(Qt::ISODate), DisplayText::mac(entry.mac),
                                 QString::number(entry.serial),
                                 DisplayText::deviceType(entry.type)} +
                     csvSettingFields(entry.found) + csvSettingFields(entry.requested) +
                     QStringList{entry.outcome, entry.program});
}

namespace {

bool failWith(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

QString lockFailure(const QLockFile& lock, const QString& lockPath)
{
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return QStringLiteral("another program held the lock %1 for too long").arg(lockPath);
    case QLockFile::PermissionError:
        return QStringLiteral("the lock %1 could not be made: Permission denied").arg(lockPath);
    default:
        return QStringLiteral("the lock %1 could not be made").arg(lockPath);
    }
}

} // namespace

bool ChangeLog::append(const ChangeLogEntry& entry, QString* why) const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return failWith(why, QStringLiteral("cannot make the folder %1").arg(folder));
    // Opening a FIFO for writing would wait for a reader; a device would swallow the line.
    const QString notRegular = notRegularFileReason(m_path);
    if (!notRegular.isEmpty())
        return failWith(why, notRegular);

    // Corla and corla-cli may start a new log at the same moment: the size is checked and
    // the header written by one of them at a time. A lock left by a program that died is
    // taken over at once; one from a program that hangs, after a few seconds. The lock is
    // held for a moment only, so it is tried again every few milliseconds rather than after
    // QLockFile's own waits, which begin at 100 ms.
    const QString lockPath = m_path + QStringLiteral(".lock");
    QLockFile lock(lockPath);
    lock.setStaleLockTime(5000);
    QElapsedTimer waited;
    waited.start();
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || waited.hasExpired(3000))
            return failWith(why, lockFailure(lock, lockPath));
        QThread::msleep(5);
    }

    QFile file(m_path);
    // Unbuffered: a short write then fails on the next call, with the system's reason.
    if (!file.open(QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
        return failWith(why, file.errorString());
    QString text = line(entry) + QLatin1Char('\n');
    if (file.size() == 0)
        text.prepend(header() + QLatin1Char('\n'));
    const QByteArray bytes = text.toUtf8();
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return failWith(why, file.errorString());
        done += n;
    }
    return true;
}

} // namespace corla
