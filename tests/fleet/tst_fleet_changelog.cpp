// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The change log: its lines, and a file with one header even when programs start it together.

#include "core/fleet/changelog.h"
#include "tests/support/datarow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <vector>

using namespace corla;

Q_DECLARE_METATYPE(ChangeLogEntry)

namespace {

ChangeLogEntry entry(const QString& outcome, bool reset = false,
                     const QDateTime& time = QDateTime(QDate(2024, 3, 31), QTime(1, 59, 30),
                                                       Qt::OffsetFromUTC, 3600))
{
    ChangeLogEntry e;
    e.time = time;
    MacAddress::parse("02:c0:1a:00:00:0d", &e.mac);
    e.serial = 1013;
    e.type = DeviceType(5);
    e.found = NetworkSettings(Ipv4Address("10.10.0.23"), Ipv4Address("255.255.255.0"),
                              Ipv4Address("10.10.0.254"), Ipv4Address("10.10.0.254"), e.mac,
                              AddressModeStatic);
    if (!reset)
        e.requested = NetworkSettings(Ipv4Address("10.10.0.77"), Ipv4Address("255.255.0.0"),
                                      Ipv4Address("0.0.0.0"), Ipv4Address("10.10.0.254"), e.mac,
                                      AddressModeStatic);
    e.outcome = outcome;
    e.program = "corla";
    return e;
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "(unreadable)";
}

const char* const Header = "Time,MAC Address,Serial,Device Type,Found IP Address,Found Subnet "
                           "Mask,Found Gateway,Found DNS Server,Found Address mode,Requested IP "
                           "Address,Requested Subnet Mask,Requested Gateway,Requested DNS "
                           "Server,Requested Address mode,Outcome,Program";

const char* const AppendTogether = "--append-together";
const char* const ArrivedFile = "arrived";

// Run as its own program: appends to each of `logs` new logs once all `programs` arrived
// there (counted in the shared file `arrived`).
int appendTogether(const QString& folder, int programs, int logs)
{
    QFile counter(folder + '/' + ArrivedFile);
    uchar* shared = counter.open(QIODevice::ReadWrite) ? counter.map(0, sizeof(int)) : nullptr;
    if (!shared) {
        std::fputs(qPrintable(counter.errorString()), stderr);
        return 1;
    }
    auto* arrived = reinterpret_cast<int*>(shared);
    for (int log = 0; log < logs; ++log) {
        __atomic_add_fetch(arrived, 1, __ATOMIC_SEQ_CST);
        QElapsedTimer waited;
        waited.start();
        while (__atomic_load_n(arrived, __ATOMIC_SEQ_CST) < programs * (log + 1)) {
            if (waited.hasExpired(10000)) {
                std::fputs("the other programs did not come", stderr);
                return 1;
            }
            QThread::yieldCurrentThread();
        }
        QString why;
        if (!ChangeLog(QStringLiteral("%1/%2/changes.csv").arg(folder).arg(log))
                 .append(entry("sent"), &why)) {
            std::fputs(qPrintable(why), stderr);
            return 1;
        }
    }
    return 0;
}

} // namespace

class TestChangeLog : public QObject
{
    Q_OBJECT

private slots:
    void line_data()
    {
        columns<ChangeLogEntry, QString>({"entry", "expected"});
        const QString device = "02:c0:1a:00:00:0d,1013,Nerio HF,10.10.0.23,255.255.255.0,"
                               "10.10.0.254,10.10.0.254,Static,";
        row("change sent", entry("sent"),
            "2024-03-31T01:59:30+01:00," + device +
                "10.10.0.77,255.255.0.0,0.0.0.0,10.10.0.254,Static,sent,corla");
        row("refusal, quoted for its comma", entry("refused: bad, twice"),
            "2024-03-31T01:59:30+01:00," + device +
                "10.10.0.77,255.255.0.0,0.0.0.0,10.10.0.254,Static,\"refused: bad, twice\",corla");
        row("reset, in UTC: nothing requested",
            entry("reset acknowledged", true, QDateTime(QDate(2024, 3, 31), QTime(1, 0), Qt::UTC)),
            "2024-03-31T01:00:00Z," + device + ",,,,,reset acknowledged,corla");
    }

