// corla-cli without a network: what the command line accepts and refuses, and what the
// commands print.

#include "clicommand.h"
#include "cliformat.h"
#include "corlatable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

CliParseResult parse(const QString& line)
{
    return parseCliArguments(QStringList{"/some/where/corla-cli"} +
                             line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

std::shared_ptr<TevDevice> device(int type, uint16_t serial, const char* ip, const char* mac,
                                  TevAddressMode mode, const char* iface = "10.10.0.1")
{
    TevMacAddr m;
    TevMacAddr::parse(mac, &m);
    auto d = TevDevice::createDevice(static_cast<ZelDeviceType>(type));
    d->setSerial(serial);
    d->setNetHostInfo(TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"),
                                     TevIpAddr("10.10.0.254"), TevIpAddr("0.0.0.0"), m, mode));
    d->setCommsIfaceAddr(TevIpAddr(iface));
    return d;
}

// Two devices, listed out of serial order.
CliDeviceList twoDevices()
{
    auto pivlo =
        device(10, 1010, "10.20.0.20", "02:c0:1a:00:00:0a", TevAddressModeManual, "10.20.0.1");
    pivlo->setNetStat(ZelNetworkStatus::Unreachable);
    auto nerio = device(5, 1005, "10.10.0.15", "02:c0:1a:00:00:05", TevAddressModeAuto);
    nerio->setNetStat(ZelNetworkStatus::Reachable);
    return {pivlo, nerio};
}

const QString CsvHeader =
    "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address\n";

} // namespace

Q_DECLARE_METATYPE(CliCommand)
Q_DECLARE_METATYPE(CliFormat)

class TestCorlaCli : public QObject
{
    Q_OBJECT

private slots:
    void acceptedCommandLines_data();
    void acceptedCommandLines();
    void staticSettings_data();
    void staticSettings();
    void refusedCommandLines_data();
    void refusedCommandLines();
    void firstOctetRuleIsThePanes();
    void masksAsThePaneJudgesThem_data();
    void masksAsThePaneJudgesThem();
    void helpAndVersion_data();
    void helpAndVersion();
    void everyExitStatusIsDocumented();
    void interfaceNames_data();
    void interfaceNames();
    void settingsSentAsTheDialogSendsThem_data();
    void settingsSentAsTheDialogSendsThem();

    void csvIsTheExportFormat();
    void tableColumnsAreAligned_data();
    void tableColumnsAreAligned();
    void jsonObjects_data();
    void jsonObjects();
    void emptyList_data();
    void emptyList();
    void laterAnswerUpdatesTheEntry();
    void outputOrder();
};

void TestCorlaCli::acceptedCommandLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<CliCommand>("command");
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<bool>("probe");
    QTest::addColumn<CliFormat>("format");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("force");

    const QStringList none;
    const QString noMac = "00:00:00:00:00:00";
    QTest::newRow("discover with defaults") << "discover" << CliCommand::Discover << none << 3000
                                            << false << CliFormat::Table << noMac << 0 << false;
    QTest::newRow("discover with every option")
        << "discover --wait 250 --probe --format json" << CliCommand::Discover << none << 250
        << true << CliFormat::Json << noMac << 0 << false;
    QTest::newRow("interfaces before and after the command")
        << "--interface lab0 discover --interface lab1" << CliCommand::Discover
        << QStringList{"lab0", "lab1"} << 3000 << false << CliFormat::Table << noMac << 0 << false;
    QTest::newRow("set dhcp") << "set 02:c0:1a:00:00:05 --dhcp --wait 900" << CliCommand::Set
                              << none << 900 << false << CliFormat::Table << "02:c0:1a:00:00:05"
                              << 1 << false;
    QTest::newRow("set static forced, MAC in capitals with dashes")
        << "set 02-C0-1A-00-00-0B --static 10.10.0.50 --mask 255.255.255.0 --force"
        << CliCommand::Set << none << 3000 << false << CliFormat::Table << "02:c0:1a:00:00:0b" << 2
        << true;
    QTest::newRow("options before the MAC")
        << "set --dhcp --interface lab1 02:c0:1a:00:00:08" << CliCommand::Set << QStringList{"lab1"}
        << 3000 << false << CliFormat::Table << "02:c0:1a:00:00:08" << 1 << false;
    QTest::newRow("reset") << "reset 02:c0:1a:00:00:0c --wait 1" << CliCommand::Reset << none << 1
                           << false << CliFormat::Table << "02:c0:1a:00:00:0c" << 0 << false;
    QTest::newRow("ping") << "ping 10.10.0.254" << CliCommand::Ping << none << 3000 << false
                          << CliFormat::Table << noMac << 0 << false;
}

