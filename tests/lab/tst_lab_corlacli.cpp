// corla-cli end to end against the simulator's default fleet, on the lab's host side:
// discovery in every format and per interface, probes, static and DHCP changes, the
// duplicate-address refusal and --force, a device's own refusal, unknown MACs, reset,
// ping and malformed arguments. One simulator serves the whole run, so each test that
// changes a device uses a device of its own.
#include "labguard.h"
#include "zelutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

Run cli(const QStringList& args, int timeoutMs = 30000)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(CORLA_CLI_BIN), args);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "corla-cli did not finish: " + process.errorString();
        return run;
    }
    run.ms = clock.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString describe(const Run& run)
{
    return QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3")
        .arg(run.exitCode)
        .arg(run.out, run.err);
}

#define CLI_EXPECT(run, code) QVERIFY2((run).exitCode == (code), qPrintable(describe(run)))

struct FleetDevice
{
    int type = 0;
    int serial = 0;
    QString mac, mode, ip, mask, gateway, dns, iface;
    bool port21 = false;
    int refuse = 0;
};

// One line of the device list's export, as the device reports itself.
QString csvLine(const FleetDevice& d)
{
    const QString mode = d.mode == QLatin1String("dhcp")     ? QStringLiteral("DHCP")
                         : d.mode == QLatin1String("static") ? QStringLiteral("Static")
                                                             : QStringLiteral("Unknown");
    return QStringList{
        QString::number(d.serial),
        QString::fromStdString(ZelUtil::deviceTypeStr(static_cast<ZelDeviceType>(d.type))),
        d.ip,
        d.mask,
        d.gateway,
        d.dns,
        mode,
        d.mac}
        .join(',');
}

const QString CsvHeader =
    "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address";

// Devices this test changes, one per test, each checked against the fleet at the start.
const QString StaticMover = "02:c0:1a:00:00:0d";    // static 10.10.0.23 on dev0
const QString DuplicateMover = "02:c0:1a:00:00:0f"; // static 10.10.0.25 on dev0
const QString DhcpMover = "02:c0:1a:00:00:0e";      // static 10.10.1.24 on dev0
const QString Sensible = "02:c0:1a:00:00:02";       // static 10.10.0.12, refuses bad settings
const QString Refuser = "02:c0:1a:00:00:0a";        // Pivlo #1010 on dev1, always refuses
const QString Resetter = "02:c0:1a:00:00:13";       // static 10.10.0.29 on dev0
const QString Unknown = "02:c0:1a:00:00:99";

} // namespace

class TestLabCorlaCli : public QObject
{
    Q_OBJECT

    QList<FleetDevice> m_fleet;

    const FleetDevice* fleetDevice(const QString& mac) const
    {
        for (const FleetDevice& d : m_fleet)
            if (d.mac == mac)
                return &d;
        return nullptr;
    }

    // The discovered devices as MAC -> JSON object; fails the test on a bad run.
    static QMap<QString, QJsonObject> discoverJson(const QStringList& extra = {})
    {
        const Run run = cli(QStringList{"discover", "--wait", "1000", "--format", "json"} + extra);
        QMap<QString, QJsonObject> devices;
        [&] { CLI_EXPECT(run, 0); }();
        for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
            devices.insert(v.toObject().value("macAddress").toString(), v.toObject());
        return devices;
    }

