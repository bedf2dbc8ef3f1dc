// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli end to end against the simulator's default fleet, afresh for every test and row:
// discovery per interface, set, reset, ping and the debug lines of -v.
#include "core/net/devicetypes.h"
#include "tests/support/clirun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace corla;

namespace {

// The devices discovery lists, by MAC; none when it fails.
QMap<QString, QJsonObject> discoverJson(const QStringList& extra = {})
{
    const CliRun run = cli(QStringList{"discover", "--wait", "1000", "--format", "json"} + extra);
    QMap<QString, QJsonObject> devices;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
        devices.insert(v["macAddress"].toString(), v.toObject());
    return run.exitCode == 0 ? devices : QMap<QString, QJsonObject>();
}

// A device's settings as discovery reports them: "address mask gateway DNS mode".
QString settingsOf(const QJsonObject& device)
{
    return QStringList{device["ipAddress"].toString(), device["subnetMask"].toString(),
                       device["gateway"].toString(), device["dnsServer"].toString(),
                       device["addressMode"].toString()}
        .join(' ');
}

// Static on dev0, except Refuser (on dev1, refuses everything).
const QString StaticMover = "02:c0:1a:00:00:0d";
const QString DuplicateMover = "02:c0:1a:00:00:0f";
const QString DhcpMover = "02:c0:1a:00:00:0e";
const QString Sensible = "02:c0:1a:00:00:02";
const QString Refuser = "02:c0:1a:00:00:0a";
const QString Resetter = "02:c0:1a:00:00:13";
const QString Unknown = "02:c0:1a:00:00:99";

} // namespace

class TestLabCorlaCli : public QObject
{
    Q_OBJECT

    QMap<QString, QJsonObject> m_fleet; // by MAC, as corla-sim --dump-fleet describes it
    CorlaLabSim m_sim;                  // the default fleet, afresh for every test and row

