// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The fleet core: device list, CSV export and its file, static address text, host report.

#include "core/fleet/csv.h"
#include "core/fleet/devicelist.h"
#include "core/fleet/settingsrules.h"
#include "core/net/hostreport.h"
#include "tests/support/datarow.h"
#include "tests/support/testdevice.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace corla;

using TextMap = QMap<QString, QString>;

namespace {

using Devices = DeviceList::Devices;

// Each entry as "Nerio HF #7 02:c0:1a:00:00:03 10.0.0.1 Static via 10.10.0.1 NotFound".
QStringList listed(const Devices& devices)
{
    QStringList lines;
    for (const auto& d : devices) {
        const NetworkSettings& net = d->netHostInfo();
        lines << QStringLiteral("%1 %2 %3 %4 via %5 %6")
                     .arg(QString::fromStdString(d->friendlyName()),
                          DisplayText::mac(net.macAddress()), DisplayText::address(net.ipAddress()),
                          DisplayText::addressMode(net.addressMode()),
                          DisplayText::address(d->commsIfaceAddr()),
                          DisplayText::status(d->netStat()));
    }
    return lines;
}

// An answer for 02:c0:1a:00:00:03 as `sender:port` gave it.
std::shared_ptr<Device> answer(const char* sender, quint16 port, uint16_t serial = 7,
                               const char* ip = "10.10.0.11", const char* gateway = "10.10.0.1",
                               const char* dns = "0.0.0.0", DeviceType type = DeviceType::NerioHF)
{
    auto device =
        testDevice(type, serial, "02:c0:1a:00:00:03", ip, AddressModeStatic, gateway, dns);
    device->setAnsweredFrom(Ipv4Address(sender));
    device->setAnsweredFromPort(port);
    return device;
}

const char* const Header =
    "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address\n";

// Longer than the smallest file size limit the tests set.
QString exportText()
{
    return QString(Header) + "1001,Tavio LF,10.10.0.11,255.255.255.0,10.10.0.254,10.10.0.254,"
                             "Static,02:c0:1a:00:00:01\n";
}

// While it lives, writes past `bytes` fail with EFBIG instead of raising SIGXFSZ.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limited{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
    rlimit saved{};
    void (*handler)(int);
};

// What stands at path, a link not followed.
QString nodeKind(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "nothing";
    const mode_t type = st.st_mode & S_IFMT;
    return type == S_IFREG   ? "file"
           : type == S_IFIFO ? "FIFO"
           : type == S_IFCHR ? "character device"
           : type == S_IFLNK ? "symlink"
                             : "other";
}

// The folder's files, each as "name: text".
QStringList filesIn(const QString& folder)
{
    QStringList seen;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + '/' + name);
        seen << name + ": " + (file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable");
    }
    return seen;
}

