// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Plans: what a file may hold and where faults are reported, rows already satisfied, and
// the order that keeps two devices from ever sharing an address.

#include "core/fleet/csv.h"
#include "core/fleet/plan.h"
#include "tests/support/datarow.h"
#include "tests/support/testdevice.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace corla;

Q_DECLARE_METATYPE(QVector<NetworkSettings>)
Q_DECLARE_METATYPE(PlanRow)
Q_DECLARE_METATYPE(QVector<PlanRow>)

namespace {

const char* const Header =
    "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address\n";
const char* const Good =
    "1001,Nerio HF,10.10.0.11,255.255.255.0,10.10.0.254,,Static,02:c0:1a:00:00:01\n";

MacAddress mac(int last)
{
    MacAddress m;
    MacAddress::parse(
        QStringLiteral("02:c0:1a:00:00:%1").arg(last, 2, 10, QChar('0')).toStdString(), &m);
    return m;
}

// A device of the 10.10.0.0/24 network; no address: DHCP.
NetworkSettings device(int macLast, const char* ip = nullptr, const char* gateway = "0.0.0.0")
{
    return NetworkSettings(Ipv4Address(ip ? ip : "10.10.0.200"), Ipv4Address("255.255.255.0"),
                           Ipv4Address(gateway), Ipv4Address(), mac(macLast),
                           ip ? AddressModeStatic : AddressModeDhcp);
}

PlanRow change(int line, int macLast, const char* ip = nullptr)
{
    PlanRow row{line, device(macLast, ip), {}, {}};
    if (!ip) {
        row.planned = NetworkSettings();
        row.planned.setAddressMode(AddressModeDhcp);
        row.planned.setMacAddress(mac(macLast));
    }
    return row;
}

// "LINE MAC mode address mask gateway DNS" per row.
QStringList rowTexts(const Plan& plan)
{
    QStringList rows;
    for (const PlanRow& r : plan.rows) {
        const NetworkSettings& n = r.planned;
        rows << QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                    .arg(QString::number(r.line), text(n.macAddress()),
                         n.addressMode() == AddressModeDhcp ? "DHCP" : "Static",
                         text(n.ipAddress()), text(n.subnetMask()), text(n.gateway()),
                         text(n.dns()));
    }
    return rows;
}

// Devices reporting what none can be given: no mode, group MAC, no address, a shared one.
QVector<NetworkSettings> oddFleet()
{
    const auto odd = [](const char* mac, AddressMode mode, const char* ip, const char* mask) {
        return NetworkSettings(Ipv4Address(ip), Ipv4Address(mask), {}, {}, macOf(mac), mode);
    };
    const char* const c = "255.255.255.0";
    return {odd("02:c0:1a:00:00:01", AddressModeStatic, "10.10.0.11", c),
            odd("02:c0:1a:00:00:02", AddressModeDhcp, "10.10.0.200", c),
            odd("02:c0:1a:00:00:03", AddressModeNotSet, "10.10.0.13", c),
            odd("03:c0:1a:00:00:04", AddressModeStatic, "0.0.0.0", "0.0.0.0"),
            odd("02:c0:1a:00:00:05", AddressModeStatic, "10.10.0.11", c)};
}

QStringList faultTexts(const QVector<PlanFault>& faults)
{
    QStringList texts;
    for (const PlanFault& f : faults)
        texts << f.text();
    return texts;
}

// As a spreadsheet saves "Unicode text": UTF-16 code units in the given byte order.
QByteArray utf16(const QString& text, bool bigEndian, bool withMark = true)
{
    QByteArray bytes;
    if (withMark)
        bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xff);
        bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
    }
    return bytes;
}

// `expected`: one "LINE: words of the message" per fault, in the order listed.
void checkFaults(const QVector<PlanFault>& faults, const QStringList& expected)
{
    QStringList seen;
    for (int i = 0; i < faults.size(); ++i) {
        const QString words = expected.value(i).section(": ", 1);
        seen << QString::number(faults[i].line) + ": " +
                    (faults[i].message.contains(words) ? words : faults[i].message);
    }
    QCOMPARE(seen, expected);
}

} // namespace