    QString field(const QString& mac, const char* name) const
    {
        const QJsonValue v = m_fleet.value(mac).value(name);
        return v.isString() ? v.toString() : QString::number(v.toInt());
    }
    // "Pivlo #1010", as the device list names a device.
    QString name(const QString& mac) const
    {
        const auto type = static_cast<DeviceType>(field(mac, "type").toInt());
        return QString::fromStdString(DeviceTexts::deviceTypeStr(type)) + " #" +
               field(mac, "serial");
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QProcess sim;
        sim.start(corlaLabEnv("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
        QVERIFY(sim.waitForFinished(10000));
        const QJsonDocument dump = QJsonDocument::fromJson(sim.readAllStandardOutput());
        for (const QJsonValue& v : dump.object().value("devices").toArray())
            m_fleet.insert(v["mac"].toString(), v.toObject());
        QVERIFY2(m_fleet.size() >= 10, "corla-sim --dump-fleet gave no fleet");
        QVERIFY(!m_fleet.contains(Unknown));
    }

    void init() { QCOMPARE(m_sim.startOrWhy({}), QString()); }
    void cleanup() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

    // Each device once, with the local address it answered on; with --probe, its verdict.
    void discoverPerInterface_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("deviceSides");
        QTest::addColumn<QString>("localAddresses");

        row("every interface, probed", "--probe", "dev0 dev1", "10.10.0.1 10.10.1.1 10.20.0.1");
        row("lab0, two addresses", "--interface lab0", "dev0", "10.10.0.1 10.10.1.1");
    }

    void discoverPerInterface()
    {
        QFETCH(QString, args);
        QFETCH(QString, deviceSides);
        QFETCH(QString, localAddresses);
        const QMap<QString, QJsonObject> found = discoverJson(args.split(' '));
        QStringList expected;
        for (const QString& mac : m_fleet.keys())
            if (deviceSides.split(' ').contains(field(mac, "iface")))
                expected << mac;
        QCOMPARE(found.keys(), expected);
        const QRegularExpression routed("^10\\.(10\\.[01]|20\\.0)\\.");
        for (const QString& mac : expected) {
            QVERIFY(localAddresses.split(' ').contains(found[mac]["interface"].toString()));
            const QString ip = field(mac, "ip");
            const bool open = routed.match(ip).hasMatch() && m_fleet[mac]["port21"].toBool();
            const QString status = !args.contains("--probe") ? ""
                                   : ip == "0.0.0.0"         ? "NoIp"
                                   : open                    ? "Reachable"
                                                             : "Unreachable";
            QVERIFY2(found[mac]["status"].toString() == status, qPrintable(mac));
            // Every verdict says why; a device outside the network it answered on, too.
            const QString reason = found[mac]["reason"].toString();
            if (status == "Reachable")
                QCOMPARE(reason, QStringLiteral("port 21 accepted a connection"));
            else if (status == "NoIp")
                QCOMPARE(reason, QStringLiteral("no IP address"));
            else if (!status.isEmpty())
                QVERIFY2(!reason.isEmpty(), qPrintable(mac));
            if (!status.isEmpty() && ip != "0.0.0.0" && !routed.match(ip).hasMatch())
                QVERIFY2(reason.contains("not on this computer's network"), qPrintable(reason));
        }
    }

    // Each command's exit status, a part of what it prints (stdout stays empty on failure),
    // and the device as discovery then finds it ("" to skip). A change request goes out only
    // for a set that the device accepts or refuses; without -v, no debug lines.
    void commands_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QString>("after");

        const QString present = corlaLabEnv("CORLA_LAB_PRESENT");
        const QString absent = corlaLabEnv("CORLA_LAB_ABSENT");
        const QString mask24 = " --mask 255.255.255.0";
        // What the device reports after the change, not what its answer claimed.
        const auto accepted = [this](const QString& mac, const QString& settings) {
            return QStringLiteral("%1 (%2) changed: %3\n").arg(name(mac), mac, settings);
        };
        const auto refused = [this](const QString& mac, const QString& reason) {
            return QStringLiteral("The network configuration was rejected by %1.\n\nReason: %2\n")
                .arg(name(mac), reason);
        };
        // Every address of the burst prefix answers echo.
        const QString taken = "set " + DuplicateMover + " --static 10.40.0.9 --mask 255.255.0.0";
        const QString noAnswer = "corla-cli: no device with MAC address " + Unknown + " answered";

        // What set is not told, the device keeps.
        row("set static to a free address, keeping gateway and DNS server",
            "set " + StaticMover + " --static 10.10.0.77" + mask24, 0,
            accepted(StaticMover, "static 10.10.0.77 mask 255.255.255.0 gateway 10.10.0.254 DNS "
                                  "10.10.0.254"),
            "10.10.0.77 255.255.255.0 10.10.0.254 10.10.0.254 Static");
        // DHCP leases the first free address of the simulator's pool.
        row("set dhcp", "set " + DhcpMover + " --dhcp", 0,
            accepted(DhcpMover, "DHCP 10.10.0.100 mask 255.255.255.0 gateway 10.10.0.254 DNS "
                                "10.10.0.254"),
            "10.10.0.100 255.255.255.0 10.10.0.254 10.10.0.254 DHCP");
        row("taken address", taken, 4,
            "corla-cli: 10.40.0.9 is already in use: a host answered an echo request. Nothing was "
            "sent to " +
                name(DuplicateMover) + "; --force sends it anyway.\n",
            QStringList{field(DuplicateMover, "ip"), field(DuplicateMover, "mask"),
                        field(DuplicateMover, "gateway"), field(DuplicateMover, "dns"), "Static"}
                .join(' '));
        row("taken address with --force", taken + " --force --no-gateway", 0,
            "corla-cli: warning: a host answers at 10.40.0.9; sending anyway (--force)\n" +
                accepted(DuplicateMover, "static 10.40.0.9 mask 255.255.0.0 gateway 0.0.0.0 DNS "
                                         "10.10.0.254"),
            "10.40.0.9 255.255.0.0 0.0.0.0 10.10.0.254 Static");
        row("device that always refuses", "set " + Refuser + " --static 10.20.0.77" + mask24, 3,
            refused(Refuser, "An error occured in the device."),
            "10.20.0.20 255.255.255.0 10.20.0.254 10.20.0.254 Static");
        row("set to an unknown MAC", "set " + Unknown + " --dhcp --wait 700", 2,
            noAnswer + " within 700 ms\n", "");
        row("reset of an unknown MAC", "reset " + Unknown + " --wait 700", 2,
            noAnswer + " within 700 ms (nothing was sent; a device restarting from an earlier "
                       "reset is silent for a while)\n",
            "");
        row("ping an absent host", "ping " + absent + " --timeout 300", 5,
            "corla-cli: no reply from " + absent + " within 300 ms\n", "");
        row("ping without a route", "ping 10.77.0.5", 6,
            "corla-cli: no route to 10.77.0.5 from this computer\n", "");
        row("ping a host the router cannot reach", "ping 10.99.0.5", 5,
            "corla-cli: 10.99.0.5 is unreachable: 10.10.0.254 reports host unreachable\n", "");
        row("ping a host that drops echo", "ping 10.10.0.250", 7,
            "corla-cli: 10.10.0.250 does not answer echo requests, but a host answers ARP there "
            "as 02:c0:1a:ff:00:fa (REACHABLE)\n",
            "");
        row("set to the address of a host that drops echo",
            "set " + StaticMover + " --static 10.10.0.250" + mask24, 4,
            "corla-cli: 10.10.0.250 is already in use: a host answers ARP there as "
            "02:c0:1a:ff:00:fa. Nothing was sent to " +
                name(StaticMover) + "; --force sends it anyway.\n",
            "");
        row("ping through the named interface", "--interface lab0 ping " + present, 0,
            present + " answered.\n", "");
        row("ping not routed through the named interface", "ping " + present + " --interface lab1",
            6, "corla-cli: " + present + " is not routed through lab1\n", "");
        row("unknown interface", "discover --interface wlan7", 1,
            "corla-cli: no interface named \"wlan7\"", "");
        row("loopback is not usable", "--interface lo set " + Sensible + " --dhcp", 6,
            "corla-cli: no usable IPv4 address on lo (the interface must be up and running)\n", "");
        row("reset", "reset " + Resetter, 0,
            Resetter + " acknowledged the reset and is restarting.\n", "absent");
    }

