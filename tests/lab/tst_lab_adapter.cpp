// The discovery adapter on real sockets: the lab's host side with two interfaces (one of
// them with two addresses) against simulators on the device side, started per case.
#include "labguard.h"
#include "nettestutil.h"
#include "simfleet.h"
#include "zelcorlaadptr.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

namespace {

// Everything one adapter reported, with the time since the collector was made.
class Collector : public QObject
{
public:
    explicit Collector(ZelCorlaAdapter* adapter)
    {
        clock.start();
        connect(adapter, &ZelCorlaAdapter::deviceFound, this, [this](std::shared_ptr<TevDevice> d) {
            found.push_back(d);
            lastFoundMs = clock.elapsed();
        });
        connect(adapter, &ZelCorlaAdapter::deviceChanged, this,
                [this](std::shared_ptr<ZelDevice> d) { changed.push_back(d); });
        connect(adapter, &ZelCorlaAdapter::deviceReset, this,
                [this](TevMacAddr mac) { reset.append(mac); });
        connect(adapter, &ZelCorlaAdapter::error, this,
                [this](const QString& e) { errors.append(e); });
        connect(adapter, &ZelCorlaAdapter::timeout, this,
                [this] { timeoutsMs.append(clock.elapsed()); });
    }
    QElapsedTimer clock;
    std::vector<std::shared_ptr<TevDevice>> found;
    std::vector<std::shared_ptr<ZelDevice>> changed;
    QList<TevMacAddr> reset;
    QStringList errors;
    QList<qint64> timeoutsMs;
    qint64 lastFoundMs = -1;
};

QString text(const TevIpAddr& ip)
{
    return QString::fromStdString(ip.toString());
}
QString text(const TevMacAddr& mac)
{
    return QString::fromStdString(mac.toString());
}

// The host side's IPv4 addresses on the segment that a device-side interface ("dev0")
// belongs to: lab0 faces dev0, lab1 faces dev1.
QStringList hostAddressesFacing(const QString& deviceIface)
{
    QStringList addresses;
    const QNetworkInterface iface =
        QNetworkInterface::interfaceFromName(QStringLiteral("lab") + deviceIface.mid(3));
    for (const QNetworkAddressEntry& e : iface.addressEntries()) {
        if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
            addresses << e.ip().toString();
    }
    return addresses;
}

// "mac@interface address" for every answer an all-device enquiry should bring.
QStringList expectedAnswers(const SimFleet& fleet, int copies = 1)
{
    QStringList keys;
    for (const SimDevice& d : fleet) {
        for (const QString& local : hostAddressesFacing(d.iface)) {
            for (int i = 0; i < copies; ++i)
                keys << text(d.net.macAddress()) + "@" + local;
        }
    }
    keys.sort();
    return keys;
}

QStringList answersOf(const Collector& c)
{
    QStringList keys;
    for (const auto& d : c.found)
        keys << text(d->netHostInfo().macAddress()) + "@" + text(d->commsIfaceAddr());
    keys.sort();
    return keys;
}

const SimDevice* byMac(const SimFleet& fleet, const TevMacAddr& mac)
{
    for (const SimDevice& d : fleet) {
        if (d.net.macAddress() == mac)
            return &d;
    }
    return nullptr;
}

const SimDevice& bySerial(const SimFleet& fleet, uint16_t serial)
{
    return *std::find_if(fleet.begin(), fleet.end(),
                         [serial](const SimDevice& d) { return d.serial == serial; });
}

QStringList sendLines(const DebugCapture& capture)
{
    return capture.messages().filter(QRegularExpression("^Sending Command:"));
}

const char* const kReasons[] = {
    "An error occured in the device.",
    "The IP address was invalid.",
    "The subnet was invalid.",
    "The gateway address was invalid.",
    "The IP address was a broadcast address.",
    "The IP address given was the same as the device's existing address.",
    "The address acquisition mode was invalid.",
};

QString reasonFor(int code)
{
    if (code == -1)
        return kReasons[0];
    return code >= 1 && code <= 6 ? kReasons[code] : QString();
}

// Devices on the single-address segment (dev1), so each request is heard once:
// serials 3000.. refuse every change with a fixed code, 3100 judges on the merits.
const int kRefusalCodes[] = {-1, 1, 2, 3, 4, 5, 6, 9};

QByteArray refusalFleetJson()
{
    QByteArray json = "{\"devices\": [";
    int i = 0;
    for (int code : kRefusalCodes) {
        json += QStringLiteral("{\"type\": 5, \"serial\": %1, \"mac\": \"02:c0:1a:00:01:%2\", "
                               "\"ip\": \"10.20.0.%3\", \"mask\": \"255.255.255.0\", "
                               "\"refuse\": %4, \"iface\": \"dev1\"},")
                    .arg(3000 + i)
                    .arg(i, 2, 16, QLatin1Char('0'))
                    .arg(30 + i)
                    .arg(code)
                    .toUtf8();
        ++i;
    }
    json += "{\"type\": 7, \"serial\": 3100, \"mac\": \"02:c0:1a:00:01:ff\", \"ip\": "
            "\"10.20.0.50\", \"mask\": \"255.255.255.0\", \"gateway\": \"10.20.0.254\", "
            "\"iface\": \"dev1\"}]}";
    return json;
}

// One change request, sent from the one-address segment only (the simulator answers a
// change whichever segment it came in on); returns when its socket has closed.
void changeFromOneSegment(ZelCorlaAdapter* adapter, const Collector& c, const SimDevice& device,
                          const TevNetHostInfo& wanted)
{
    adapter->setTimeoutPeriod(800);
    adapter->setInterfaceFilter({"lab1"});
    adapter->changeNetSettings(device.serial, ZelDeviceType(device.type), wanted);
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 1, 5000);
}

} // namespace