class TestPlan : public QObject
{
    Q_OBJECT

private slots:
    // `expected`: one "LINE: words of the message" per fault, in the order listed.
    void faults_data()
    {
        columns<QByteArray, QStringList>({"file", "expected"});
        const QByteArray h = Header, ok = Good;
        const auto bad = [&](const char* line) { return h + ok + line; };
        row("empty file", QByteArray(), QStringList{"1: no header line"});
        row("header alone", "\n\n" + h, QStringList{"3: names no device"});
        row("a column named twice",
            QByteArray("Gateway,IP Address,Subnet Mask,Address mode,MAC Address,ip address\n"),
            QStringList{"1: \"IP Address\" twice (columns 2 and 6)"});
        row("MAC twice, in another spelling", bad(",,,,,,DHCP,02-C0-1A-00-00-01\n"),
            QStringList{"3: MAC Address: 02:c0:1a:00:00:01 is planned on line 2 already"});
        row("every fault of a row", bad(",,,255.255.255.255,x,,Static,02:c0:1a:00:00\n"),
            QStringList{"3: \"02:c0:1a:00:00\" is not a MAC address", "3: IP Address is empty",
                        "3: Gateway: \"x\" is not an IPv4 address"});
        row("an unquoted comma shifts the columns",
            bad("1002,Nerio, HF,10.10.0.12,255.255.255.0,,,Static,02:c0:1a:00:00:02\n"),
            QStringList{"3: 9 fields, but the header names 8 columns"});
        row("text after a closing quote", bad("1002,\"Nerio\" HF,,,,,DHCP,02:c0:1a:00:00:02\n"),
            QStringList{"3: text after the closing quote"});
        row("quote never closed, after a field over two lines",
            h + "1,\"two\nlines\",,,,,DHCP,02:c0:1a:00:00:02\n\n" + ok + "\"1003,,,,,,DHCP\n",
            QStringList{"6: never closed"});
        const QByteArray dhcp3 = ",,,,,,DHCP,02:c0:1a:00:00:03\n";
        row("binary data after a good line", h + ok + QByteArray("\x01\x02\xFF\xFE", 4),
            QStringList{"1: not text: binary data at byte 164"});
        row("text in an 8-bit encoding", h + ok + "1002,Nerio HF (B\xFCro),,,,,DHCP,x\r\n",
            QStringList{"3: not UTF-8 text: byte 0xfc at column 17 (byte 180)"});
        row("UTF-16 without a byte-order mark", utf16(Header, false, false),
            QStringList{"1: not text: UTF-16 without a byte-order mark"});
        row("UTF-16 with a lone surrogate",
            utf16(QString(Header) + Good + QChar(0xd800) + "\n", false),
            QStringList{"1: not text: UTF-16 broken by binary data at byte 329"});
        row("a NUL before two faulty rows",
            h + ok + QByteArray("1002,\0,,,,,DHCP,02:c0:1a:00:00:02\n", 34) + "\n" + dhcp3 + dhcp3,
            QStringList{"3: a NUL character at column 6",
                        "6: 02:c0:1a:00:00:03 is planned on line 5 already"});
        row("a NUL on the second line of a quoted field",
            h + ok + QByteArray("1,\"two\r\nli\0nes\",,,,,DHCP,02:c0:1a:00:00:02\n", 43) + dhcp3,
            QStringList{"4: a NUL character at column 3"});
        row("a NUL in UTF-16", utf16(QString(Header) + Good + QChar(0) + dhcp3, true),
            QStringList{"3: a NUL character at column 1"});
        row("a terminal's escape sequences in cells",
            h + ok +
                ",,,,,,Static\xC2\x9B"
                "2J,\x1B]0;owned\x07\n",
            QStringList{"3: \"\\x1b]0;owned\\x07\" is not a MAC address",
                        "3: Address mode: \"Static\\x9b2J\" is neither"});
    }