    void commands()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QFETCH(QString, after);
        const CliRun run = cli(args.split(' '));
        CLI_EXPECT(run, exitCode);
        QVERIFY2((run.err + run.out).contains(printed), qPrintable(run.describe()));
        QVERIFY2(exitCode == 0 || run.out.isEmpty(), qPrintable(run.out));
        QVERIFY2(!run.err.contains("Sending Command:"), qPrintable(run.err));
        QCOMPARE(m_sim.output().contains("change from"),
                 args.startsWith("set") && (exitCode == 0 || exitCode == 3));
        if (after.isEmpty())
            return;
        const QMap<QString, QJsonObject> found = discoverJson();
        const QJsonObject now = found.value(args.section(' ', 1, 1));
        QCOMPARE(now.isEmpty() ? "absent" : settingsOf(now), after);
        QCOMPARE(found.size(), m_fleet.size() - (now.isEmpty() ? 1 : 0));
        // The device answers echo where it now is.
        if (exitCode == 0 && args.contains("--static"))
            CLI_EXPECT(cli({"ping", now["ipAddress"].toString()}), 0);
    }

    // Guards against -v losing the frames sent on stderr.
    void verbose()
    {
        const CliRun run = cli({"-v", "discover", "--wait", "300"});
        CLI_EXPECT(run, 0);
        QVERIFY2(run.err.contains("Sending Command:"), qPrintable(run.describe()));
    }
};

QTEST_GUILESS_MAIN(TestLabCorlaCli)
#include "tst_lab_corlacli.moc"