void TestCorlaCli::acceptedCommandLines()
{
    QFETCH(QString, line);
    const CliParseResult result = parse(line);
    QVERIFY2(result.ok, qPrintable(result.error));
    const CliRequest& r = result.request;
    QTEST(r.command, "command");
    QTEST(r.interfaces, "interfaces");
    QTEST(r.waitMs, "waitMs");
    QTEST(r.probe, "probe");
    QTEST(r.format, "format");
    QTEST(QString::fromStdString(r.mac.toString()), "mac");
    QTEST(int(r.settings.addressMode()), "mode");
    QTEST(r.force, "force");
}

void TestCorlaCli::staticSettings_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("dns");

    const QString mac = "set 02:c0:1a:00:00:05 ";
    QTest::newRow("gateway and DNS server default to none")
        << mac + "--static 10.10.0.50 --mask 255.255.255.0"
        << "10.10.0.50"
        << "255.255.255.0"
        << "0.0.0.0"
        << "0.0.0.0";
    QTest::newRow("all four fields")
        << mac + "--static 172.16.4.9 --mask 255.255.0.0 --gateway 172.16.0.1 --dns 172.16.0.2"
        << "172.16.4.9"
        << "255.255.0.0"
        << "172.16.0.1"
        << "172.16.0.2";
    QTest::newRow("explicit zero gateway") << mac + "--static 223.1.1.1 --mask 0.0.0.0 --gateway "
                                                    "0.0.0.0"
                                           << "223.1.1.1"
                                           << "0.0.0.0"
                                           << "0.0.0.0"
                                           << "0.0.0.0";
}

void TestCorlaCli::staticSettings()
{
    QFETCH(QString, line);
    const CliParseResult result = parse(line);
    QVERIFY2(result.ok, qPrintable(result.error));
    const TevNetHostInfo& s = result.request.settings;
    QTEST(QString::fromStdString(s.ipAddress().toString()), "ip");
    QTEST(QString::fromStdString(s.subnetMask().toString()), "mask");
    QTEST(QString::fromStdString(s.gateway().toString()), "gateway");
    QTEST(QString::fromStdString(s.dns().toString()), "dns");
}