    void faults()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        checkFaults(readPlan(file).faults, expected);
    }

    // Every encoding and separator, and as a spreadsheet saves it: the rows, then the faults.
    void reads_data()
    {
        columns<QByteArray, QStringList>({"file", "expected"});
        const QString plan =
            QStringLiteral("Notes,MAC Address,Address mode,IP Address,Subnet Mask\r\n"
                           "\"B\u00fcro \U0001F41F, Regal "
                           "3\",02:c0:1a:00:00:01,Static,10.10.0.21,255.255.255.0\r\n"
                           "Ostfl\u00fcgel,02:c0:1a:00:00:02,DHCP,,\r\n"
                           "S\u00fcd,02:c0:1a:00:00:03,Dynamisch-\u00fc,,\r\n");
        const QString first = "2 02:c0:1a:00:00:01 Static 10.10.0.21 255.255.255.0 0.0.0.0 ";
        const QString dhcp = "3 02:c0:1a:00:00:02 DHCP 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0";
        const QStringList encoded{first + "0.0.0.0", dhcp,
                                  "line 4: Address mode: \"Dynamisch-\u00fc\" is neither DHCP nor "
                                  "Static"};
        row("UTF-8", plan.toUtf8(), encoded);
        row("UTF-16 little-endian", utf16(plan, false), encoded);
        row("UTF-16 big-endian", utf16(plan, true), encoded);
        const QStringList separated{
            "2 02:c0:1a:00:00:01 Static 10.10.0.21 255.255.255.0 10.10.0.254 0.0.0.0", dhcp};
        row("semicolons, CRLF, a comma inside a cell",
            QByteArray("Notes;MAC Address;Address mode;IP Address;Subnet Mask;Gateway\r\n"
                       "rack 2, left;02:c0:1a:00:00:01;Static;10.10.0.21;255.255.255.0;"
                       "10.10.0.254\r\n\"spare; boxed\";02:c0:1a:00:00:02;DHCP;;;\r\n"),
            separated);
        row("tabs, CRLF, blanks around cells",
            QByteArray("Notes\tMAC Address\tAddress mode\tIP Address\tSubnet Mask\tGateway\r\n"
                       "rack 2, left\t 02:c0:1a:00:00:01 \tStatic\t10.10.0.21\t255.255.255.0\t"
                       "10.10.0.254\r\nspare; boxed\t02:c0:1a:00:00:02\tDHCP\t\t\t\r\n"),
            separated);
        row("as a spreadsheet saves it",
            QByteArray("\xEF\xBB\xBF mac address ,ADDRESS MODE,Notes,IP Address,Subnet Mask,DNS "
                       "Server,Serial\r\n\"02:C0:1A:00:00:01\",static,\"Rack 3 \"\"top\"\", "
                       "shelf\",10.10.0.21,255.255.255.0,10.10.0.53,1001\r\n\r\n"
                       "02:c0:1a:00:00:02,Dhcp,\"two\r\nlines\",not an address,,,1002\r\n"
                       ",,,,,,\r\n02-c0-1a-00-00-03, Static ,, 10.10.0.23 ,255.255.0.0,,1003,,"),
            QStringList{first + "10.10.0.53",
                        "4 02:c0:1a:00:00:02 DHCP 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0",
                        "7 02:c0:1a:00:00:03 Static 10.10.0.23 255.255.0.0 0.0.0.0 0.0.0.0"});
    }

    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        const Plan plan = readPlan(file);
        QCOMPARE(rowTexts(plan) + faultTexts(plan.faults), expected);
    }

    // Values no device can be given are faults only once the device reports otherwise.
    void faultsUnlessAsFound_data()
    {
        columns<QString, QStringList>({"rows", "expected"});
        row("group MAC asked for DHCP", ",,,,,,DHCP,03:c0:1a:00:00:04\n",
            QStringList{"2: 03:c0:1a:00:00:04 is a broadcast or multicast address"});
        row("zero MAC, mode Unknown", ",,,,,,Unknown,00:00:00:00:00:00\n", QStringList());
        row("loopback address asked of a device elsewhere",
            ",,127.0.0.5,255.0.0.0,,,Static,02:c0:1a:00:00:01\n",
            QStringList{"2: 127.0.0.5 is not a device address"});
        row("zero mask and network address, as the device reports them",
            ",,0.0.0.0,0.0.0.0,,,Static,03:c0:1a:00:00:04\n", QStringList());
        row("mask with a hole for a device that did not answer",
            ",,10.10.0.12,255.0.255.0,,,Static,02:c0:1a:00:00:09\n", QStringList());
        row("an address twice, as both devices report it",
            ",,10.10.0.11,255.255.255.0,,,Static,02:c0:1a:00:00:01\n"
            ",,10.10.0.11,255.255.255.0,,,Static,02:c0:1a:00:00:05\n",
            QStringList());
        row("an address twice, the first row moves a device there",
            ",,10.10.0.11,255.255.255.0,,,Static,02:c0:1a:00:00:02\n"
            ",,10.10.0.11,255.255.255.0,,,Static,02:c0:1a:00:00:05\n",
            QStringList{"3: 10.10.0.11 is planned on line 2 already (the device of line 2 "
                        "reports other settings"});
    }

    void faultsUnlessAsFound()
    {
        QFETCH(QString, rows);
        QFETCH(QStringList, expected);
        const Plan plan = readPlan((Header + rows).toUtf8());
        QCOMPARE(faultTexts(plan.faults), QStringList());
        QCOMPARE(plan.rows.size(), rows.count('\n'));
        checkFaults(planFaultsAgainst(plan, oddFleet()), expected);
    }

    void state_data()
    {
        columns<PlanRow, int>({"row", "expected"});
        const int notFound = int(PlanRowState::NotFound),
                  done = int(PlanRowState::AlreadyAsPlanned),
                  toChange = int(PlanRowState::ToChange);
        PlanRow gatewayMoved = change(2, 1, "10.10.0.11");
        gatewayMoved.planned.setGateway(Ipv4Address("10.10.0.1"));
        row("no device with that MAC", change(2, 9, "10.10.0.11"), notFound);
        row("static, every field as found", change(2, 1, "10.10.0.11"), done);
        row("static, only the gateway differs", gatewayMoved, toChange);
        row("static, the device holds that address by DHCP", change(2, 2, "10.10.0.200"), toChange);
        row("DHCP, whatever the device's lease", change(2, 2), done);
        row("DHCP for a static device", change(2, 1), toChange);
        PlanRow unknown = change(2, 2, "10.10.0.200");
        unknown.planned.setAddressMode(AddressModeNotSet);
        row("mode Unknown, the device reports a mode", unknown, toChange);
    }

    void state()
    {
        QFETCH(PlanRow, row);
        QFETCH(int, expected);
        const QVector<NetworkSettings> found{device(1, "10.10.0.11"), device(2)};
        QCOMPARE(int(rowState(row, found)), expected);
    }

    // `expected`: the steps as "MAC-last-byte<leaver..."; `left`: addressesBeingLeft().
    void order_data()
    {
        columns<QVector<PlanRow>, QString, QString, QStringList>(
            {"changes", "expected", "left", "faults"});
        using Rows = QVector<PlanRow>;
        row("independent moves, and a mask change at the same address, in plan order",
            Rows{change(2, 1, "10.10.0.21"), change(3, 2, "10.10.0.12"),
                 change(4, 3, "10.10.0.23")},
            "01 02 03", "", QStringList());
        row("chain: each takes the address the next one leaves",
            Rows{change(2, 1, "10.10.0.12"), change(3, 2, "10.10.0.13"),
                 change(4, 3, "10.10.0.21")},
            "03 02<03 01<02", "10.10.0.13 10.10.0.12", QStringList());
        // As settingsToSend makes it: the mode changes, the reported address stays.
        PlanRow toDhcp = change(3, 2, "10.10.0.12");
        toDhcp.planned.setAddressMode(AddressModeDhcp);
        row("leaving for DHCP frees the address", Rows{change(2, 1, "10.10.0.12"), toDhcp},
            "02 01<02", "10.10.0.12", QStringList());
        row("swap refused; the rest still ordered",
            Rows{change(2, 3, "10.10.0.31"), change(3, 1, "10.10.0.12"),
                 change(4, 2, "10.10.0.11")},
            "03", "",
            QStringList{"line 3: 02:c0:1a:00:00:01 (line 3) would take 10.10.0.12 from "
                        "02:c0:1a:00:00:02 (line 4), which would take 10.10.0.11 from "
                        "02:c0:1a:00:00:01 (line 3): a swap cannot be made one device at a time, "
                        "since no device may take an address another still holds; move one of "
                        "them to a free address first"});
        row("three-device circle refused",
            Rows{change(2, 2, "10.10.0.13"), change(3, 3, "10.10.0.11"),
                 change(4, 1, "10.10.0.12")},
            "", "",
            QStringList{"line 2: 02:c0:1a:00:00:02 (line 2) would take 10.10.0.13 from "
                        "02:c0:1a:00:00:03 (line 3), which would take 10.10.0.11 from "
                        "02:c0:1a:00:00:01 (line 4), which would take 10.10.0.12 from "
                        "02:c0:1a:00:00:02 (line 2): these 3 moves wait for each other in a "
                        "circle, since no device may take an address another still holds; move "
                        "one of them to a free address first"});
        row("chain ending at a device that stays",
            Rows{change(2, 1, "10.10.0.12"), change(3, 2, "10.10.0.14")}, "", "",
            QStringList{"line 2: 02:c0:1a:00:00:01 (line 2) cannot take 10.10.0.12 before "
                        "02:c0:1a:00:00:02 (line 3) leaves it, and that change cannot be made",
                        "line 3: 02:c0:1a:00:00:02 (line 3) cannot take 10.10.0.14: "
                        "02:c0:1a:00:00:04 holds it and this plan does not move it away"});
    }

    void order()
    {
        QFETCH(QVector<PlanRow>, changes);
        QFETCH(QString, expected);
        QFETCH(QString, left);
        QFETCH(QStringList, faults);
        const QVector<NetworkSettings> found{device(1, "10.10.0.11"), device(2, "10.10.0.12"),
                                             device(3, "10.10.0.13"), device(4, "10.10.0.14")};
        const ChangeOrder order = orderChanges(changes, found);
        QStringList steps, addresses;
        for (const PlanStep& step : order.steps) {
            QString s = QString::fromStdString(step.row.planned.macAddress().toString()).right(2);
            for (const MacAddress& leaver : step.leftBy)
                s += '<' + QString::fromStdString(leaver.toString()).right(2);
            steps << s;
        }
        for (const Ipv4Address& a : order.addressesBeingLeft())
            addresses << QString::fromStdString(a.toString());
        QCOMPARE(steps.join(' '), expected);
        QCOMPARE(addresses.join(' '), left);
        QCOMPARE(faultTexts(order.faults), faults);
    }

    // Random plans against a plain model: an address is taken only while free (DHCP frees
    // it); all possible changes are placed, every other one faulted.
    void orderInvariants()
    {
        QRandomGenerator random(20260423);
        const auto address = [](int spot) {
            return Ipv4Address(QStringLiteral("10.10.0.%1").arg(11 + spot).toStdString());
        };
        int circles = 0;
        for (int round = 0; round < 400; ++round) {
            const int n = random.bounded(2, 9), pool = n + random.bounded(0, 3);
            QVector<int> spots(pool);
            std::iota(spots.begin(), spots.end(), 0);
            std::shuffle(spots.begin(), spots.end(), random);
            QVector<NetworkSettings> found;
            QHash<int, quint32> start; // device (MAC's last byte) -> the address it holds
            for (int d = 1; d <= n; ++d) {
                const bool dhcp = random.bounded(4) == 0;
                found << NetworkSettings(address(spots[d - 1]), Ipv4Address("255.255.255.0"),
                                         Ipv4Address(), Ipv4Address(), mac(d),
                                         dhcp ? AddressModeDhcp : AddressModeStatic);
                start[d] = address(spots[d - 1]).toInt();
            }
            std::shuffle(spots.begin(), spots.end(), random); // planned addresses: distinct
            QVector<PlanRow> changes;
            QHash<int, int> deviceAt; // line -> device
            for (int d = 1; d <= n; ++d) {
                const int what = random.bounded(4); // 0: no change, 1: DHCP, else static
                PlanRow row{changes.size() + 2, found[d - 1], {}, {}};
                if (what == 1)
                    row.planned.setAddressMode(AddressModeDhcp);
                else if (what > 1)
                    row.planned =
                        NetworkSettings(address(spots[d - 1]), Ipv4Address("255.255.0.0"),
                                        Ipv4Address(), Ipv4Address(), mac(d), AddressModeStatic);
                if (what == 0 || row.planned == found[d - 1])
                    continue;
                deviceAt[row.line] = d;
                changes << row;
            }
            const auto takes = [](const PlanRow& r) {
                return r.planned.addressMode() == AddressModeStatic ? r.planned.ipAddress().toInt()
                                                                    : 0u;
            };
            const auto heldByAnother = [](const QHash<int, quint32>& held, int d, quint32 ip) {
                for (auto it = held.cbegin(); it != held.cend(); ++it)
                    if (it.key() != d && it.value() == ip)
                        return true;
                return false;
            };

            QSet<int> possible;
            QHash<int, quint32> held = start;
            for (bool grew = true; grew;) {
                grew = false;
                for (const PlanRow& r : changes) {
                    const int d = deviceAt[r.line];
                    if (possible.contains(r.line) || (takes(r) && heldByAnother(held, d, takes(r))))
                        continue;
                    possible << r.line;
                    held[d] = takes(r);
                    grew = true;
                }
            }

            const ChangeOrder order = orderChanges(changes, found);
            const QString context = QStringLiteral("round %1").arg(round);
            held = start;
            QSet<int> placed, faulted;
            for (const PlanStep& step : order.steps) {
                const int d = deviceAt.value(step.row.line);
                QVERIFY2(d && !placed.contains(step.row.line), qPrintable(context));
                QVERIFY2(!takes(step.row) || !heldByAnother(held, d, takes(step.row)),
                         qPrintable(context));
                held[d] = takes(step.row);
                placed << step.row.line;
            }
            for (const PlanRow& r : changes)
                QVERIFY2(!placed.contains(r.line) || held[deviceAt[r.line]] == takes(r),
                         qPrintable(context));
            QSet<int> named;
            const QRegularExpression line(QStringLiteral("\\(line (\\d+)\\)"));
            for (const PlanFault& fault : order.faults) {
                faulted << fault.line;
                named << fault.line;
                for (auto m = line.globalMatch(fault.message); m.hasNext();)
                    named << m.next().captured(1).toInt();
                circles += fault.message.contains("a swap") || fault.message.contains("a circle");
            }
            QCOMPARE(placed, possible);
            QCOMPARE(placed + named, QSet<int>(deviceAt.keyBegin(), deviceAt.keyEnd()));
            QVERIFY2(!placed.intersects(faulted), qPrintable(context));
        }
        QVERIFY2(circles >= 40, qPrintable(QString::number(circles)));
    }
};

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
