// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli without a network: what the command line accepts and refuses, and what the
// commands print.

#include "clicommand.h"
#include "cliformat.h"
#include "corlasettings.h"
#include "datarow.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

CliParseResult parse(const QString& line)
{
    return parseCliArguments(QStringList{"/some/where/corla-cli"} +
                             line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

// A parsed request as one line, so that each row compares the whole request. Help and
// version give their first line. For set, the settings are those sent to a device that
// reports static 10.0.0.2/8 with gateway and DNS server 10.0.0.1, and "echo" when the
// duplicate-address check comes first.
QString summary(const CliRequest& r)
{
    if (r.command == CliCommand::Help || r.command == CliCommand::Version)
        return r.helpText.section('\n', 0, 0);
    const char* const commands[] = {"help", "version", "discover", "set", "reset", "ping", "apply"};
    const char* const formats[] = {"table", "csv", "json"};
    QStringList s{commands[int(r.command)]};
    if (r.command == CliCommand::Set) {
        const TevNetHostInfo reported(TevIpAddr("10.0.0.2"), TevIpAddr("255.0.0.0"),
                                      TevIpAddr("10.0.0.1"), TevIpAddr("10.0.0.1"), r.mac,
                                      TevAddressModeManual);
        const TevNetHostInfo sent = settingsForSet(r, reported);
        s << QString::fromStdString(sent.macAddress().toString()) << settingsText(sent);
        if (needsDuplicateCheck(reported, sent))
            s << "echo";
    } else if (!r.mac.isNull()) {
        s << QString::fromStdString(r.mac.toString());
    }
    if (r.command == CliCommand::Ping)
        s << QStringLiteral("%1 timeout=%2").arg(r.target.toString().c_str()).arg(r.timeoutMs);
    if (r.command == CliCommand::Apply) {
        s << r.planPath;
        if (r.dryRun)
            s << "dry-run";
        if (!r.reportPath.isEmpty())
            s << "report=" + r.reportPath;
    }
    if (r.command == CliCommand::Discover || r.command == CliCommand::Apply)
        s << formats[int(r.format)];
    if (r.waitMs != CliRequest::kDefaultWaitMs)
        s << QStringLiteral("wait=%1").arg(r.waitMs);
    if (r.probe)
        s << "probe";
    if (r.force)
        s << "force";
    if (!r.interfaces.isEmpty())
        s << "on " + r.interfaces.join(',');
    return s.join(' ');
}

std::shared_ptr<TevDevice> device(int type, uint16_t serial, const char* ip, const char* mac,
                                  const char* iface = "10.10.0.1",
                                  TevAddressMode mode = TevAddressModeManual,
                                  ZelNetworkStatus status = ZelNetworkStatus::NotFound)
{
    TevMacAddr m;
    TevMacAddr::parse(mac, &m);
    auto d = TevDevice::createDevice(static_cast<ZelDeviceType>(type));
    d->setSerial(serial);
    d->setNetHostInfo(TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"),
                                     TevIpAddr("10.10.0.254"), TevIpAddr("0.0.0.0"), m, mode));
    d->setCommsIfaceAddr(TevIpAddr(iface));
    d->setNetStat(status);
    return d;
}

// Two devices, one reachable, one not, listed in the reverse of output order.
CorlaDeviceList::Devices twoDevices()
{
    return {device(10, 1010, "10.20.0.20", "02:c0:1a:00:00:0a", "10.20.0.1", TevAddressModeManual,
                   ZelNetworkStatus::Unreachable),
            device(5, 1005, "10.10.0.15", "02:c0:1a:00:00:05", "10.10.0.1", TevAddressModeAuto,
                   ZelNetworkStatus::Reachable)};
}

} // namespace

Q_DECLARE_METATYPE(CliFormat)

class TestCorlaCli : public QObject
{
    Q_OBJECT

private slots:
    // Accepted lines give the request in `expected`; refused ones give a part of the
    // one-line error, and their hint names the help of the command given.
    void commandLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");