void TestCorlaCli::refusedCommandLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("hint");

    const QString general = "Try 'corla-cli --help'.";
    const QString setHint = "Try 'corla-cli set --help'.";
    const QString set = "set 02:c0:1a:00:00:05 ";

    QTest::newRow("no command") << ""
                                << "no command given" << general;
    QTest::newRow("only options") << "--interface lab0"
                                  << "no command given" << general;
    QTest::newRow("unknown command") << "list --wait 5"
                                     << "unknown command \"list\"" << general;
    QTest::newRow("option of another command") << set + "--dhcp --probe"
                                               << "set: Unknown option 'probe'." << setHint;
    QTest::newRow("discover with an argument") << "discover now"
                                               << "discover takes no arguments, not \"now\""
                                               << "Try 'corla-cli discover --help'.";
    QTest::newRow("unknown format") << "discover --format xml"
                                    << "--format must be table, csv or json, not \"xml\""
                                    << "Try 'corla-cli discover --help'.";
    QTest::newRow("wait zero") << "discover --wait 0"
                               << "--wait must be a whole number"
                               << "";
    QTest::newRow("wait beyond an hour") << "discover --wait 3600001"
                                         << "from 1 to 3600000"
                                         << "";
    QTest::newRow("wait without value") << "discover --wait"
                                        << "Missing value after '--wait'."
                                        << "";
    QTest::newRow("empty interface name") << "discover --interface="
                                          << "--interface needs a name"
                                          << "";

    QTest::newRow("set without MAC") << "set --dhcp"
                                     << "set needs the device's MAC address" << setHint;
    QTest::newRow("set with two MACs") << set + "02:c0:1a:00:00:06 --dhcp"
                                       << "not also \"02:c0:1a:00:00:06\"" << setHint;
    QTest::newRow("MAC with five pairs") << "set 02:c0:1a:00:05 --dhcp"
                                         << "\"02:c0:1a:00:05\" is not a MAC address" << setHint;
    QTest::newRow("zero MAC would ask every device") << "reset 00:00:00:00:00:00"
                                                     << "00:00:00:00:00:00 names no device"
                                                     << "Try 'corla-cli reset --help'.";
    QTest::newRow("neither mode") << set << "set needs --dhcp or --static IP" << setHint;
    QTest::newRow("both modes") << set + "--dhcp --static 10.1.1.1 --mask 255.0.0.0"
                                << "--dhcp and --static exclude each other" << setHint;
    QTest::newRow("mask with dhcp") << set + "--dhcp --mask 255.0.0.0"
                                    << "--mask goes with --static, not with --dhcp" << setHint;
    QTest::newRow("static without mask") << set + "--static 10.10.0.50"
                                         << "--static needs --mask MASK" << setHint;
    QTest::newRow("static address with three numbers")
        << set + "--static 10.10.0 --mask 255.0.0.0"
        << "--static: \"10.10.0\" is not an IPv4 address" << setHint;
    QTest::newRow("static address 0.0.0.0")
        << set + "--static 0.0.0.0 --mask 255.0.0.0"
        << "--static: 0.0.0.0 is not a device address: the first number must be from 1 to 223, "
           "excluding 127"
        << setHint;
    QTest::newRow("mask all ones") << set + "--static 10.10.0.50 --mask 255.255.255.255"
                                   << "--mask: 255.255.255.255 is not a subnet mask" << setHint;
    QTest::newRow("mask malformed") << set + "--static 10.10.0.50 --mask 255.255.255"
                                    << "--mask: \"255.255.255\" is not an IPv4 address" << setHint;
    QTest::newRow("gateway malformed")
        << set + "--static 10.10.0.50 --mask 255.255.255.0 --gateway 10.10.0"
        << "--gateway: \"10.10.0\" is not an IPv4 address" << setHint;
    QTest::newRow("dns malformed")
        << set + "--static 10.10.0.50 --mask 255.255.255.0 --dns 10.10.0.x"
        << "--dns: \"10.10.0.x\" is not an IPv4 address" << setHint;

    QTest::newRow("ping without address") << "ping"
                                          << "ping needs an IPv4 address"
                                          << "Try 'corla-cli ping --help'.";
    QTest::newRow("ping malformed") << "ping 10.10.0"
                                    << "ping: \"10.10.0\" is not"
                                    << "";
    QTest::newRow("ping zero address") << "ping 0.0.0.0"
                                       << "0.0.0.0 is no address to send to"
                                       << "";
    QTest::newRow("ping timeout zero") << "ping 10.10.0.254 --timeout 0"
                                       << "--timeout must be a whole number"
                                       << "";
    QTest::newRow("help for an unknown command") << "help list"
                                                 << "help: no command \"list\"" << general;
}

void TestCorlaCli::refusedCommandLines()
{
    QFETCH(QString, line);
    QFETCH(QString, error);
    QFETCH(QString, hint);
    const CliParseResult result = parse(line);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QVERIFY2(!result.error.contains(QLatin1Char('\n')), "one line");
    if (!hint.isEmpty())
        QCOMPARE(result.hint, hint);
    QVERIFY(result.hint.startsWith("Try 'corla-cli "));
}

void TestCorlaCli::firstOctetRuleIsThePanes()
{
    // The settings pane and the command line must refuse the same addresses.
    for (int first = 0; first <= 255; ++first) {
        const QString line =
            QStringLiteral("set 02:c0:1a:00:00:05 --static %1.1.2.3 --mask 255.0.0.0").arg(first);
        const bool expected = first >= 1 && first <= 223 && first != 127;
        QVERIFY2(parse(line).ok == expected, qPrintable(line));
        QCOMPARE(isValidHostFirstOctet(uint8_t(first)), expected);
    }
}