// A node of `kind` at path (a character device: a copy of /dev/null, else /dev/null).
QString makeNode(const QString& kind, const QString& path, const QByteArray& content)
{
    const QByteArray name = QFile::encodeName(path);
    if (kind == "FIFO")
        return ::mkfifo(name.constData(), 0600) == 0 ? path : QString();
    if (kind == "character device") {
        struct stat null;
        if (::stat("/dev/null", &null) == 0 &&
            ::mknod(name.constData(), S_IFCHR | 0666, null.st_rdev) == 0)
            return path;
        return "/dev/null";
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path
                                                                                    : QString();
}

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

private slots:
    // Answers go in through merge (an enquiry answer) or append (a new device only).
    void oneEntryPerMac_data()
    {
        columns<bool, Devices, QStringList>({"merge", "answers", "expected"});
        const auto nerio = [] {
            return testDevice(DeviceType::NerioHF, 7, "02:c0:1a:00:00:03", "10.0.0.1");
        };
        const auto again = [] {
            auto a =
                testDevice(DeviceType::KWT, 8, "02:c0:1a:00:00:03", "10.0.0.9", AddressModeDhcp);
            a->setCommsIfaceAddr(Ipv4Address("10.9.0.1"));
            return a;
        };
        const QString first =
            "Nerio HF #7 02:c0:1a:00:00:03 10.0.0.1 Static via 10.10.0.1 NotFound";
        row("new MACs are appended in arrival order", true,
            Devices{nerio(), testDevice(DeviceType::Pivlo, 3, "02:c0:1a:00:00:09", "10.0.0.3")},
            QStringList{first,
                        "Pivlo #3 02:c0:1a:00:00:09 10.0.0.3 Static via 10.10.0.1 NotFound"});
        row("merge: a repeated MAC brings its settings; type, serial and interface stay", true,
            Devices{nerio(), again()},
            QStringList{"Nerio HF #7 02:c0:1a:00:00:03 10.0.0.9 DHCP via 10.10.0.1 Pending"});
        row("append: a repeated MAC changes nothing", false, Devices{nerio(), again()},
            QStringList{first});
        row("merge: an empty answer is ignored", true, Devices{nerio(), nullptr},
            QStringList{first});
        row("append: an empty pointer is ignored", false, Devices{nerio(), nullptr},
            QStringList{first});
    }

    void oneEntryPerMac()
    {
        QFETCH(bool, merge);
        QFETCH(Devices, answers);
        QFETCH(QStringList, expected);
        DeviceList list;
        for (const auto& a : answers)
            merge ? list.merge(a) : void(list.append(a));
        QCOMPARE(listed(list.devices()), expected);
        // The first answer stays the entry: the window's selection and dialogs hold on to it.
        QCOMPARE(list.find(macOf("02:c0:1a:00:00:03")), answers.first());
        QCOMPARE(list.rowOf(macOf("02:c0:1a:00:00:03")), 0);
        QVERIFY(!list.find(macOf("02:c0:1a:00:00:04")));
    }

    // Senders disagreeing on one MAC in a round: a conflict; roundAt: beginRound() first.
    void conflicts_data()
    {
        columns<Devices, int>({"answers", "roundAt"});
        QTest::addColumn<QString>("entry"); // address, gateway and DNS server of the entry
        QTest::addColumn<QString>("conflict");
        const QString first = "10.10.0.11 gw 10.10.0.1 dns 0.0.0.0";
        row("another sender, other settings: the first answer stands",
            Devices{answer("10.10.0.254", 62726),
                    answer("10.10.0.253", 62726, 7, "10.10.0.11", "10.10.0.66", "10.10.0.66"),
                    answer("10.10.0.253", 62726, 7, "10.10.0.11", "10.10.0.66", "10.10.0.66")},
            -1, first,
            "Answers from 10.10.0.254 and 10.10.0.253 differ: Gateway 10.10.0.1 / 10.10.0.66; DNS "
            "Server 0.0.0.0 / 10.10.0.66. Possibly a duplicate MAC address or a forged answer.");
        row("another port, other type and serial",
            Devices{answer("10.10.0.254", 62726), answer("10.10.0.254", 40000, 8, "10.10.0.12",
                                                         "10.10.0.1", "0.0.0.0", DeviceType::KWT)},
            -1, first,
            "Answers from 10.10.0.254:62726 and 10.10.0.254:40000 differ: Device Type Nerio HF / "
            "KWT; Serial 7 / 8; IP Address 10.10.0.11 / 10.10.0.12. Possibly a duplicate MAC "
            "address or a forged answer.");
        row("another sender, the same answer",
            Devices{answer("10.10.0.254", 62726), answer("10.10.0.253", 40000)}, -1, first, "");
        row("the same sender with new settings",
            Devices{answer("10.10.0.254", 62726),
                    answer("10.10.0.254", 62726, 7, "10.10.0.12", "10.10.0.66")},
            -1, "10.10.0.12 gw 10.10.0.66 dns 0.0.0.0", "");
        row("another sender in a later round",
            Devices{answer("10.10.0.254", 62726),
                    answer("10.10.0.253", 62726, 7, "10.10.0.12", "10.10.0.66")},
            1, "10.10.0.12 gw 10.10.0.66 dns 0.0.0.0", "");
    }

    void conflicts()
    {
        QFETCH(Devices, answers);
        QFETCH(int, roundAt);
        QFETCH(QString, entry);
        QFETCH(QString, conflict);
        const MacAddress mac = macOf("02:c0:1a:00:00:03");
        DeviceList list;
        QSignalSpy changes(&list, &DeviceList::conflictChanged);
        const auto mergeAll = [&] {
            for (int i = 0; i < answers.size(); ++i) {
                if (i == roundAt)
                    list.beginRound();
                list.merge(answers[i]);
            }
        };
        mergeAll();
        const NetworkSettings& net = list.find(mac)->netHostInfo();
        QCOMPARE(QStringLiteral("%1 gw %2 dns %3")
                     .arg(text(net.ipAddress()), text(net.gateway()), text(net.dns())),
                 entry);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.conflict(mac) ? list.conflict(mac)->text() : QString(), conflict);
        QCOMPARE(list.isConflicting(mac), !conflict.isEmpty());
        QCOMPARE(changes.count(), conflict.isEmpty() ? 0 : 1);
        QVERIFY(list.heardThisRound(mac) && list.lastHeard(mac).isValid());

        // A new round forgets the conflict; our own confirmed change ends it.
        list.beginRound();
        QVERIFY(!list.isConflicting(mac) && !list.heardThisRound(mac));
        mergeAll();
        QCOMPARE(list.isConflicting(mac), !conflict.isEmpty());
        QVERIFY(list.updateSettings(mac, answers.first()->netHostInfo()));
        QVERIFY(!list.isConflicting(mac));
        QCOMPARE(changes.count(), conflict.isEmpty() ? 0 : 4);
    }

    // Changed mid-round: once the first sender reports it too, no conflict.
    void changeDuringRoundIsNoConflict()
    {
        const MacAddress mac = macOf("02:c0:1a:00:00:03");
        DeviceList list;
        list.merge(answer("10.10.0.254", 62726));
        list.merge(answer("10.10.1.254", 62726, 7, "10.10.0.77", "10.10.0.1"));
        QVERIFY(list.isConflicting(mac));
        list.merge(answer("10.10.0.254", 62726, 7, "10.10.0.77", "10.10.0.1"));
        QVERIFY(!list.isConflicting(mac));
        QCOMPARE(text(list.find(mac)->netHostInfo().ipAddress()), QStringLiteral("10.10.0.77"));
    }

    // A full list refuses and counts new MACs, signals once a round, updates listed ones.
    void capacity_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QStringList>("macs"); // last octet of each answer's MAC address
        columns<int, QString>({"roundAt", "expected"});
        row("past the capacity, one refused MAC twice", 2,
            QStringList{"01", "02", "03", "04", "03"}, -1, "2 listed, 3 ignored, signals at 2");
        row("a new round counts and signals afresh", 2, QStringList{"01", "02", "03", "01", "04"},
            3, "2 listed, 1 ignored, signals at 2 2");
        row("a capacity below 1 is 1", 0, QStringList{"01", "02"}, -1,
            "1 listed, 1 ignored, signals at 1");
    }

    void capacity()
    {
        QFETCH(int, capacity);
        QFETCH(QStringList, macs);
        QFETCH(int, roundAt);
        QFETCH(QString, expected);
        DeviceList list;
        list.setCapacity(capacity);
        QStringList signalled;
        connect(&list, &DeviceList::capacityReached, this,
                [&signalled](int at) { signalled << QString::number(at); });
        for (int i = 0; i < macs.size(); ++i) {
            if (i == roundAt)
                list.beginRound();
            const QByteArray mac = "02:c0:1a:00:00:" + macs[i].toLatin1();
            list.merge(testDevice(DeviceType::NerioHF, 1, mac.constData(), "10.0.0.1"));
        }
        const auto state = [&] {
            return QStringLiteral("%1 listed, %2 ignored, signals at %3")
                .arg(list.size())
                .arg(list.ignoredAnswers())
                .arg(signalled.join(' '));
        };
        QCOMPARE(state(), expected);
        list.merge(testDevice(DeviceType::NerioHF, 1, "02:c0:1a:00:00:01", "10.0.0.99"));
        QCOMPARE(text(list.find(macOf("02:c0:1a:00:00:01"))->netHostInfo().ipAddress()),
                 QString("10.0.0.99"));
        QCOMPARE(state(), expected);
        list.clear();
        QCOMPARE(list.ignoredAnswers(), 0);
    }

    // Updates find the entry by MAC address alone.
    void updatesFindTheEntryByMac()
    {
        DeviceList list;
        for (const char* m : {"02:c0:1a:00:00:01", "02:c0:1a:00:00:02", "02:c0:1a:00:00:03"})
            list.append(testDevice(DeviceType::NerioHF, 1, m, "10.0.0.1"));
        const NetworkSettings fresh(Ipv4Address("172.16.5.5"), Ipv4Address("255.255.0.0"),
                                    Ipv4Address("172.16.5.1"), Ipv4Address("0.0.0.0"),
                                    macOf("02:c0:1a:00:00:02"), AddressModeStatic);
        QVERIFY(list.updateSettings(macOf("02:c0:1a:00:00:02"), fresh));
        QVERIFY(!list.updateSettings(macOf("02:c0:1a:00:00:09"), fresh));
        list.setStatus(macOf("02:c0:1a:00:00:03"), Reachability::Unreachable);
        list.setStatus(macOf("02:c0:1a:00:00:09"), Reachability::Reachable);
        QCOMPARE(
            listed(list.devices()),
            QStringList({"Nerio HF #1 02:c0:1a:00:00:01 10.0.0.1 Static via 10.10.0.1 NotFound",
                         "Nerio HF #1 02:c0:1a:00:00:02 172.16.5.5 Static via 10.10.0.1 Pending",
                         "Nerio HF #1 02:c0:1a:00:00:03 10.0.0.1 Static via 10.10.0.1 "
                         "Unreachable"}));
        QCOMPARE(list.devices().at(1)->netHostInfo(), fresh);

        NetworkSettings renamed = fresh;
        renamed.setMacAddress(macOf("02:c0:1a:00:00:07"));
        QVERIFY(list.updateSettings(macOf("02:c0:1a:00:00:01"), renamed));
        QVERIFY(!list.contains(macOf("02:c0:1a:00:00:01")));
        QCOMPARE(list.rowOf(macOf("02:c0:1a:00:00:07")), 0);
        QVERIFY(list.append(testDevice(DeviceType::NerioHF, 1, "02:c0:1a:00:00:01", "10.0.0.1")));
        QCOMPARE(list.size(), 4);
    }

    // By serial as a number, then by MAC; the list itself keeps arrival order.
    void sortedBySerial()
    {
        DeviceList list;
        for (const auto& [serial, m] :
             {std::pair(100, "02:00:00:00:00:00"), std::pair(7, "02:00:00:00:00:03"),
              std::pair(3, "02:00:00:00:00:09"), std::pair(7, "02:00:00:00:00:01")})
            list.append(testDevice(DeviceType::TavioLF, uint16_t(serial), m, "10.0.0.1"));
        const auto serialsAndMacs = [](const Devices& devices) {
            QStringList shown;
            for (const auto& d : devices)
                shown << QString::number(d->serial()) + ' ' +
                             DisplayText::mac(d->netHostInfo().macAddress());
            return shown.join(", ");
        };
        QCOMPARE(serialsAndMacs(list.sortedBySerial()),
                 "3 02:00:00:00:00:09, 7 02:00:00:00:00:01, 7 02:00:00:00:00:03, "
                 "100 02:00:00:00:00:00");
        QCOMPARE(serialsAndMacs(list.devices()),
                 "100 02:00:00:00:00:00, 7 02:00:00:00:00:03, 3 02:00:00:00:00:09, "
                 "7 02:00:00:00:00:01");
    }

    void field_data()
    {
        columns<QString, QString>({"text", "expected"});
        row("empty stays empty", "", "");
        row("spaces need no quotes", " 10.0.0.1 ", " 10.0.0.1 ");
        row("comma: quoted", "Nerio, HF", "\"Nerio, HF\"");
        row("double quote: doubled, quoted", "12\" probe \"B\"", "\"12\"\" probe \"\"B\"\"\"");
        row("line feed: quoted", "two\nlines", "\"two\nlines\"");
    }

    void field()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(csvField(text), expected);
    }

    void document_data()
    {
        columns<Devices, QString>({"devices", "expected"});
        row("empty list: the header alone", Devices{}, Header);
        row("a line per device in list order, serials in decimal",
            Devices{testDevice(DeviceType::HostController, 100, "00:1a:2b:3c:4d:5e", "192.168.1.10",
                               AddressModeDhcp),
                    testDevice(DeviceType::NerioHF, 9, "00:1a:2b:3c:4d:01", "192.168.1.9",
                               AddressModeStatic, "192.168.1.254", "192.168.1.53"),
                    testDevice(DeviceType(20), 65535, "00:1a:2b:3c:4d:ff", "0.0.0.0",
                               AddressModeNotSet)},
            QString(Header) +
                "100,Host Controller,192.168.1.10,255.255.255.0,0.0.0.0,0.0.0.0,DHCP,"
                "00:1a:2b:3c:4d:5e\n"
                "9,Nerio HF,192.168.1.9,255.255.255.0,192.168.1.254,192.168.1.53,Static,"
                "00:1a:2b:3c:4d:01\n"
                "65535,Unrecognized Device,0.0.0.0,255.255.255.0,0.0.0.0,0.0.0.0,Unknown,"
                "00:1a:2b:3c:4d:ff\n");
    }

    void document()
    {
        QFETCH(Devices, devices);
        QFETCH(QString, expected);
        QCOMPARE(devicesCsv(devices), expected);
    }

    // `before`: the file before (null: none); `limit`: max file size; `expected`: the failure
    // code, its reason, then the folder's files.
    void writeFile_data()
    {
        columns<QString, QString, int, QStringList>({"name", "before", "limit", "expected"});
        const QString old = "9,Nerio HF,192.168.1.9\n", tooLarge = "File too large";
        const QString written = QString::number(CsvFileResult::Written),
                      notOpened = QString::number(CsvFileResult::NotOpened),
                      notWritten = QString::number(CsvFileResult::NotWritten);
        row("older export replaced", "devices.csv", old, 0,
            QStringList{written, "", "devices.csv: " + exportText()});
        row("write fails midway: older export kept", "devices.csv", old, 64,
            QStringList{notWritten, tooLarge, "devices.csv: " + old});
        row("write fails midway: nothing left", "devices.csv", QString(), 64,
            QStringList{notWritten, tooLarge});
        row("no such folder", "gone/devices.csv", QString(), 0,
            QStringList{notOpened, "No such file or directory"});
    }

    void writeFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, before);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QFile file(path);
        QVERIFY(before.isNull() ||
                (file.open(QIODevice::WriteOnly) && file.write(before.toUtf8())));
        file.close();
        CsvFileResult result;
        {
            std::unique_ptr<FileSizeLimit> limited;
            if (limit > 0)
                limited = std::make_unique<FileSizeLimit>(rlim_t(limit));
            result = writeCsvFile(path, exportText());
        }
        QCOMPARE(QStringList({QString::number(int(result.failure)), result.reason}) +
                     filesIn(dir.path()),
                 expected);
    }

    // Only a regular file is written; a link is followed, written through, and stays.
    void writeFileOnlyToARegularFile_data()
    {
        columns<QString, bool, QString>({"target", "link", "reason"});
        row("FIFO", "FIFO", false, "it is a FIFO, not a regular file");
        row("character device", "character device", false,
            "it is a character device, not a regular file");
        row("link to a FIFO", "FIFO", true, "it is a FIFO, not a regular file");
        row("link to a file: written through", "file", true, "");
    }

    void writeFileOnlyToARegularFile()
    {
        QFETCH(QString, target);
        QFETCH(bool, link);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString made = makeNode(target, dir.filePath("target"), "old\n");
        QVERIFY2(!made.isEmpty(), qPrintable(dir.filePath("target")));
        const QString path = link ? dir.filePath("devices.csv") : made;
        QVERIFY(!link || QFile::link(made, path));

        const CsvFileResult result = writeCsvFile(path, exportText());
        QVERIFY2(result.ok() == reason.isEmpty(), qPrintable(result.reason));
        QCOMPARE(result.reason, reason);
        if (!result.ok())
            QCOMPARE(int(result.failure), int(CsvFileResult::NotOpened));
        QCOMPARE(nodeKind(path), link ? "symlink" : target);
        QCOMPARE(nodeKind(made), target);
        if (target == "file")
            QCOMPARE(filesIn(dir.path()).filter("target: "),
                     QStringList{"target: " + exportText()});
        QCOMPARE(QDir(dir.path())
                     .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                     .size(),
                 int(made.startsWith(dir.path())) + int(link));
    }

    // `expected`: "address mask", or words of the reason the text is refused.
    void staticAddress_data()
    {
        columns<QString, QString>({"text", "expected"});
        row("no prefix: the mask comes from --mask", "10.10.0.50", "10.10.0.50 0.0.0.0");
        row("/31", "10.10.0.50/31", "10.10.0.50 255.255.255.254");
        row("/32 leaves no network", "10.10.0.50/32", "prefix length in \"10.10.0.50/32\"");
        row("/0", "10.10.0.50/0", "must be a whole number from 1 to 31");
        row("leading zero, with a prefix", "10.10.0.050/24",
            "\"10.10.0.050\" is not an IPv4 address: it has a leading zero in 050 (write 50;");
        row("a zero of its own is no leading zero", "10.0.0.256",
            "(four numbers from 0 to 255 separated by dots)");
        row("loopback", "127.0.0.1/8", "127.0.0.1 is not a device address");
    }

    void staticAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Ipv4Address ip, mask;
        const QString why = checkStaticText(text, "--static", &ip, &mask);
        if (why.isEmpty())
            QCOMPARE(DisplayText::address(ip) + ' ' + DisplayText::address(mask), expected);
        else
            QVERIFY2(why.contains(expected), qPrintable(why));
    }

    // interfaces "name flags(u,r,l) address..."; commands "program args" -> "status\noutput";
    // expected: words the report's lines hold in order; absent: words none holds.
    void hostReport_data()
    {
        columns<QStringList, TextMap, QStringList, QStringList, bool>(
            {"interfaces", "commands", "expected", "absent", "problem"});
        using Map = TextMap;
        const QStringList lan = {"lo url 127.0.0.1/8", "eth0 ur 192.168.1.20/24"};
        const Map nftOpen = {{"nft list ruleset", "0\n"}};
        const QString routers = "Routers: devices behind a router cannot be found by broadcast";
        row("no interface to send from", QStringList{"lo url 127.0.0.1/8", "wlan0 u"}, nftOpen,
            QStringList{"No interface is up and running with an IPv4 address"}, QStringList(),
            true);
        row("nothing in the way", lan, nftOpen,
            QStringList{"Interfaces:", "eth0: 192.168.1.20/24", "Firewall:", "ufw: not installed",
                        "firewalld: not installed", "nftables: no input chain drops by policy",
                        routers, "Nothing found here"},
            QStringList{"lo:", "iptables"}, false);
        row("link-local only, and interfaces without an address or a link",
            QStringList{"eth0 ur 169.254.3.4/16", "wlan0 u", "eth1 u 10.1.1.5/24",
                        "eth2 r 10.2.2.5/24"},
            nftOpen,
            QStringList{"eth0: 169.254.3.4/16 only, a link-local address",
                        "wlan0: up, without an IPv4 address",
                        "eth1: 10.1.1.5/24, but without a link", "Found 1 thing"},
            QStringList{"eth2"}, true);
        row("ufw active", lan,
            Map{{"ufw status", "0\nStatus: active\n\nTo  Action  From\n22/tcp  ALLOW  Anywhere\n"},
                {"nft list ruleset", "0\n"}},
            QStringList{"ufw: active, and no rule lets the devices' answers in. To let the "
                        "devices' answers (UDP from port 62726) in: sudo ufw allow proto udp from "
                        "any port 62726"},
            QStringList(), true);
        row("firewalld running", lan,
            Map{{"systemctl is-active firewalld", "0\nactive\n"},
                {"firewall-cmd --state", "0\nrunning\n"},
                {"firewall-cmd --list-rich-rules", "0\n\n"},
                {"nft list ruleset", "0\n"}},
            QStringList{"firewalld: running, and no rich rule lets the devices' answers in. To "
                        "let the devices' answers (UDP from port 62726) in: sudo firewall-cmd "
                        "--add-rich-rule='rule family=ipv4 source-port port=62726 protocol=udp "
                        "accept'"},
            QStringList(), true);
        row("nftables input policy drop", lan,
            Map{{"nft list ruleset",
                 "0\ntable inet filter {\n\tchain input {\n\t\ttype filter hook input priority "
                 "filter; policy drop;\n\t}\n\tchain forward {\n\t\ttype filter hook forward "
                 "priority filter; policy drop;\n\t}\n}\n"}},
            QStringList{"nftables: the input chain \"inet filter input\" has the policy drop. "
                        "Connection tracking does not relate the devices' answers to a broadcast "
                        "enquiry, so a drop policy drops them too. To let the devices' answers "
                        "(UDP from port 62726) in: sudo nft insert rule inet filter input udp "
                        "sport 62726 accept"},
            QStringList{"forward"}, true);
        row("iptables policy DROP", lan,
            Map{{"iptables -S INPUT", "0\n-P INPUT DROP\n-A INPUT -m conntrack --ctstate "
                                      "RELATED,ESTABLISHED -j ACCEPT\n"}},
            QStringList{"iptables: the INPUT chain has the policy DROP. Connection tracking",
                        "sudo iptables -I INPUT -p udp --sport 62726 -j ACCEPT"},
            QStringList(), true);
    }

    void hostReport()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(TextMap, commands);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        QFETCH(bool, problem);
        corla::HostProbe probe;
        QList<corla::HostInterface> ifaces;
        for (const QString& entry : interfaces) {
            const QStringList w = entry.split(' ');
            ifaces << corla::HostInterface{w[0], w[1].contains('u'), w[1].contains('r'),
                                           w[1].contains('l'), w.mid(2)};
        }
        probe.interfaces = [&] { return ifaces; };
        probe.readFile = [](const QString&) -> std::optional<QByteArray> { return std::nullopt; };
        probe.run = [&](const QString& program, const QStringList& arguments) {
            corla::HostCommandOutput out;
            const QString key = (QStringList{program} + arguments).join(' ');
            for (const QString& k : commands.keys())
                out.found = out.found || k.startsWith(program + ' ');
            if (commands.contains(key)) {
                out.ran = true;
                out.exitCode = commands.value(key).section('\n', 0, 0).toInt();
                out.output = commands.value(key).section('\n', 1);
            }
            return out;
        };
        const corla::HostReport report = corla::readHostReport(probe);
        const QStringList lines = corla::hostReportLines(report);
        int at = 0;
        for (const QString& words : expected) {
            while (at < lines.size() && !lines.at(at).contains(words))
                ++at;
            QVERIFY2(at < lines.size(),
                     qPrintable(words + "\nnot in order in:\n" + lines.join('\n')));
        }
        for (const QString& words : absent)
            QVERIFY2(!lines.join('\n').contains(words), qPrintable(lines.join('\n')));
        QCOMPARE(report.problemFound, problem);
    }
};

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