class TstLabAdapter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discoveryOfTheDefaultFleet();
    void answersRestartTheCountdown();
    void interfaceFilter();
    void enquiryForOneDevice_data();
    void enquiryForOneDevice();
    void changeAccepted();
    void changeRefused_data();
    void changeRefused();
    void resetAnswered();
    void faultSwitches_data();
    void faultSwitches();
    void burstOfFiveThousand();

private:
    // Restarts the simulator only when the switches differ from the running one's.
    bool useSim(const QStringList& args);

    CorlaLabSim m_sim;
    QStringList m_simArgs;
    bool m_simRunning = false;
    SimFleet m_fleet;
};

void TstLabAdapter::initTestCase()
{
    CORLA_REQUIRE_LAB();
    m_fleet = defaultFleet();
    QCOMPARE(hostAddressesFacing("dev0").size(), 2);
    QCOMPARE(hostAddressesFacing("dev1").size(), 1);
}

bool TstLabAdapter::useSim(const QStringList& args)
{
    if (m_simRunning && m_sim.isRunning() && args == m_simArgs)
        return true;
    QString why;
    m_simRunning = m_sim.start(args, &why);
    m_simArgs = args;
    if (!m_simRunning)
        qWarning("%s", qPrintable(why));
    return m_simRunning;
}

void TstLabAdapter::discoveryOfTheDefaultFleet()
{
    QVERIFY(useSim({}));
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(1500);
    Collector c(&adapter);
    DebugCapture capture;
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));

    // One request per local address, each naming its own socket's port as response port.
    const QStringList sends = sendLines(capture);
    QCOMPARE(sends.size(), 3);
    const QRegularExpression line("^Sending Command: (2a570b000{18}([0-9a-f]{4})[0-9a-f]{4}) "
                                  "from interface: (\\S+) : (\\d+)$");
    QStringList from;
    for (const QString& s : sends) {
        const QRegularExpressionMatch match = line.match(s);
        QVERIFY2(match.hasMatch(), qPrintable(s));
        const QByteArray portLe = QByteArray::fromHex(match.captured(2).toLatin1());
        const int port = uint8_t(portLe[0]) | uint8_t(portLe[1]) << 8;
        QCOMPARE(QString::number(port), match.captured(4));
        from << match.captured(3);
    }
    from.sort();
    QStringList hostAddrs = corlaLabList("CORLA_LAB_HOST_ADDRS");
    hostAddrs.sort();
    QCOMPARE(from, hostAddrs);

    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 10000);
    QCOMPARE(answersOf(c), expectedAnswers(m_fleet));
    for (const auto& d : c.found) {
        const SimDevice* sim = byMac(m_fleet, d->netHostInfo().macAddress());
        QVERIFY(sim);
        QCOMPARE(d->serial(), sim->serial);
        QCOMPARE(int(d->devType()), int(sim->type));
        QVERIFY2(d->netHostInfo() == sim->net, qPrintable(text(sim->net.macAddress())));
    }
    QVERIFY(c.errors.isEmpty() && c.changed.empty() && c.reset.isEmpty());
    for (qint64 at : qAsConst(c.timeoutsMs))
        QVERIFY2(at >= 1400, qPrintable(QString::number(at))); // coarse timers: 5% early
    QTest::qWait(300);
    QCOMPARE(c.timeoutsMs.size(), 3);
}