void TestCorlaCli::masksAsThePaneJudgesThem_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("/24") << "255.255.255.0" << true;
    QTest::newRow("/31") << "255.255.255.254" << true;
    QTest::newRow("/1") << "128.0.0.0" << true;
    QTest::newRow("empty mask, as the pane accepts it") << "0.0.0.0" << true;
    QTest::newRow("/32") << "255.255.255.255" << false;
    QTest::newRow("hole in the ones") << "255.0.255.0" << false;
    QTest::newRow("zeros first") << "0.255.255.255" << false;
    QTest::newRow("single low bit") << "0.0.0.1" << false;
}

void TestCorlaCli::masksAsThePaneJudgesThem()
{
    QFETCH(QString, mask);
    QFETCH(bool, accepted);
    const CliParseResult result = parse("set 02:c0:1a:00:00:05 --static 10.10.0.50 --mask " + mask);
    QCOMPARE(result.ok, accepted);
    QCOMPARE(isValidSubnetMask(TevIpAddr(mask.toStdString()).toInt()), accepted);
    if (accepted)
        QCOMPARE(QString::fromStdString(result.request.settings.subnetMask().toString()), mask);
}

void TestCorlaCli::helpAndVersion_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("usage");

    const QString general = "Usage: corla-cli [options] COMMAND [ARGUMENTS]\n";
    const QString set = "Usage: corla-cli [options] set MAC (--dhcp | --static IP --mask MASK "
                        "[--gateway IP] [--dns IP])\n";
    QTest::newRow("--help") << "--help" << general;
    QTest::newRow("help") << "help" << general;
    QTest::newRow("set --help") << "set --help" << set;
    QTest::newRow("help set") << "help set" << set;
    QTest::newRow("help wins over bad arguments") << "set zz --static 999 --help" << set;
    QTest::newRow("reset --help") << "reset --help"
                                  << "Usage: corla-cli [options] reset MAC\n";
}

void TestCorlaCli::helpAndVersion()
{
    QFETCH(QString, line);
    QFETCH(QString, usage);
    const CliParseResult result = parse(line);
    QVERIFY(result.ok);
    QCOMPARE(result.request.command, CliCommand::Help);
    QVERIFY2(result.request.helpText.startsWith(usage), qPrintable(result.request.helpText));
    QVERIFY(result.request.helpText.contains("Exit status:"));
    QVERIFY(result.request.helpText.contains("--interface <name>"));

    const CliParseResult version = parse("--version");
    QCOMPARE(version.request.command, CliCommand::Version);
    QCOMPARE(version.request.helpText, QStringLiteral("corla-cli " CORLA_VERSION "\n"));
}

void TestCorlaCli::everyExitStatusIsDocumented()
{
    const QString help = parse("--help").request.helpText;
    const QStringList lines = help.mid(help.indexOf("Exit status:")).split('\n');
    const int codes[] = {CliExit::Ok,       CliExit::Usage,        CliExit::NoAnswer,
                         CliExit::Refused,  CliExit::AddressInUse, CliExit::NoReply,
                         CliExit::NoNetwork};
    QCOMPARE(int(std::size(codes)), 7);
    for (int code : codes) {
        const QString prefix = QStringLiteral("  %1  ").arg(code);
        QVERIFY2(std::any_of(lines.begin(), lines.end(),
                             [&](const QString& l) { return l.startsWith(prefix); }),
                 qPrintable(prefix));
    }
    // Distinct values: a script must be able to tell the outcomes apart.
    QCOMPARE(QSet<int>(std::begin(codes), std::end(codes)).size(), 7);
}

void TestCorlaCli::interfaceNames_data()
{
    QTest::addColumn<QStringList>("requested");
    QTest::addColumn<QString>("unknown");

    QTest::newRow("none requested") << QStringList() << "";
    QTest::newRow("by system name") << QStringList{"lab0", "lab1"} << "";
    QTest::newRow("by human-readable name") << QStringList{"Wired"} << "";
    QTest::newRow("one unknown among known") << QStringList{"lab0", "wlan9", "lab1"} << "wlan9";
    QTest::newRow("case matters") << QStringList{"LAB0"} << "LAB0";
}

void TestCorlaCli::interfaceNames()
{
    QFETCH(QStringList, requested);
    const QList<CliInterfaceName> available = {{"lo", "lo"}, {"lab0", "Wired"}, {"lab1", "lab1"}};
    QTEST(unknownInterface(requested, available), "unknown");
}