    void line()
    {
        QFETCH(ChangeLogEntry, entry);
        QFETCH(QString, expected);
        QCOMPARE(ChangeLog::line(entry), expected);
    }

    void appendsBelowOneHeader()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const ChangeLog log(dir.filePath("corla/changes.csv"));
        QVERIFY(log.append(entry("sent")));
        QVERIFY(log.append(entry("accepted")));
        const ChangeLog again(log.path());
        QVERIFY(again.append(entry("reset sent", true)));
        QStringList lines = readAll(log.path()).split('\n');
        for (int i = 1; i < lines.size(); ++i) // the leading columns are line()'s
            lines[i] = lines[i].section(',', -7);
        const QString requested = "10.10.0.77,255.255.0.0,0.0.0.0,10.10.0.254,Static,";
        QCOMPARE(lines, QStringList({Header, requested + "sent,corla", requested + "accepted,corla",
                                     ",,,,,reset sent,corla", ""}));
        QCOMPARE(QDir(dir.filePath("corla")).entryList(QDir::Files), QStringList{"changes.csv"});

        QFile(log.path()).resize(0);
        QVERIFY(log.append(entry("sent")));
        QCOMPARE(readAll(log.path()).count('\n'), 2);
        QVERIFY(readAll(log.path()).startsWith(QLatin1String(Header) + "\n"));
    }

    // What stands in the way is named; a FIFO would block the writer for ever.
    void failureSaysWhy_data()
    {
        columns<QString, QString, QString>({"blocker", "name", "expected"});
        row("a file where its folder belongs", "file", "file/changes.csv",
            "cannot make the folder %1/file");
        row("the log is a FIFO", "FIFO", "changes.csv", "it is a FIFO, not a regular file");
    }

    void failureSaysWhy()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString at = dir.filePath(name.section('/', 0, 0));
        if (blocker == "file")
            QVERIFY(QFile(at).open(QIODevice::WriteOnly));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
        QString why;
        QVERIFY(!ChangeLog(dir.filePath(name)).append(entry("sent"), &why));
        QCOMPARE(why, QString(expected).replace("%1", dir.path()));
    }

    // Programs starting a log at the same moment leave one header above all their lines.
    void oneHeaderWhenProgramsStartTogether()
    {
        const int rounds = 3, programs = 8, logs = 10;
        for (int round = 0; round < rounds; ++round) {
            QTemporaryDir dir;
            QFile arrived(dir.filePath(ArrivedFile));
            QVERIFY(arrived.open(QIODevice::WriteOnly) && arrived.write(QByteArray(4, 0)) == 4);
            arrived.close();
            std::vector<std::unique_ptr<QProcess>> helpers;
            for (int i = 0; i < programs; ++i) {
                helpers.push_back(std::make_unique<QProcess>());
                helpers.back()->start(
                    QCoreApplication::applicationFilePath(),
                    {AppendTogether, dir.path(), QString::number(programs), QString::number(logs)});
            }
            for (auto& helper : helpers) {
                QVERIFY(helper->waitForFinished());
                QVERIFY2(helper->exitCode() == 0, helper->readAllStandardError().constData());
            }
            for (int log = 0; log < logs; ++log) {
                const QString path = dir.filePath(QStringLiteral("%1/changes.csv").arg(log));
                const QStringList lines = readAll(path).split('\n', Qt::SkipEmptyParts);
                QVERIFY2(lines.count(Header) == 1, qPrintable(path + '\n' + lines.join('\n')));
                QCOMPARE(lines.at(0), Header);
                QCOMPARE(lines.size(), 1 + programs);
            }
        }
    }

    // One home whatever names the program gives itself (here under Qt's test folder).
    void defaultPathIsTheProgramsDataFolder()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("corla");
        QCoreApplication::setApplicationName("corla");
        QCOMPARE(ChangeLog::defaultPath(), QDir::homePath() + "/.qttest/share/corla/changes.csv");
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], AppendTogether) == 0)
        return appendTogether(QFile::decodeName(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    TestChangeLog test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fleet_changelog.moc"