void TstLabAdapter::answersRestartTheCountdown()
{
    // Answers come 1 s after the request; a 1.5 s period then ends 1.5 s after them.
    QVERIFY(useSim({"--delay", "1000"}));
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(1500);
    Collector c(&adapter);
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 10000);
    QCOMPARE(answersOf(c), expectedAnswers(m_fleet));
    QVERIFY(c.lastFoundMs >= 950);
    for (qint64 at : qAsConst(c.timeoutsMs))
        QVERIFY2(at >= 2300, qPrintable(QString::number(at)));
}

void TstLabAdapter::interfaceFilter()
{
    QVERIFY(useSim({}));
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(1000);
    adapter.setInterfaceFilter({"lab1"});
    QCOMPARE(adapter.localAddresses(), QList<QHostAddress>{QHostAddress("10.20.0.1")});
    Collector c(&adapter);
    DebugCapture capture;
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    QCOMPARE(sendLines(capture).size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 1, 5000);
    SimFleet dev1;
    std::copy_if(m_fleet.begin(), m_fleet.end(), std::back_inserter(dev1),
                 [](const SimDevice& d) { return d.iface == "dev1"; });
    QCOMPARE(answersOf(c), expectedAnswers(dev1));

    adapter.setInterfaceFilter({"no-such-interface"});
    QVERIFY(adapter.localAddresses().isEmpty());
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    QTest::qWait(1300);
    QCOMPARE(c.timeoutsMs.size(), 1);
}

void TstLabAdapter::enquiryForOneDevice_data()
{
    QTest::addColumn<int>("serial");
    QTest::newRow("device on the two-address segment") << 1005;
    QTest::newRow("device on the one-address segment") << 1016;
}

void TstLabAdapter::enquiryForOneDevice()
{
    QFETCH(int, serial);
    QVERIFY(useSim({}));
    const SimDevice& wanted = bySerial(m_fleet, uint16_t(serial));
    ZelDevice probe(ZelDeviceType::NoDevice);
    TevNetHostInfo identity;
    identity.setMacAddress(wanted.net.macAddress());
    probe.setNetHostInfo(identity);

    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(800);
    Collector c(&adapter);
    adapter.netEnquire(probe);
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 5000);
    QCOMPARE(answersOf(c), expectedAnswers({wanted}));
}

void TstLabAdapter::changeAccepted()
{
    QVERIFY(useSim({}));
    const SimDevice& hc = bySerial(m_fleet, 1008); // Host Controller at 10.20.0.18
    const TevNetHostInfo wanted(TevIpAddr("10.20.0.68"), TevIpAddr("255.255.255.0"),
                                TevIpAddr("10.20.0.254"), TevIpAddr("10.20.0.254"),
                                hc.net.macAddress(), TevAddressModeManual);
    ZelCorlaAdapter adapter;
    Collector c(&adapter);
    changeFromOneSegment(&adapter, c, hc, wanted);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(c.changed.size(), size_t(1));
    QVERIFY(c.errors.isEmpty());
    QCOMPARE(c.changed[0]->serial(), hc.serial);
    QCOMPARE(int(c.changed[0]->devType()), int(hc.type));
    QVERIFY(c.changed[0]->netHostInfo() == wanted);

    // The new settings hold: the device now reports them.
    ZelDevice probe(ZelDeviceType::NoDevice);
    probe.setNetHostInfo(TevNetHostInfo(TevIpAddr(), TevIpAddr(), TevIpAddr(), TevIpAddr(),
                                        hc.net.macAddress(), TevAddressModeNotSet));
    adapter.netEnquire(probe);
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 2, 5000);
    QCOMPARE(c.found.size(), size_t(1));
    QVERIFY(c.found[0]->netHostInfo() == wanted);
    m_sim.stop(); // the fleet has changed: later cases start afresh
    m_simRunning = false;
}

void TstLabAdapter::changeRefused_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("code");

    int i = 0;
    for (int code : kRefusalCodes) {
        QTest::addRow("configured refusal %d", code)
            << 3000 + i << "10.20.0.9"
            << "255.255.255.0" << int(TevAddressModeManual) << code;
        ++i;
    }
    QTest::newRow("on the merits: broadcast address")
        << 3100 << "10.20.0.255"
        << "255.255.255.0" << int(TevAddressModeManual) << 4;
    // Same address with another mask: a repeat of the present settings would be accepted.
    QTest::newRow("on the merits: unchanged static address")
        << 3100 << "10.20.0.50"
        << "255.255.0.0" << int(TevAddressModeManual) << 5;
    QTest::newRow("on the merits: invalid mode") << 3100 << "10.20.0.9"
                                                 << "255.255.255.0" << 7 << 6;
    QTest::newRow("on the merits: invalid mask") << 3100 << "10.20.0.9"
                                                 << "255.0.255.0" << int(TevAddressModeManual) << 2;
}