        const QString set = "set 02:c0:1a:00:00:05 ";
        const QString setHelp = "Usage: corla-cli [options] set MAC (--dhcp | --static IP --mask "
                                "MASK [--gateway IP | --no-gateway] [--dns IP | --no-dns])";
        row("--help", "--help", "Usage: corla-cli [options] COMMAND [ARGUMENTS]");
        row("help", "help", "Usage: corla-cli [options] COMMAND [ARGUMENTS]");
        row("set --help", "set --help", setHelp);
        row("help set", "help set", setHelp);
        row("help wins over bad arguments", "set zz --static 999 --help", setHelp);
        row("--version", "--version", "corla-cli 2.0.5");
        row("discover", "discover", "discover table");
        row("discover options", "discover --wait 250 --probe --format json",
            "discover json wait=250 probe");
        row("interfaces around the command", "--interface lab0 discover --interface lab1",
            "discover table on lab0,lab1");
        row("dhcp keeps the reported address fields", set + "--dhcp --wait 900",
            set + "DHCP 10.0.0.2 mask 255.0.0.0 gateway 10.0.0.1 DNS 10.0.0.1 wait=900");
        row("static replaces all four fields",
            set + "--static 10.9.0.7 --mask 255.255.0.0 "
                  "--gateway 10.9.0.1 --dns 10.9.0.2",
            set + "static 10.9.0.7 mask 255.255.0.0 gateway 10.9.0.1 DNS 10.9.0.2 echo");
        row("static keeps the reported gateway and DNS server",
            set + "--static 10.0.0.7 --mask 255.0.0.0 --force",
            set + "static 10.0.0.7 mask 255.0.0.0 gateway 10.0.0.1 DNS 10.0.0.1 echo force");
        row("static clears gateway and DNS server",
            set + "--static 10.0.0.7 --mask 255.0.0.0 "
                  "--no-gateway --no-dns",
            set + "static 10.0.0.7 mask 255.0.0.0 gateway 0.0.0.0 DNS 0.0.0.0 echo");
        row("static clears one, replaces the other",
            set + "--static 10.0.0.7 --mask 255.0.0.0 --no-gateway --dns 10.0.0.9",
            set + "static 10.0.0.7 mask 255.0.0.0 gateway 0.0.0.0 DNS 10.0.0.9 echo");
        row("own address: no echo, the device would answer",
            set + "--static 10.0.0.2 --mask 255.255.0.0",
            set + "static 10.0.0.2 mask 255.255.0.0 gateway 10.0.0.1 DNS 10.0.0.1");
        row("MAC in capitals with dashes, after options",
            "reset --interface lab1 02-C0-1A-00-00-0C", "reset 02:c0:1a:00:00:0c on lab1");
        row("ping", "ping --timeout 300 10.10.0.9", "ping 10.10.0.9 timeout=300");
        row("apply", "apply plan.csv", "apply plan.csv table");
        row("apply options", "apply --dry-run --force --report out.csv --format json --wait 800 p",
            "apply p dry-run report=out.csv json wait=800 force");