void TestCorlaCli::settingsSentAsTheDialogSendsThem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("echoFirst");

    // The device reports: static 10.10.0.23/24, gateway and DNS 10.10.0.254.
    QTest::newRow("dhcp keeps the reported fields")
        << "--dhcp"
        << "DHCP 10.10.0.23 mask 255.255.255.0 gateway 10.10.0.254 DNS 10.10.0.254" << false;
    QTest::newRow("static replaces all four fields")
        << "--static 10.10.0.77 --mask 255.255.0.0 --gateway 10.10.0.1 --dns 10.10.0.2"
        << "static 10.10.0.77 mask 255.255.0.0 gateway 10.10.0.1 DNS 10.10.0.2" << true;
    QTest::newRow("static without gateway and DNS server clears them")
        << "--static 10.10.0.77 --mask 255.255.255.0"
        << "static 10.10.0.77 mask 255.255.255.0 gateway 0.0.0.0 DNS 0.0.0.0" << true;
    QTest::newRow("own address: no echo, the device would answer it")
        << "--static 10.10.0.23 --mask 255.255.0.0"
        << "static 10.10.0.23 mask 255.255.0.0 gateway 0.0.0.0 DNS 0.0.0.0" << false;
}

void TestCorlaCli::settingsSentAsTheDialogSendsThem()
{
    QFETCH(QString, line);
    TevMacAddr mac;
    QVERIFY(TevMacAddr::parse("02:c0:1a:00:00:0d", &mac));
    const TevNetHostInfo reported(TevIpAddr("10.10.0.23"), TevIpAddr("255.255.255.0"),
                                  TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.254"), mac,
                                  TevAddressModeManual);
    const CliParseResult parsed = parse("set 02:c0:1a:00:00:0d " + line);
    QVERIFY2(parsed.ok, qPrintable(parsed.error));

    const TevNetHostInfo sent = settingsToSend(reported, parsed.request.settings);
    QTEST(settingsText(sent), "sent");
    QCOMPARE(sent.macAddress(), mac);
    QTEST(needsDuplicateCheck(reported, sent), "echoFirst");
}

void TestCorlaCli::csvIsTheExportFormat()
{
    const CliDeviceList devices = sortedForOutput(twoDevices());
    const QString expected =
        CsvHeader +
        "1005,Nerio HF,10.10.0.15,255.255.255.0,10.10.0.254,0.0.0.0,DHCP,02:c0:1a:00:00:05\n"
        "1010,Pivlo,10.20.0.20,255.255.255.0,10.10.0.254,0.0.0.0,Static,02:c0:1a:00:00:0a\n";
    QCOMPARE(formatCsv(devices), expected);
    // Status never enters the CSV.
    QCOMPARE(formatDevices(devices, CliFormat::Csv, true), expected);

    CorlaTableModel list;
    for (const auto& d : devices)
        list.addDevice(d);
    QCOMPARE(formatCsv(devices), list.toCsv());
}

void TestCorlaCli::tableColumnsAreAligned_data()
{
    QTest::addColumn<bool>("withStatus");
    QTest::addColumn<QString>("expected");

    QTest::newRow("discovered") << false
                                << "Device Type  Serial #  IP Address  Mode    MAC Address        "
                                   "Interface\n"
                                   "Nerio HF     1005      10.10.0.15  DHCP    02:c0:1a:00:00:05  "
                                   "10.10.0.1\n"
                                   "Pivlo        1010      10.20.0.20  Static  02:c0:1a:00:00:0a  "
                                   "10.20.0.1\n";
    QTest::newRow("probed")
        << true
        << "Status       Device Type  Serial #  IP Address  Mode    MAC Address "
           "       Interface\n"
           "Reachable    Nerio HF     1005      10.10.0.15  DHCP    "
           "02:c0:1a:00:00:05  10.10.0.1\n"
           "Unreachable  Pivlo        1010      10.20.0.20  Static  "
           "02:c0:1a:00:00:0a  10.20.0.1\n";
}

void TestCorlaCli::tableColumnsAreAligned()
{
    QFETCH(bool, withStatus);
    QTEST(formatDevices(sortedForOutput(twoDevices()), CliFormat::Table, withStatus), "expected");
}