void TstLabAdapter::changeRefused()
{
    QFETCH(int, serial);
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(int, mode);
    QFETCH(int, code);

    const QString fleetFile = QDir(corlaLabEnv("CORLA_LAB_TMP")).filePath("refusals.json");
    if (!QFile::exists(fleetFile)) {
        QFile f(fleetFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(refusalFleetJson());
    }
    QVERIFY(useSim({"--fleet", fleetFile}));
    SimFleet fleet;
    QString why;
    QVERIFY2(parseFleet(refusalFleetJson(), &fleet, &why), qPrintable(why));
    const SimDevice& target = bySerial(fleet, uint16_t(serial));

    TevNetHostInfo wanted(TevIpAddr(ip.toStdString()), TevIpAddr(mask.toStdString()),
                          TevIpAddr("10.20.0.254"), TevIpAddr(), target.net.macAddress(),
                          TevAddressMode(mode));
    ZelCorlaAdapter adapter;
    Collector c(&adapter);
    changeFromOneSegment(&adapter, c, target, wanted);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(c.errors, QStringList{"The network configuration was rejected by " +
                                   deviceName(target) + ".\n\nReason: " + reasonFor(code)});
    QVERIFY(c.changed.empty());
}

void TstLabAdapter::resetAnswered()
{
    QVERIFY(useSim({}));
    const SimDevice& kwt = bySerial(m_fleet, 1016);
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(800);
    Collector c(&adapter);
    adapter.resetDevice(kwt.net.macAddress());
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 5000);
    QCOMPARE(c.reset.size(), 1);
    QCOMPARE(text(c.reset[0]), text(kwt.net.macAddress()));
    QVERIFY(c.errors.isEmpty() && c.found.empty());
    m_sim.stop(); // the device stays silent for a while
    m_simRunning = false;
}

void TstLabAdapter::faultSwitches_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("withoutDns");
    QTest::newRow("every answer twice") << QStringList{"--duplicate"} << 2 << false;
    QTest::newRow("stray bytes before frames") << QStringList{"--stray-bytes"} << 1 << false;
    QTest::newRow("frames split after the header") << QStringList{"--split"} << 1 << false;
    QTest::newRow("frames split inside the header") << QStringList{"--split-at", "3"} << 1 << false;
    QTest::newRow("frames split inside the payload")
        << QStringList{"--split-at", "17"} << 1 << false;
    QTest::newRow("several frames per datagram")
        << QStringList{"--frames-per-datagram", "4"} << 1 << false;
    QTest::newRow("unknown codes between answers")
        << QStringList{"--unknown-code", "0x41"} << 1 << false;
    QTest::newRow("short answers without DNS") << QStringList{"--short-answers"} << 1 << true;
}

void TstLabAdapter::faultSwitches()
{
    QFETCH(QStringList, args);
    QFETCH(int, copies);
    QFETCH(bool, withoutDns);
    QVERIFY(useSim(args));
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(1000);
    Collector c(&adapter);
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 10000);
    QCOMPARE(answersOf(c), expectedAnswers(m_fleet, copies));
    for (const auto& d : c.found) {
        TevNetHostInfo expected = byMac(m_fleet, d->netHostInfo().macAddress())->net;
        if (withoutDns)
            expected.setDns(TevIpAddr());
        QVERIFY2(d->netHostInfo() == expected, qPrintable(text(expected.macAddress())));
    }
}

void TstLabAdapter::burstOfFiveThousand()
{
    const int count = 5000;
    QVERIFY(useSim({"--burst", QString::number(count), "--burst-iface", "dev1", "--no-tcp"}));
    ZelCorlaAdapter adapter;
    adapter.setTimeoutPeriod(3000);
    Collector c(&adapter);
    adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
    QTRY_COMPARE_WITH_TIMEOUT(int(c.found.size()), count, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(c.timeoutsMs.size(), 3, 10000);
    QCOMPARE(int(c.found.size()), count);
    QSet<QString> macs;
    for (const auto& d : c.found) {
        macs.insert(text(d->netHostInfo().macAddress()));
        QCOMPARE(text(d->commsIfaceAddr()), QStringLiteral("10.20.0.1"));
    }
    QCOMPARE(macs.size(), count);
    qInfo("%d answers in %lld ms", count, c.lastFoundMs);
}

QTEST_GUILESS_MAIN(TstLabAdapter)
#include "tst_lab_adapter.moc"