        row("no command", "", "no command given");
        row("only options", "--interface lab0", "no command given");
        row("unknown command", "list --wait 5", "unknown command 'list'");
        row("help for an unknown command", "help list", "help: no command 'list'");
        row("option of another command", set + "--dhcp --probe",
            "unknown option '--probe' for set (discover takes it)");
        row("option of two other commands, with its value", "reset 02:c0:1a:00:00:05 --format csv",
            "unknown option '--format' for reset (discover, apply and watch take it)");
        row("an option's value is never an option", "discover --wait --probe",
            "--wait must be a whole number of milliseconds from 1 to 3600000, not \"--probe\"");
        row("discover with argument", "discover now", "discover takes no arguments, not \"now\"");
        row("unknown format", "discover --format xml", "--format must be table, csv or json");
        row("wait beyond an hour", "discover --wait 3600001", "from 1 to 3600000, not \"3600001\"");
        row("empty interface name", "discover --interface=", "--interface needs a name");
        row("set without MAC", "set --dhcp", "set needs the device's MAC address");
        row("two MACs", set + "02:c0:1a:00:00:06 --dhcp", "not also \"02:c0:1a:00:00:06\"");
        row("MAC with five pairs", "set 02:c0:1a:00:05 --dhcp", "\"02:c0:1a:00:05\" is not a MAC");
        row("zero MAC, which every device answers", "reset 00:00:00:00:00:00",
            "00:00:00:00:00:00 names no device");
        row("broadcast MAC", "set FF:FF:FF:FF:FF:FF --dhcp",
            "FF:FF:FF:FF:FF:FF is a broadcast or multicast address, which no single device has");
        row("multicast MAC", "reset 01:00:5e:00:00:01",
            "01:00:5e:00:00:01 is a broadcast or multicast address");
        row("neither mode", set, "set needs --dhcp or --static IP");
        row("both modes", set + "--dhcp --static 1.1.1.1",
            "--dhcp and --static exclude each other");
        row("mask with dhcp", set + "--dhcp --mask 255.0.0.0",
            "--mask goes with --static, not with --dhcp");
        row("static without mask", set + "--static 10.10.0.50", "--static needs --mask MASK");
        row("zero mask", set + "--static 10.10.0.50 --mask 0.0.0.0",
            "--mask: 0.0.0.0 leaves the device no network");
        row("gateway given and cleared",
            set + "--static 10.0.0.7 --mask 255.0.0.0 --gateway 10.0.0.1 --no-gateway",
            "--gateway and --no-gateway exclude each other");
        row("clearing DNS with dhcp", set + "--dhcp --no-dns",
            "--no-dns goes with --static, not with --dhcp");
        row("apply without plan", "apply --dry-run", "apply needs the plan's file name");
        row("apply with two plans", "apply a.csv b.csv", "not also \"b.csv\"");
        row("report without a name", "apply a.csv --report=", "--report needs a file name");
        row("option of set for apply", "apply a.csv --no-dns",
            "unknown option '--no-dns' for apply (set takes it)");
        row("static address 0.0.0.0", set + "--static 0.0.0.0 --mask 255.0.0.0",
            "--static: 0.0.0.0 is not a device address: the first number must be from 1 to 223, "
            "excluding 127");
        row("mask malformed", set + "--static 10.0.0.7 --mask 255.255.255",
            "--mask: \"255.255.255\" is not an IPv4 address");
        row("gateway malformed", set + "--static 10.0.0.7 --mask 255.0.0.0 --gateway 10.10.0",
            "--gateway: \"10.10.0\" is not an IPv4 address");
        row("dns malformed", set + "--static 10.0.0.7 --mask 255.0.0.0 --dns 10.10.0.x",
            "--dns: \"10.10.0.x\" is not an IPv4 address");
        row("ping zero address", "ping 0.0.0.0", "0.0.0.0 is no address to send to");
        row("ping timeout zero", "ping 10.0.0.1 --timeout 0", "--timeout must be a whole number");
    }

    void commandLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const CliParseResult result = parse(line);
        if (result.ok) {
            QCOMPARE(summary(result.request), expected);
            return;
        }
        QVERIFY2(result.error.contains(expected) && !result.error.contains('\n'),
                 qPrintable(result.error));
        const QString command = line.section(' ', 0, 0);
        QCOMPARE(result.hint,
                 QStringList({"discover", "set", "reset", "ping", "apply"}).contains(command)
                     ? QStringLiteral("Try 'corla-cli %1 --help'.").arg(command)
                     : QStringLiteral("Try 'corla-cli --help'."));
    }

    // The boundaries of the first-octet rule and the mask rule that the settings pane holds
    // to as well.
    void setAddressBoundaries_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<bool>("accepted");
        for (const auto& [first, host] : {std::pair{0, false},
                                          {1, true},
                                          {126, true},
                                          {127, false},
                                          {128, true},
                                          {223, true},
                                          {224, false},
                                          {255, false}})
            QTest::addRow("first octet %d", first)
                << QStringLiteral("%1.1.2.3").arg(first) << "255.0.0.0" << host;
        row("mask /31", "10.10.0.50", "255.255.255.254", true);
        row("mask /1", "10.10.0.50", "128.0.0.0", true);
        row("mask /32", "10.10.0.50", "255.255.255.255", false);
        row("mask with a hole", "10.10.0.50", "255.0.255.0", false);
        row("mask reversed", "10.10.0.50", "0.255.255.255", false);
        row("mask low bit only", "10.10.0.50", "0.0.0.1", false);
    }

    void setAddressBoundaries()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(bool, accepted);
        QCOMPARE(parse("set 02:c0:1a:00:00:05 --static " + ip + " --mask " + mask).ok, accepted);
    }

    // Which statuses each help lists is tst_usage's, on the real program.
    void helpDocumentsInterfaces()
    {
        for (const char* line : {"--help", "set --help", "help ping", "apply --help"})
            QVERIFY2(parse(line).request.helpText.contains("--interface <name>"), line);
    }

    void interfaceNames()
    {
        const QList<CliInterfaceName> known = {{"lo", "lo"}, {"lab0", "Wired"}, {"lab1", "lab1"}};
        QCOMPARE(unknownInterface({}, known), QString());
        QCOMPARE(unknownInterface({"lab1", "Wired"}, known), QString()); // either name
        QCOMPARE(unknownInterface({"lab0", "wlan9", "lab1"}, known), "wlan9");
        QCOMPARE(unknownInterface({"LAB0"}, known), "LAB0");
    }

    // Every format lists by serial number. JSON is compared in its compact form.
    void output_data()
    {
        QTest::addColumn<CliFormat>("format");
        QTest::addColumn<bool>("withStatus");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<QString>("expected");

        const QString header = "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,"
                               "Address mode,MAC Address\n";
        // After a probe: status and reason behind the export's columns, quoted as needed.
        row("csv with status and reason", CliFormat::Csv, true, false,
            header.chopped(1) + ",Status,Reason\n"
                                "1005,Nerio HF,10.10.0.15,255.255.255.0,10.10.0.254,0.0.0.0,DHCP,"
                                "02:c0:1a:00:00:05,Reachable,port 21 accepted a connection\n"
                                "1010,Pivlo,10.20.0.20,255.255.255.0,10.10.0.254,0.0.0.0,Static,"
                                "02:c0:1a:00:00:0a,Unreachable,\"connection refused, twice\"\n");
        row("empty csv: the header line", CliFormat::Csv, false, true, header);
        row("table with status", CliFormat::Table, true, false,
            "Status       Device Type  Serial #  IP Address  Mode    MAC Address        Interface  "
            "Reason\n"
            "Reachable    Nerio HF     1005      10.10.0.15  DHCP    02:c0:1a:00:00:05  10.10.0.1  "
            "port 21 accepted a connection\n"
            "Unreachable  Pivlo        1010      10.20.0.20  Static  02:c0:1a:00:00:0a  10.20.0.1  "
            "connection refused, twice\n");
        row("empty table: the header", CliFormat::Table, false, true,
            "Device Type  Serial #  IP Address  Mode  MAC Address  Interface\n");
        // Members as the compact form sorts them: a reason (%1) before the serial number, a
        // status (%2) after it.
        const QString nerio =
            R"({"addressMode":"DHCP","conflict":null,"deviceType":"Nerio HF","deviceTypeCode":5,)"
            R"("dnsServer":"0.0.0.0","gateway":"10.10.0.254","interface":"10.10.0.1",)"
            R"("ipAddress":"10.10.0.15","macAddress":"02:c0:1a:00:00:05",%1"serial":1005,%2)"
            R"("subnetMask":"255.255.255.0"})";
        const QString pivlo =
            R"({"addressMode":"Static","conflict":null,"deviceType":"Pivlo","deviceTypeCode":10,)"
            R"("dnsServer":"0.0.0.0","gateway":"10.10.0.254","interface":"10.20.0.1",)"
            R"("ipAddress":"10.20.0.20","macAddress":"02:c0:1a:00:00:0a",%1"serial":1010,%2)"
            R"("subnetMask":"255.255.255.0"})";
        row("json", CliFormat::Json, false, false,
            "[" + nerio.arg("", "") + "," + pivlo.arg("", "") + "]");
        row("json with status", CliFormat::Json, true, false,
            "[" +
                nerio.arg(R"("reason":"port 21 accepted a connection",)",
                          R"("status":"Reachable",)") +
                "," +
                pivlo.arg(R"("reason":"connection refused, twice",)",
                          R"("status":"Unreachable",)") +
                "]");
        row("empty json: an empty array", CliFormat::Json, false, true, "[]");
    }

    // A changed row, a row whose device did not answer, and a refusal whose reason needs
    // quoting in CSV. JSON is compared in its compact form.
    void applyReport_data()
    {
        QTest::addColumn<CliFormat>("format");
        QTest::addColumn<QString>("expected");
        row("csv", CliFormat::Csv,
            "Line,MAC Address,Serial,Device Type,Found IP Address,Found Subnet Mask,Found Gateway,"
            "Found DNS Server,Found Address mode,Left IP Address,Left Subnet Mask,Left Gateway,"
            "Left DNS Server,Left Address mode,Outcome\n"
            "2,02:c0:1a:00:00:05,1005,Nerio HF,10.10.0.15,255.255.255.0,10.10.0.254,0.0.0.0,"
            "Static,10.10.0.77,255.255.255.0,10.10.0.254,0.0.0.0,Static,changed\n"
            "3,02:c0:1a:00:00:99,,,,,,,,,,,,,not found\n"
            "5,02:c0:1a:00:00:0a,1010,Pivlo,10.20.0.20,255.255.255.0,10.10.0.254,0.0.0.0,DHCP,"
            "10.20.0.20,255.255.255.0,10.10.0.254,0.0.0.0,DHCP,\"refused: bad, twice\"\n");
        row("table", CliFormat::Table,
            "Line  MAC Address        Serial #  Device Type  "
            "Found                                                                 "
            "Left                                                                  "
            "Outcome\n"
            "2     02:c0:1a:00:00:05  1005      Nerio HF     "
            "static 10.10.0.15 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0  "
            "static 10.10.0.77 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0  "
            "changed\n"
            "3     02:c0:1a:00:00:99                         "
            "                                                                      "
            "                                                                      "
            "not found\n"
            "5     02:c0:1a:00:00:0a  1010      Pivlo        "
            "DHCP 10.20.0.20 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0    "
            "DHCP 10.20.0.20 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0    "
            "refused: bad, twice\n");
        const QString found =
            R"({"addressMode":"%1","dnsServer":"0.0.0.0","gateway":"10.10.0.254",)"
            R"("ipAddress":"%2","subnetMask":"255.255.255.0"})";
        row("json", CliFormat::Json,
            R"([{"deviceType":"Nerio HF","found":)" + found.arg("Static", "10.10.0.15") +
                R"(,"left":)" + found.arg("Static", "10.10.0.77") +
                R"(,"line":2,"macAddress":"02:c0:1a:00:00:05","outcome":"changed","serial":1005},)"
                R"({"deviceType":null,"found":null,"left":null,"line":3,)"
                R"("macAddress":"02:c0:1a:00:00:99","outcome":"not found","serial":null},)"
                R"({"deviceType":"Pivlo","found":)" +
                found.arg("DHCP", "10.20.0.20") + R"(,"left":)" + found.arg("DHCP", "10.20.0.20") +
                R"(,"line":5,"macAddress":"02:c0:1a:00:00:0a","outcome":"refused: bad, twice",)"
                R"("serial":1010}])");
    }

    void applyReport()
    {
        QFETCH(CliFormat, format);
        QFETCH(QString, expected);
        const TevNetHostInfo nerio =
            device(5, 1005, "10.10.0.15", "02:c0:1a:00:00:05")->netHostInfo();
        const TevNetHostInfo moved =
            device(5, 1005, "10.10.0.77", "02:c0:1a:00:00:05")->netHostInfo();
        const TevNetHostInfo pivlo =
            device(10, 1010, "10.20.0.20", "02:c0:1a:00:00:0a", "10.20.0.1", TevAddressModeAuto)
                ->netHostInfo();
        const CliApplyRow changed{2,     nerio.macAddress(),  1005, ZelDeviceType(5), nerio,
                                  moved, CliOutcome::Changed, {}};
        CliApplyRow missing;
        missing.line = 3;
        TevMacAddr::parse("02:c0:1a:00:00:99", &missing.mac);
        const CliApplyRow refused{5,     pivlo.macAddress(),  1010,        ZelDeviceType(10), pivlo,
                                  pivlo, CliOutcome::Refused, "bad, twice"};
        QString text = formatApplyReport({changed, missing, refused}, format);
        if (format == CliFormat::Json)
            text = QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact);
        QCOMPARE(text, expected);
    }

    void output()
    {
        QFETCH(CliFormat, format);
        QFETCH(bool, withStatus);
        QFETCH(bool, empty);
        QFETCH(QString, expected);
        CorlaDeviceList list;
        for (const auto& d : empty ? CorlaDeviceList::Devices() : twoDevices())
            list.append(d);
        const CliReasons reasons{{"02:c0:1a:00:00:05", "port 21 accepted a connection"},
                                 {"02:c0:1a:00:00:0a", "connection refused, twice"}};
        QString text = formatDevices(list, format, withStatus, reasons);
        if (format == CliFormat::Json)
            text = QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact);
        QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(TestCorlaCli)
#include "tst_corlacli.moc"