void TestCorlaCli::jsonObjects_data()
{
    QTest::addColumn<bool>("withStatus");
    QTest::newRow("discovered") << false;
    QTest::newRow("probed") << true;
}

void TestCorlaCli::jsonObjects()
{
    QFETCH(bool, withStatus);
    const QString text = formatDevices(sortedForOutput(twoDevices()), CliFormat::Json, withStatus);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(doc.isArray());
    const QJsonArray array = doc.array();
    QCOMPARE(array.size(), 2);

    const QJsonObject first = array.at(0).toObject();
    QCOMPARE(first.value("serial").toInt(), 1005);
    QCOMPARE(first.value("deviceType").toString(), "Nerio HF");
    QCOMPARE(first.value("deviceTypeCode").toInt(), 5);
    QCOMPARE(first.value("ipAddress").toString(), "10.10.0.15");
    QCOMPARE(first.value("subnetMask").toString(), "255.255.255.0");
    QCOMPARE(first.value("gateway").toString(), "10.10.0.254");
    QCOMPARE(first.value("dnsServer").toString(), "0.0.0.0");
    QCOMPARE(first.value("addressMode").toString(), "DHCP");
    QCOMPARE(first.value("macAddress").toString(), "02:c0:1a:00:00:05");
    QCOMPARE(first.value("interface").toString(), "10.10.0.1");
    const QJsonObject second = array.at(1).toObject();
    QCOMPARE(second.value("addressMode").toString(), "Static");
    QCOMPARE(second.value("interface").toString(), "10.20.0.1");

    QCOMPARE(first.contains("status"), withStatus);
    if (withStatus) {
        QCOMPARE(first.value("status").toString(), "Reachable");
        QCOMPARE(second.value("status").toString(), "Unreachable");
    }
}

void TestCorlaCli::emptyList_data()
{
    QTest::addColumn<CliFormat>("format");
    QTest::addColumn<QString>("expected");

    QTest::newRow("csv: the header line") << CliFormat::Csv << CsvHeader;
    QTest::newRow("json: an empty array") << CliFormat::Json << "[\n]\n";
    QTest::newRow("table: the header") << CliFormat::Table
                                       << "Device Type  Serial #  IP Address  Mode  MAC Address  "
                                          "Interface\n";
}

void TestCorlaCli::emptyList()
{
    QFETCH(CliFormat, format);
    QTEST(formatDevices({}, format, false), "expected");
}

void TestCorlaCli::laterAnswerUpdatesTheEntry()
{
    CorlaTableModel list;
    QAbstractItemModelTester tester(&list);
    auto first =
        device(5, 1005, "10.10.0.15", "02:c0:1a:00:00:05", TevAddressModeManual, "10.10.0.1");
    auto again =
        device(5, 1005, "10.10.0.60", "02:c0:1a:00:00:05", TevAddressModeAuto, "10.10.1.1");
    auto other =
        device(8, 1008, "10.20.0.18", "02:c0:1a:00:00:08", TevAddressModeManual, "10.20.0.1");
    mergeAnswer(&list, first);
    mergeAnswer(&list, other);
    mergeAnswer(&list, again);
    mergeAnswer(&list, nullptr);

    QCOMPARE(list.numDevices(), 2);
    const auto listed = list.device(first->netHostInfo().macAddress());
    QCOMPARE(listed->netHostInfo(), again->netHostInfo());
    // Where the device was first heard stays, as in the window.
    QCOMPARE(listed->commsIfaceAddr(), TevIpAddr("10.10.0.1"));
}

void TestCorlaCli::outputOrder()
{
    auto a = device(1, 7, "10.0.0.1", "02:00:00:00:00:03", TevAddressModeManual);
    auto b = device(1, 7, "10.0.0.2", "02:00:00:00:00:01", TevAddressModeManual);
    auto c = device(1, 3, "10.0.0.3", "02:00:00:00:00:09", TevAddressModeManual);
    auto d = device(1, 100, "10.0.0.4", "02:00:00:00:00:00", TevAddressModeManual);
    const CliDeviceList sorted = sortedForOutput({d, a, b, c});
    QCOMPARE(sorted, (CliDeviceList{c, b, a, d}));
}

QTEST_GUILESS_MAIN(TestCorlaCli)
#include "tst_corlacli.moc"