    // The lines of the simulator's log that name a change request for this MAC.
    static int changeRequestsFor(const QString& mac)
    {
        QFile log(corlaLabEnv("CORLA_LAB_SIM_LOG"));
        if (!log.open(QIODevice::ReadOnly))
            return -1;
        int n = 0;
        for (const QByteArray& line : log.readAll().split('\n'))
            n += line.contains("change from") && line.contains(mac.toLatin1());
        return n;
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QProcess sim;
        sim.start(corlaLabEnv("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
        QVERIFY(sim.waitForFinished(10000));
        const QJsonArray devices = QJsonDocument::fromJson(sim.readAllStandardOutput())
                                       .object()
                                       .value("devices")
                                       .toArray();
        for (const QJsonValue& value : devices) {
            const QJsonObject o = value.toObject();
            m_fleet.append({o.value("type").toInt(), o.value("serial").toInt(),
                            o.value("mac").toString(), o.value("mode").toString(),
                            o.value("ip").toString(), o.value("mask").toString(),
                            o.value("gateway").toString(), o.value("dns").toString(),
                            o.value("iface").toString(), o.value("port21").toBool(),
                            o.value("refuse").toInt()});
        }
        QVERIFY2(m_fleet.size() >= 10, "corla-sim --dump-fleet gave no fleet");
        for (const QString& mac : {StaticMover, DuplicateMover, DhcpMover, Sensible, Resetter}) {
            const FleetDevice* d = fleetDevice(mac);
            QVERIFY2(d && d->mode == "static" && d->iface == "dev0" && d->refuse == 0 &&
                         d->ip.startsWith("10.10."),
                     qPrintable("the default fleet changed: " + mac));
        }
        const FleetDevice* refuser = fleetDevice(Refuser);
        QVERIFY2(refuser && refuser->refuse == -1 && refuser->type == 10 && refuser->serial == 1010,
                 "the default fleet changed: no Pivlo #1010 that refuses with -1");
        QVERIFY(!fleetDevice(Unknown));
    }

    void discoverListsTheFleetInEachFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("table") << "table";
        QTest::newRow("csv") << "csv";
        QTest::newRow("json") << "json";
    }

    void discoverListsTheFleetInEachFormat()
    {
        QFETCH(QString, format);
        const Run run = cli({"discover", "--wait", "1500", "--format", format});
        CLI_EXPECT(run, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QVERIFY2(run.ms < 1500 + 2000, qPrintable(QString::number(run.ms)));

        if (format == "csv") {
            // Exactly the export: header, then one line per device as it reports itself.
            QStringList lines = run.out.split('\n');
            QCOMPARE(lines.takeLast(), QString()); // the last line ends with a newline too
            QCOMPARE(lines.takeFirst(), CsvHeader);
            QCOMPARE(lines.size(), m_fleet.size());
            for (const FleetDevice& d : m_fleet)
                QVERIFY2(lines.contains(csvLine(d)), qPrintable("missing: " + csvLine(d)));
        } else if (format == "json") {
            QSet<QString> macs;
            for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
                macs.insert(v.toObject().value("macAddress").toString());
            QCOMPARE(macs.size(), m_fleet.size());
            for (const FleetDevice& d : m_fleet)
                QVERIFY2(macs.contains(d.mac), qPrintable("missing: " + d.mac));
        } else {
            QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
            const QString header = lines.takeFirst();
            QCOMPARE(header.split(QRegularExpression("  +")),
                     (QStringList{"Device Type", "Serial #", "IP Address", "Mode", "MAC Address",
                                  "Interface"}));
            QCOMPARE(lines.size(), m_fleet.size());
            for (const FleetDevice& d : m_fleet)
                QCOMPARE(lines.filter(d.mac).size(), 1);
            // Sorted by serial number.
            QVERIFY(lines.first().contains(QString::number(m_fleet.first().serial)));
        }
    }

    void interfaceKeepsToItsAddresses_data()
    {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QStringList>("deviceSides");
        QTest::addColumn<QStringList>("localAddresses");

        QTest::newRow("lab1") << QStringList{"lab1"} << QStringList{"dev1"}
                              << QStringList{"10.20.0.1"};
        QTest::newRow("lab0, two addresses")
            << QStringList{"lab0"} << QStringList{"dev0"} << QStringList{"10.10.0.1", "10.10.1.1"};
        QTest::newRow("both") << QStringList{"lab0", "lab1"} << QStringList{"dev0", "dev1"}
                              << QStringList{"10.10.0.1", "10.10.1.1", "10.20.0.1"};
    }

    void interfaceKeepsToItsAddresses()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(QStringList, deviceSides);
        QFETCH(QStringList, localAddresses);
        QStringList args;
        for (const QString& name : interfaces)
            args << "--interface" << name;
        const QMap<QString, QJsonObject> found = discoverJson(args);

        QSet<QString> expected;
        for (const FleetDevice& d : m_fleet)
            if (deviceSides.contains(d.iface))
                expected.insert(d.mac);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(QSet<QString>(found.keyBegin(), found.keyEnd()), expected);
        for (const QJsonObject& o : found)
            QVERIFY2(localAddresses.contains(o.value("interface").toString()),
                     qPrintable(o.value("interface").toString()));
    }

    void probeShowsReachability()
    {
        const Run run = cli({"discover", "--wait", "1000", "--probe", "--format", "json"});
        CLI_EXPECT(run, 0);
        // Every first verdict within the 4000 ms limit of the checks.
        QVERIFY2(run.ms < 1000 + 4000 + 2000, qPrintable(QString::number(run.ms)));
        const QJsonArray array = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(array.size(), m_fleet.size());
        for (const QJsonValue& v : array) {
            const QJsonObject o = v.toObject();
            const FleetDevice* d = fleetDevice(o.value("macAddress").toString());
            QVERIFY(d);
            const bool routable = d->ip.startsWith("10.10.0.") || d->ip.startsWith("10.10.1.") ||
                                  d->ip.startsWith("10.20.0.");
            const QString expected = d->ip == "0.0.0.0"      ? "NoIp"
                                     : routable && d->port21 ? "Reachable"
                                                             : "Unreachable";
            QVERIFY2(o.value("status").toString() == expected,
                     qPrintable(d->mac + " at " + d->ip + ": " + o.value("status").toString()));
        }

        const Run table = cli({"discover", "--wait", "500", "--probe"});
        CLI_EXPECT(table, 0);
        QVERIFY2(table.out.startsWith(QStringLiteral("Status       Device Type")),
                 qPrintable(table.out));
    }

    void setStaticToAFreeAddress()
    {
        const Run run = cli({"set", StaticMover, "--static", "10.10.0.77", "--mask",
                             "255.255.255.0", "--gateway", "10.10.0.254"});
        CLI_EXPECT(run, 0);
        QVERIFY2(run.out.contains(StaticMover + ") accepted: static 10.10.0.77 mask 255.255.255.0 "
                                                "gateway 10.10.0.254 DNS 0.0.0.0"),
                 qPrintable(run.out));

        const QJsonObject now = discoverJson().value(StaticMover);
        QCOMPARE(now.value("ipAddress").toString(), "10.10.0.77");
        QCOMPARE(now.value("addressMode").toString(), "Static");
        QCOMPARE(now.value("dnsServer").toString(), "0.0.0.0");
        // The device's echo followed it.
        CLI_EXPECT(cli({"ping", "10.10.0.77"}), 0);
    }

    void setDhcp()
    {
        const Run run = cli({"set", DhcpMover, "--dhcp"});
        CLI_EXPECT(run, 0);
        QVERIFY2(run.out.contains(DhcpMover + ") accepted: DHCP 10.10.0.1"), qPrintable(run.out));
        QCOMPARE(discoverJson().value(DhcpMover).value("addressMode").toString(), "DHCP");
    }

    void takenAddressNeedsForce()
    {
        // Every address of the burst prefix answers echo on the device side.
        const QStringList args = {"set",       DuplicateMover, "--static",
                                  "10.40.0.9", "--mask",       "255.255.0.0"};
        const int before = changeRequestsFor(DuplicateMover);
        const Run refused = cli(args);
        CLI_EXPECT(refused, 4);
        QVERIFY2(refused.err.contains("10.40.0.9 is already in use") &&
                     refused.err.contains("--force"),
                 qPrintable(refused.err));
        QVERIFY(refused.out.isEmpty());
        QCOMPARE(changeRequestsFor(DuplicateMover), before);
        QCOMPARE(discoverJson().value(DuplicateMover).value("ipAddress").toString(),
                 fleetDevice(DuplicateMover)->ip);

        const Run forced = cli(args + QStringList{"--force"});
        CLI_EXPECT(forced, 0);
        QVERIFY2(forced.err.contains("warning: a host answers at 10.40.0.9"),
                 qPrintable(forced.err));
        QVERIFY(forced.out.contains("accepted: static 10.40.0.9 mask 255.255.0.0"));
        QCOMPARE(discoverJson().value(DuplicateMover).value("ipAddress").toString(), "10.40.0.9");
    }

    void deviceRefusalPrintsItsReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");

        QTest::newRow("device that always refuses")
            << QStringList{"set", Refuser, "--static", "10.20.0.77", "--mask", "255.255.255.0"}
            << "The network configuration was rejected by Pivlo #1010.\n\nReason: An error "
               "occured in the device.\n";
        QTest::newRow("broadcast address")
            << QStringList{"set", Sensible, "--static", "10.10.0.255", "--mask", "255.255.255.0"}
            << "Reason: The IP address was a broadcast address.\n";
        // No echo for the device's own address (it would answer itself): the device judges.
        QTest::newRow("its own address")
            << QStringList{"set", Sensible, "--static", "10.10.0.12", "--mask", "255.255.255.0"}
            << "Reason: The IP address given was the same as the device's existing address.\n";
    }

