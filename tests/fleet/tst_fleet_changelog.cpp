// The window's change log without a window: its lines, and a file that only grows, with
// its header once.

#include "corlachangelog.h"
#include "datarow.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(CorlaChangeLogEntry)

namespace {

CorlaChangeLogEntry entry(const QString& outcome, bool reset = false,
                          const QDateTime& time = QDateTime(QDate(2024, 3, 31), QTime(1, 59, 30),
                                                            Qt::OffsetFromUTC, 3600))
{
    CorlaChangeLogEntry e;
    e.time = time;
    TevMacAddr::parse("02:c0:1a:00:00:0d", &e.mac);
    e.serial = 1013;
    e.type = ZelDeviceType(5);
    e.found = TevNetHostInfo(TevIpAddr("10.10.0.23"), TevIpAddr("255.255.255.0"),
                             TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.254"), e.mac,
                             TevAddressModeManual);
    if (!reset)
        e.requested =
            TevNetHostInfo(TevIpAddr("10.10.0.77"), TevIpAddr("255.255.0.0"), TevIpAddr("0.0.0.0"),
                           TevIpAddr("10.10.0.254"), e.mac, TevAddressModeManual);
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

} // namespace

class TestChangeLog : public QObject
{
    Q_OBJECT

private slots:
    void line_data()
    {
        QTest::addColumn<CorlaChangeLogEntry>("entry");
        QTest::addColumn<QString>("expected");
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
        QFETCH(CorlaChangeLogEntry, entry);
        QFETCH(QString, expected);
        QCOMPARE(CorlaChangeLog::line(entry), expected);
    }

    void appendsBelowOneHeader()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // The folder does not exist yet, as on the first start.
        const CorlaChangeLog log(dir.filePath("corla/changes.csv"));
        QVERIFY(log.append(entry("sent")));
        QVERIFY(log.append(entry("accepted")));
        const CorlaChangeLog again(log.path());
        QVERIFY(again.append(entry("reset sent", true)));
        const QStringList lines = readAll(log.path()).split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), Header);
        QVERIFY(lines.at(1).endsWith(",sent,corla"));
        QVERIFY(lines.at(2).endsWith(",accepted,corla"));
        QVERIFY(lines.at(3).endsWith(",,,,,reset sent,corla"));
        QCOMPARE(lines.at(4), QString());

        // An empty file (a log emptied by hand) gets its header back.
        QFile(log.path()).resize(0);
        QVERIFY(log.append(entry("sent")));
        QCOMPARE(readAll(log.path()).count('\n'), 2);
        QVERIFY(readAll(log.path()).startsWith(QLatin1String(Header) + "\n"));
    }

    void failureSaysWhy()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString why;
        QVERIFY(!CorlaChangeLog(dir.filePath("file/changes.csv")).append(entry("sent"), &why));
        QVERIFY2(why.contains(dir.filePath("file")), qPrintable(why));
    }

    // The log has one home whatever names the program gives itself: ~/.local/share/corla
    // (here under Qt's test folder), not a folder per organisation.
    void defaultPathIsTheProgramsDataFolder()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("corla");
        QCoreApplication::setApplicationName("corla");
        QCOMPARE(CorlaChangeLog::defaultPath(),
                 QDir::homePath() + "/.qttest/share/corla/changes.csv");
    }
};

QTEST_GUILESS_MAIN(TestChangeLog)
#include "tst_fleet_changelog.moc"
