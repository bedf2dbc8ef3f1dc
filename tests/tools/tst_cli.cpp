// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli without a network: what the command line takes and refuses, what commands print.

#include "core/fleet/settingsrules.h"
#include "tests/support/datarow.h"
#include "tests/support/testdevice.h"
#include "tools/corla-cli/cliformat.h"
#include "tools/corla-cli/command.h"
#include "tools/corla-cli/setcommand.h"

#include <QJsonDocument>
#include <QtTest>

using namespace corla;

namespace {

CliParseResult parse(const QString& line)
{
    return parseCliArguments(QStringList{"/some/where/corla-cli"} +
                             line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

// A parsed request as one line (help: its first line). set: the settings sent to a device at
// static 10.0.0.2/8, gateway and DNS 10.0.0.1, and "echo" when the in-use check comes first.
QString summary(const CliRequest& r)
{
    if (!r.command)
        return r.helpText.section('\n', 0, 0);
    QStringList s{r.command->name()};
    if (r.command->name() == "set") {
        const NetworkSettings reported(Ipv4Address("10.0.0.2"), Ipv4Address("255.0.0.0"),
                                       Ipv4Address("10.0.0.1"), Ipv4Address("10.0.0.1"), r.mac,
                                       AddressModeStatic);
        const NetworkSettings sent = settingsForSet(r, reported);
        s << QString::fromStdString(sent.macAddress().toString()) << settingsText(sent);
        if (needsDuplicateCheck(reported, sent))
            s << "echo";
    } else if (!r.mac.isNull()) {
        s << QString::fromStdString(r.mac.toString());
    }
    if (r.command->name() == "ping")
        s << QStringLiteral("%1 timeout=%2").arg(r.target.toString().c_str()).arg(r.timeoutMs);
    if (!r.planPath.isEmpty())
        s << r.planPath << (r.dryRun ? "dry-run" : "") << r.reportPath;
    if (r.command->hasOption("format"))
        s << QStringList{"table", "csv", "json", "jsonl"}.at(int(r.format));
    if (r.waitMs != CliRequest::kDefaultWaitMs)
        s << QStringLiteral("wait=%1").arg(r.waitMs);
    if (r.probe)
        s << "probe";
    if (r.force)
        s << "force";
    if (!r.interfaces.isEmpty())
        s << "on " + r.interfaces.join(',');
    return s.join(' ').simplified();
}

// Two devices, one reachable, one not, listed in the reverse of output order.
DeviceList::Devices twoDevices()
{
    auto pivlo = testDevice(DeviceType(10), 1010, "02:c0:1a:00:00:0a", "10.20.0.20",
                            AddressModeStatic, "10.10.0.254");
    pivlo->setCommsIfaceAddr(Ipv4Address("10.20.0.1"));
    pivlo->setNetStat(Reachability::Unreachable);
    auto nerio = testDevice(DeviceType(5), 1005, "02:c0:1a:00:00:05", "10.10.0.15", AddressModeDhcp,
                            "10.10.0.254");
    nerio->setNetStat(Reachability::Reachable);
    return {pivlo, nerio};
}

} // namespace

Q_DECLARE_METATYPE(CliFormat)

class TestCorlaCli : public QObject
{
    Q_OBJECT

private slots:
    // `expected`: the request, or part of the error (its help topic is the command's).
    void commandLines_data()
    {
        columns<QString, QString>({"line", "expected"});

        const QString set = "set 02:c0:1a:00:00:05 ";
        const QString setHelp = "Usage: corla-cli [options] set MAC (--dhcp | --static IP --mask "
                                "MASK [--gateway IP | --no-gateway] [--dns IP | --no-dns])";
        row("help", "help", "Usage: corla-cli [options] COMMAND [ARGUMENTS]");
        row("help wins over bad arguments", "set zz --static 999 --help", setHelp);
        row("--version", "--version", "corla-cli 2.0.5");
        row("discover options", "discover --wait 250 --probe --format json",
            "discover json wait=250 probe");
        row("interfaces around the command", "--interface lab0 discover --interface lab1",
            "discover table on lab0,lab1");
        row("dhcp keeps the reported address fields", set + "--dhcp --wait 900",
            set + "DHCP 10.0.0.2 mask 255.0.0.0 gateway 10.0.0.1 DNS 10.0.0.1 wait=900");
        row("static replaces all four fields",
            set + "--static 10.9.0.7/16 --gateway 10.9.0.1 --dns 10.9.0.2",
            set + "static 10.9.0.7 mask 255.255.0.0 gateway 10.9.0.1 DNS 10.9.0.2 echo");
        row("static clears one, replaces the other",
            set + "--static 10.0.0.7 --mask 255.0.0.0 --no-gateway --dns 10.0.0.9",
            set + "static 10.0.0.7 mask 255.0.0.0 gateway 0.0.0.0 DNS 10.0.0.9 echo");
        row("own address: no echo, the device would answer",
            set + "--static 10.0.0.2 --mask 255.255.0.0",
            set + "static 10.0.0.2 mask 255.255.0.0 gateway 10.0.0.1 DNS 10.0.0.1");
        row("MAC in capitals with dashes, after options",
            "reset --interface lab1 02-C0-1A-00-00-0C", "reset 02:c0:1a:00:00:0c on lab1");
        row("ping", "ping --timeout 300 10.10.0.9", "ping 10.10.0.9 timeout=300");
        row("apply options", "apply --dry-run --force --report out.csv --format json --wait 800 p",
            "apply p dry-run out.csv json wait=800 force");

        row("no command", "--interface lab0", "no command given");
        row("help for an unknown command", "help list", "help: no command 'list'");
        row("option of another command", set + "--dhcp --probe",
            "unknown option '--probe' for set (discover takes it)");
        row("option of three other commands", "reset 02:c0:1a:00:00:05 --format csv",
            "unknown option '--format' for reset (discover, apply and watch take it)");
        row("unknown short option", "discover -hx", "unknown option '-hx'");
        row("missing value", "ping 10.0.0.1 --timeout", "missing value after '--timeout'");
        row("an option's value is never an option", "discover --wait --probe",
            "--wait must be a whole number of milliseconds from 1 to 3600000, not \"--probe\"");
        row("discover with argument", "discover now", "discover takes no arguments, not \"now\"");
        row("unknown format", "discover --format jsonl", "--format must be table, csv or json");
        row("watch has formats of its own", "watch --format csv",
            "--format of watch must be table or jsonl, not \"csv\"");
        row("wait beyond an hour", "discover --wait 3600001", "from 1 to 3600000, not \"3600001\"");
        row("empty interface name", "discover --interface=", "--interface needs a name");
        row("two MACs", set + "02:c0:1a:00:00:06 --dhcp", "not also \"02:c0:1a:00:00:06\"");
        row("multicast MAC", "reset 01:00:5e:00:00:01",
            "01:00:5e:00:00:01 is a broadcast or multicast address, which no single device has");
        row("both return choices", "reset 02:c0:1a:00:00:05 --wait-return --no-wait-return",
            "--wait-return and --no-wait-return exclude each other");
        row("neither mode", set, "set needs --dhcp or --static IP");
        row("clearing DNS with dhcp", set + "--dhcp --no-dns",
            "--no-dns goes with --static, not with --dhcp");
        row("static without mask", set + "--static 10.10.0.50", "--static needs --mask MASK");
        row("prefix and mask disagree", set + "--static 10.0.0.1/24 --mask 255.255.0.0",
            "--mask 255.255.0.0 disagrees with the prefix length of --static 10.0.0.1/24 (the "
            "mask 255.255.255.0)");
        row("zero mask", set + "--static 10.10.0.50 --mask 0.0.0.0",
            "--mask: 0.0.0.0 leaves the device no network");
        row("gateway given and cleared",
            set + "--static 10.0.0.7 --mask 255.0.0.0 --gateway 10.0.0.1 --no-gateway",
            "--gateway and --no-gateway exclude each other");
        row("apply without plan", "apply --dry-run", "apply needs the plan's file name");
        row("ping zero address", "ping 0.0.0.0", "0.0.0.0 is no address to send to");
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
        QCOMPARE(
            result.helpTopic,
            QStringList({"discover", "set", "reset", "ping", "apply", "watch"}).contains(command)
                ? "corla-cli " + command
                : QStringLiteral("corla-cli"));
    }

    // The general help lists every command and status; each command's help its own.
    void helpAgreesWithCommands()
    {
        const QString general = parse("--help").request.helpText;
        const QString statuses = general.section("\nExit status:\n", 1);
        const auto codes = [](const QString& list) {
            QStringList found;
            const QRegularExpression item("^ *(\\d+)  ", QRegularExpression::MultilineOption);
            for (auto it = item.globalMatch(list); it.hasNext();)
                found << it.next().captured(1);
            return found.join(' ');
        };
        QStringList names;
        for (const Command* command : cliCommands()) {
            names << command->name();
            const QString help = parse("help " + command->name()).request.helpText;
            QVERIFY(help.contains("--interface <name>"));
            for (const CliExitStatus& status : command->exitStatuses()) {
                const QString entry = QStringLiteral("%1  ").arg(status.code, 3);
                QVERIFY2(statuses.contains("\n" + entry) || statuses.startsWith(entry),
                         qPrintable(command->name() + entry));
                QVERIFY(help.section("\nExit status:\n", 1).contains(entry));
            }
        }
        QCOMPARE(names.join(' '), "discover set reset apply ping doctor watch");
        QCOMPARE(codes(statuses), "0 1 2 3 4 5 6 7 8 9 10 11 12 130 143");
        QVERIFY(general.contains("discover, set, reset, apply, ping, doctor, watch or help."));
    }

    void interfaceNames()
    {
        const QList<CliInterfaceName> known = {{"lo", "lo"}, {"lab0", "Wired"}, {"lab1", "lab1"}};
        QCOMPARE(unknownInterface({"lab1", "Wired"}, known), QString()); // either name
        QCOMPARE(unknownInterface({"lab0", "wlan9", "lab1"}, known), "wlan9");
        QCOMPARE(unknownInterface({"LAB0"}, known), "LAB0");
    }

    // Every format lists by serial number. JSON is compared in its compact form.
    void output_data()
    {
        columns<CliFormat, bool, bool, QString>({"format", "withStatus", "empty", "expected"});

        const QString header = "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,"
                               "Address mode,MAC Address\n";
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
        row("json with status", CliFormat::Json, true, false,
            R"([{"addressMode":"DHCP","conflict":null,"deviceType":"Nerio HF","deviceTypeCode":5,)"
            R"("dnsServer":"0.0.0.0","gateway":"10.10.0.254","interface":"10.10.0.1",)"
            R"("ipAddress":"10.10.0.15","macAddress":"02:c0:1a:00:00:05",)"
            R"("reason":"port 21 accepted a connection","serial":1005,"status":"Reachable",)"
            R"("subnetMask":"255.255.255.0"},)"
            R"({"addressMode":"Static","conflict":null,"deviceType":"Pivlo","deviceTypeCode":10,)"
            R"("dnsServer":"0.0.0.0","gateway":"10.10.0.254","interface":"10.20.0.1",)"
            R"("ipAddress":"10.20.0.20","macAddress":"02:c0:1a:00:00:0a",)"
            R"("reason":"connection refused, twice","serial":1010,"status":"Unreachable",)"
            R"("subnetMask":"255.255.255.0"}])");
        row("empty json: an empty array", CliFormat::Json, false, true, "[]");
    }

    // apply's JSON report: a changed row, a device not found (nulls) and a refusal.
    void applyReport()
    {
        const auto settings = [](const char* mac, const char* ip, AddressMode mode) {
            return NetworkSettings(Ipv4Address(ip), Ipv4Address("255.255.255.0"),
                                   Ipv4Address("10.10.0.254"), Ipv4Address(), macOf(mac), mode);
        };
        const NetworkSettings nerio =
            settings("02:c0:1a:00:00:05", "10.10.0.15", AddressModeStatic);
        const NetworkSettings moved =
            settings("02:c0:1a:00:00:05", "10.10.0.77", AddressModeStatic);
        const NetworkSettings pivlo = settings("02:c0:1a:00:00:0a", "10.20.0.20", AddressModeDhcp);
        const CliApplyRow changed{2,     nerio.macAddress(),  1005, DeviceType(5), nerio,
                                  moved, CliOutcome::Changed, {}};
        CliApplyRow missing;
        missing.line = 3;
        missing.mac = macOf("02:c0:1a:00:00:99");
        const CliApplyRow refused{5,     pivlo.macAddress(),  1010,        DeviceType(10), pivlo,
                                  pivlo, CliOutcome::Refused, "bad, twice"};
        const QString text =
            QJsonDocument::fromJson(
                formatApplyReport({changed, missing, refused}, CliFormat::Json).toUtf8())
                .toJson(QJsonDocument::Compact);
        const QString found =
            R"({"addressMode":"%1","dnsServer":"0.0.0.0","gateway":"10.10.0.254",)"
            R"("ipAddress":"%2","subnetMask":"255.255.255.0"})";
        QCOMPARE(
            text,
            QString(
                R"([{"deviceType":"Nerio HF","found":)" + found.arg("Static", "10.10.0.15") +
                R"(,"left":)" + found.arg("Static", "10.10.0.77") +
                R"(,"line":2,"macAddress":"02:c0:1a:00:00:05","outcome":"changed","serial":1005},)"
                R"({"deviceType":null,"found":null,"left":null,"line":3,)"
                R"("macAddress":"02:c0:1a:00:00:99","outcome":"not found","serial":null},)"
                R"({"deviceType":"Pivlo","found":)" +
                found.arg("DHCP", "10.20.0.20") + R"(,"left":)" + found.arg("DHCP", "10.20.0.20") +
                R"(,"line":5,"macAddress":"02:c0:1a:00:00:0a","outcome":"refused: bad, twice",)"
                R"("serial":1010}])"));
    }

    void output()
    {
        QFETCH(CliFormat, format);
        QFETCH(bool, withStatus);
        QFETCH(bool, empty);
        QFETCH(QString, expected);
        DeviceList list;
        for (const auto& d : empty ? DeviceList::Devices() : twoDevices())
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
#include "tst_cli.moc"