    void deviceRefusalPrintsItsReason()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        const Run run = cli(args);
        CLI_EXPECT(run, 3);
        QVERIFY2(run.err.startsWith("The network configuration was rejected by ") &&
                     run.err.endsWith(reason),
                 qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void unknownMacGetsNoAnswer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("set") << QStringList{"set", Unknown, "--dhcp", "--wait", "700"}
                             << "no device with MAC address " + Unknown + " answered within 700 ms";
        QTest::newRow("reset") << QStringList{"reset", Unknown, "--wait", "700"}
                               << "no device with MAC address " + Unknown +
                                      " answered the reset within 700 ms";
    }

    void unknownMacGetsNoAnswer()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Run run = cli(args);
        CLI_EXPECT(run, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.ms >= 700);
    }

    void resetSilencesTheDevice()
    {
        const Run run = cli({"reset", Resetter});
        CLI_EXPECT(run, 0);
        QCOMPARE(run.out, Resetter + " acknowledged the reset and is restarting.\n");
        // A resetting device answers nothing for a while.
        const QMap<QString, QJsonObject> found = discoverJson();
        QVERIFY(!found.contains(Resetter));
        QCOMPARE(found.size(), m_fleet.size() - 1);
    }

    void ping_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        const QString present = corlaLabEnv("CORLA_LAB_PRESENT");
        const QString absent = corlaLabEnv("CORLA_LAB_ABSENT");
        QTest::newRow("present host")
            << QStringList{"ping", present} << 0 << present + " answered.";
        QTest::newRow("absent host") << QStringList{"ping", absent, "--timeout", "300"} << 5
                                     << "no reply from " + absent + " within 300 ms";
        QTest::newRow("router's unreachable report counts as a reply")
            << QStringList{"ping", corlaLabEnv("CORLA_LAB_ROUTER_UNREACH")} << 0 << "answered.";
        QTest::newRow("routed through the named interface")
            << QStringList{"--interface", "lab0", "ping", present} << 0 << "answered.";
        QTest::newRow("not routed through the named interface")
            << QStringList{"ping", present, "--interface", "lab1"} << 6
            << present + " is not routed through lab1";
    }

    void ping()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = cli(args);
        CLI_EXPECT(run, exitCode);
        QVERIFY2((exitCode == 0 ? run.out : run.err).contains(message), qPrintable(describe(run)));
    }

    void refusedBeforeSending_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("malformed MAC")
            << QStringList{"set", "02:c0:1a:00:0d", "--dhcp"} << 1 << "is not a MAC address";
        QTest::newRow("loopback address")
            << QStringList{"set", Sensible, "--static", "127.0.0.9", "--mask", "255.0.0.0"} << 1
            << "127.0.0.9 is not a device address";
        QTest::newRow("invalid mask")
            << QStringList{"set", Sensible, "--static", "10.10.0.90", "--mask", "255.255.0.255"}
            << 1 << "255.255.0.255 is not a subnet mask";
        QTest::newRow("unknown interface") << QStringList{"discover", "--interface", "wlan7"} << 1
                                           << "no interface named \"wlan7\"";
        QTest::newRow("loopback is not usable")
            << QStringList{"--interface", "lo", "set", Sensible, "--dhcp"} << 6
            << "no usable IPv4 address on lo";
    }

    void refusedBeforeSending()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const int before = changeRequestsFor(Sensible);
        const Run run = cli(args);
        CLI_EXPECT(run, exitCode);
        QVERIFY2(run.err.startsWith("corla-cli: ") && run.err.contains(message),
                 qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(changeRequestsFor(Sensible), before);
    }
};

QTEST_GUILESS_MAIN(TestLabCorlaCli)
#include "tst_lab_corlacli.moc"
