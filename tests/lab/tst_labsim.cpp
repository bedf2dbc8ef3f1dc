// The simulator on the wire, in the lab: requests go out of plain UDP sockets on the
// host side, answers are decoded with the program's own codec, and the devices' TCP
// ports and addresses are checked from the host side too.

#include "labguard.h"
#include "labwire.h"
#include "simfleet.h"
#include "simwire.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TevNetHostInfo)

namespace {

constexpr quint16 DiscoveryPort = 62726;

TevMacAddr mac(const char* text)
{
    TevMacAddr m;
    TevMacAddr::parse(text, &m);
    return m;
}

QString text(const TevMacAddr& m)
{
    return QString::fromStdString(m.toString());
}

const SimDevice& fleetDevice(const char* macText)
{
    static const SimFleet fleet = defaultFleet();
    for (const SimDevice& d : fleet) {
        if (d.net.macAddress() == mac(macText))
            return d;
    }
    qFatal("no device %s in the default fleet", macText);
}

// One host-side UDP socket: broadcasts requests and gathers whatever comes back.
class Probe
{
public:
    explicit Probe(const QString& localAddress, int receiveBuffer = 0)
    {
        m_bound = m_socket.bind(QHostAddress(localAddress), 0);
        if (receiveBuffer > 0)
            m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                m_datagrams.append(d.data());
                m_senders.insert(d.senderPort());
            }
        });
    }
    bool isBound() const { return m_bound; }
    quint16 port() const { return m_socket.localPort(); }

    void broadcast(const QByteArray& frame)
    {
        m_socket.writeDatagram(frame, QHostAddress::Broadcast, DiscoveryPort);
    }
    // Waits until `count` datagrams are in (then `quietMs` more, to catch surplus ones),
    // or until `timeoutMs` have passed.
    QList<QByteArray> collect(int count, int timeoutMs = 5000, int quietMs = 150)
    {
        // Running out of time is not a failure here: the caller counts what came.
        (void)QTest::qWaitFor([&] { return m_datagrams.size() >= count; }, timeoutMs);
        QTest::qWait(quietMs);
        return m_datagrams;
    }
    void clear() { m_datagrams.clear(); }
    QSet<quint16> senderPorts() const { return m_senders; }

private:
    QUdpSocket m_socket;
    bool m_bound = false;
    QList<QByteArray> m_datagrams;
    QSet<quint16> m_senders;
};

QByteArray enquiry(const TevMacAddr& target, quint16 port)
{
    ZelNetworkEnqireCmd cmd(0, 0, TevNetHostInfo(0, 0, 0, 0, target.octets().data(), 0));
    return requestFrame(cmd, port);
}

QByteArray change(const SimDevice& d, const TevNetHostInfo& wanted, quint16 port)
{
    TevNetHostInfo withMac = wanted;
    withMac.setMacAddress(d.net.macAddress());
    ZelChangeNetworkCmd cmd(uint8_t(d.type), d.serial, withMac);
    return requestFrame(cmd, port);
}

QByteArray reset(const TevMacAddr& target, quint16 port)
{
    ZelResetDeviceCmd cmd(target);
    return requestFrame(cmd, port);
}

TevNetHostInfo staticSettings(const char* ip, const char* mask, const char* gateway)
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr(mask), TevIpAddr(gateway),
                          TevIpAddr("10.10.0.254"), TevMacAddr(), TevAddressModeManual);
}

// What one enquiry brings back, decoded; waits for `expected` answers at most `timeoutMs`.
QList<const ZelNetworkEnqireCmd*> enquire(Probe& probe, const TevMacAddr& target,
                                          CorlaMessages* keep, int expected, int timeoutMs = 5000)
{
    probe.clear();
    probe.broadcast(enquiry(target, probe.port()));
    *keep = decodeAnswers(probe.collect(expected, timeoutMs));
    QList<const ZelNetworkEnqireCmd*> answers;
    for (const auto& m : *keep) {
        if (const auto* a = m->payloadAs<ZelNetworkEnqireCmd>())
            answers.append(a);
    }
    return answers;
}

// Connects from the host side; returns the first bytes the device sends ("" if none) or
// the error text prefixed with "error: ".
QString tcpGreeting(const QString& address, quint16 port, int timeoutMs = 3000)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(timeoutMs))
        return "error: " + socket.errorString();
    socket.waitForReadyRead(2000);
    return QString::fromUtf8(socket.readAll());
}

// One ICMP echo through a datagram socket (the lab allows them): true if a reply came.
bool echoAnswered(const char* address, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &to.sin_addr);
    icmphdr request = {};
    request.type = ICMP_ECHO;
    request.un.echo.sequence = htons(7);
    bool answered = false;
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >
        0) {
        pollfd p = {fd, POLLIN, 0};
        icmphdr reply = {};
        answered = ::poll(&p, 1, timeoutMs) == 1 && ::recv(fd, &reply, sizeof reply, 0) > 0 &&
                   reply.type == ICMP_ECHOREPLY;
    }
    ::close(fd);
    return answered;
}

QByteArray httpGet(const QString& address)
{
    QTcpSocket socket;
    socket.connectToHost(address, 80);
    if (!socket.waitForConnected(3000))
        return "error: " + socket.errorString().toUtf8();
    socket.write("GET / HTTP/1.0\r\nHost: " + address.toUtf8() + "\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(3000))
        reply += socket.readAll();
    return reply + socket.readAll();
}

// The IPv4 addresses the device side holds, as `ip` lists them ("10.10.0.11/32", ...).
QStringList deviceSideAddresses()
{
    QProcess ip;
    ip.start("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "ip", "-o", "-4", "addr"});
    ip.waitForFinished(5000);
    QStringList addresses;
    for (const QString& line : QString::fromLocal8Bit(ip.readAll()).split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() > 3)
            addresses.append(fields.at(3));
    }
    return addresses;
}

QSet<QString> macsOn(const QString& iface)
{
    QSet<QString> macs;
    for (const SimDevice& d : defaultFleet()) {
        if (d.iface == iface)
            macs.insert(text(d.net.macAddress()));
    }
    return macs;
}

} // namespace

class TestLabSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void enquiryFromEachHostAddress_data();
    void enquiryFromEachHostAddress();
    void enquiryByMac_data();
    void enquiryByMac();
    void answersGoToTheResponsePort();
    void changeAcceptedMovesTheDevice();
    void changeToDhcpLeasesAnAddress();
    void changeRefused_data();
    void changeRefused();
    void resetThenSilence();
    void faultSwitches_data();
    void faultSwitches();
    void burstLosesNothing();
    void port21_data();
    void port21();
    void webPage_data();
    void webPage();
    void malformedRequestsAreIgnored_data();
    void malformedRequestsAreIgnored();
    void twoSimulatorsShareThePort();

private:
    bool startSim(const QStringList& args);
    CorlaLabSim m_sim;
};

void TestLabSim::initTestCase()
{
    CORLA_REQUIRE_LAB();
    QCOMPARE(corlaLabList("CORLA_LAB_HOST_ADDRS"),
             QStringList({"10.10.0.1", "10.10.1.1", "10.20.0.1"}));
}

bool TestLabSim::startSim(const QStringList& args)
{
    QString why;
    const bool started = m_sim.start(args, &why);
    if (!started)
        qWarning("%s", qPrintable(why));
    return started;
}

void TestLabSim::init()
{
    // Most cases want the default fleet fresh; the others restart it with their switches.
    QVERIFY(startSim({}));
}

void TestLabSim::cleanup()
{
    const bool clean = m_sim.stop();
    if (QTest::currentTestFailed() || !clean)
        qInfo("simulator output:\n%s", qPrintable(m_sim.output()));
    QVERIFY2(clean, "the simulator did not end cleanly");
}

void TestLabSim::enquiryFromEachHostAddress_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("segment");
    QTest::newRow("lab0, first address") << "10.10.0.1"
                                         << "dev0";
    QTest::newRow("lab0, second address") << "10.10.1.1"
                                          << "dev0";
    QTest::newRow("lab1") << "10.20.0.1"
                          << "dev1";
}

void TestLabSim::enquiryFromEachHostAddress()
{
    QFETCH(QString, local);
    QFETCH(QString, segment);
    const QSet<QString> expected = macsOn(segment);
    Probe probe(local);
    QVERIFY(probe.isBound());
    CorlaMessages keep;
    const auto answers = enquire(probe, TevMacAddr(), &keep, expected.size());
    QCOMPARE(keep.size(), size_t(expected.size()));
    QSet<QString> seen;
    for (const ZelNetworkEnqireCmd* a : answers) {
        const QString m = text(a->netInfo().macAddress());
        QVERIFY2(!seen.contains(m), qPrintable("answered twice: " + m));
        seen.insert(m);
        const SimDevice& d = fleetDevice(qPrintable(m));
        QCOMPARE(int(int8_t(a->deviceType())), int(d.type));
        QCOMPARE(a->serialNo(), d.serial);
        QVERIFY2(a->netInfo() == d.net, qPrintable(m));
    }
    QCOMPARE(seen, expected);
    QCOMPARE(probe.senderPorts(), QSet<quint16>{DiscoveryPort});
}

void TestLabSim::enquiryByMac_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("answers");
    QTest::newRow("device on the segment") << "10.10.0.1"
                                           << "02:c0:1a:00:00:05" << true;
    QTest::newRow("device without an address") << "10.10.1.1"
                                               << "02:c0:1a:00:00:0c" << true;
    QTest::newRow("device on the other segment") << "10.10.0.1"
                                                 << "02:c0:1a:00:00:08" << false;
    QTest::newRow("unknown MAC") << "10.20.0.1"
                                 << "02:c0:1a:00:99:99" << false;
}

void TestLabSim::enquiryByMac()
{
    QFETCH(QString, local);
    QFETCH(QString, target);
    QFETCH(bool, answers);
    Probe probe(local);
    CorlaMessages keep;
    const auto got = enquire(probe, mac(qPrintable(target)), &keep, 1, answers ? 5000 : 500);
    QCOMPARE(keep.size(), size_t(answers ? 1 : 0));
    if (answers)
        QVERIFY(got.first()->netInfo() == fleetDevice(qPrintable(target)).net);
}

void TestLabSim::answersGoToTheResponsePort()
{
    Probe sender("10.10.0.1");
    Probe receiver("10.10.0.1");
    sender.broadcast(enquiry(mac("02:c0:1a:00:00:01"), receiver.port()));
    QCOMPARE(receiver.collect(1).size(), 1);
    QCOMPARE(sender.collect(1, 0, 0).size(), 0);
}

void TestLabSim::changeAcceptedMovesTheDevice()
{
    const SimDevice& dorvi = fleetDevice("02:c0:1a:00:00:0f");
    QVERIFY(tcpGreeting("10.10.0.25", 21).startsWith("220 Dorvi #1015"));
    QVERIFY(echoAnswered("10.10.0.25", 2000));
    QVERIFY(!echoAnswered("10.10.0.77", 300));
    Probe probe("10.10.0.1");
    const TevNetHostInfo wanted = staticSettings("10.10.0.77", "255.255.255.0", "10.10.0.254");
    probe.broadcast(change(dorvi, wanted, probe.port()));
    const CorlaMessages answer = decodeAnswers(probe.collect(1));
    QCOMPARE(answer.size(), size_t(1));
    const auto* verdict = answer[0]->payloadAs<ZelChangeNetworkCmd>();
    QVERIFY(verdict);
    QCOMPARE(verdict->error(), int16_t(0));
    TevNetHostInfo now = wanted;
    now.setMacAddress(dorvi.net.macAddress());
    QVERIFY(verdict->netInfo() == now);
    QCOMPARE(verdict->serialNo(), dorvi.serial);

    CorlaMessages keep;
    const auto later = enquire(probe, dorvi.net.macAddress(), &keep, 1);
    QCOMPARE(later.size(), 1);
    QVERIFY(later.first()->netInfo() == now);
    QVERIFY(tcpGreeting("10.10.0.77", 21).startsWith("220 Dorvi #1015"));
    const QStringList held = deviceSideAddresses();
    QVERIFY(held.contains("10.10.0.77/32"));
    QVERIFY(!held.contains("10.10.0.25/32"));
    QVERIFY(echoAnswered("10.10.0.77", 2000));
    QVERIFY(!echoAnswered("10.10.0.25", 300));
    // Nothing answers at the old address any more (the host still knows its link address).
    QVERIFY(tcpGreeting("10.10.0.25", 21, 1000).startsWith("error: "));
}

void TestLabSim::changeToDhcpLeasesAnAddress()
{
    const SimDevice& board = fleetDevice("02:c0:1a:00:00:0c"); // DHCP without a lease
    QVERIFY(tcpGreeting("10.10.0.100", 21).startsWith("error: "));
    Probe probe("10.10.0.1");
    TevNetHostInfo wanted;
    wanted.setAddressMode(TevAddressModeAuto);
    probe.broadcast(change(board, wanted, probe.port()));
    const CorlaMessages answer = decodeAnswers(probe.collect(1));
    QCOMPARE(answer.size(), size_t(1));
    const auto* verdict = answer[0]->payloadAs<ZelChangeNetworkCmd>();
    QCOMPARE(verdict->error(), int16_t(0));
    QCOMPARE(verdict->netInfo().addressMode(), TevAddressModeAuto);
    QCOMPARE(verdict->netInfo().ipAddress().toString(), std::string("10.10.0.100"));
    QCOMPARE(verdict->netInfo().gateway().toString(), std::string("10.10.0.254"));
    QVERIFY(tcpGreeting("10.10.0.100", 21).startsWith("220 Link Board #1012"));
}

void TestLabSim::changeRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<TevNetHostInfo>("wanted");
    QTest::addColumn<int>("error");
    const char* tavio = "02:c0:1a:00:00:01"; // static 10.10.0.11
    const auto s = staticSettings;
    TevNetHostInfo noMode = s("10.10.0.78", "255.255.255.0", "10.10.0.254");
    noMode.setAddressMode(TevAddressModeNotSet);
    TevNetHostInfo mode9 = noMode;
    mode9.setAddressMode(TevAddressMode(9));
    QTest::newRow("configured: error in the device")
        << "02:c0:1a:00:00:0a" << s("10.20.0.78", "255.255.255.0", "10.20.0.254") << -1;
    QTest::newRow("invalid address") << tavio << s("127.0.0.9", "255.0.0.0", "0.0.0.0") << 1;
    QTest::newRow("invalid subnet") << tavio << s("10.10.0.78", "255.0.255.0", "10.10.0.254") << 2;
    QTest::newRow("invalid gateway")
        << tavio << s("10.10.0.78", "255.255.255.0", "10.20.0.254") << 3;
    QTest::newRow("broadcast address")
        << tavio << s("10.10.0.255", "255.255.255.0", "10.10.0.254") << 4;
    QTest::newRow("same address, other mask")
        << tavio << s("10.10.0.11", "255.255.0.0", "10.10.0.254") << 5;
    QTest::newRow("mode not set") << tavio << noMode << 6;
    QTest::newRow("mode 9") << tavio << mode9 << 6;
}

void TestLabSim::changeRefused()
{
    QFETCH(QString, target);
    QFETCH(TevNetHostInfo, wanted);
    QFETCH(int, error);
    const SimDevice& d = fleetDevice(qPrintable(target));
    Probe probe(d.iface == "dev1" ? "10.20.0.1" : "10.10.0.1");
    probe.broadcast(change(d, wanted, probe.port()));
    const CorlaMessages answer = decodeAnswers(probe.collect(1));
    QCOMPARE(answer.size(), size_t(1));
    const auto* verdict = answer[0]->payloadAs<ZelChangeNetworkCmd>();
    QCOMPARE(int(verdict->error()), error);
    QVERIFY(verdict->netInfo() == d.net); // a refusing device reports what it keeps

    CorlaMessages keep;
    const auto later = enquire(probe, d.net.macAddress(), &keep, 1);
    QCOMPARE(later.size(), 1);
    QVERIFY(later.first()->netInfo() == d.net);
}

void TestLabSim::resetThenSilence()
{
    QVERIFY(m_sim.stop());
    QVERIFY(startSim({"--reset-silence", "3000"}));
    const TevMacAddr target = mac("02:c0:1a:00:00:05");
    Probe probe("10.10.0.1");
    probe.broadcast(reset(target, probe.port()));
    QElapsedTimer clock;
    clock.start();
    const QList<QByteArray> datagrams = probe.collect(1, 5000, 0);
    QCOMPARE(datagrams.size(), 1);
    QCOMPARE(datagrams.first().mid(4, datagrams.first().size() - 6),
             QByteArray("MAC=02:C0:1A:00:00:05"));
    const CorlaMessages answer = decodeAnswers(datagrams);
    QVERIFY(answer[0]->payloadAs<ZelResetDeviceCmd>()->macAddress() == target);

    // While it resets, the device hears nothing and takes no connections; the others do.
    CorlaMessages keep;
    QCOMPARE(enquire(probe, target, &keep, 1, 300).size(), 0);
    QCOMPARE(enquire(probe, TevMacAddr(), &keep, macsOn("dev0").size() - 1).size(),
             macsOn("dev0").size() - 1);
    QVERIFY(tcpGreeting("10.10.0.15", 21).startsWith("error: "));
    probe.clear();
    probe.broadcast(reset(target, probe.port()));
    QCOMPARE(probe.collect(1, 300, 0).size(), 0);
    QVERIFY2(clock.elapsed() < 2700, "the checks took longer than the silence");

    QTest::qWait(int(3100 - clock.elapsed()));
    QCOMPARE(enquire(probe, target, &keep, 1).size(), 1);
    QVERIFY(tcpGreeting("10.10.0.15", 21).startsWith("220 "));
}

void TestLabSim::faultSwitches_data()
{
    // The five devices on lab1's segment answer an enquiry from 10.20.0.1.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("dns");
    QTest::newRow("no fault") << QStringList() << QList<int>{32, 32, 32, 32, 32}
                              << QByteArray("\x2A\x57\x1A\x00") << 5 << true;
    QTest::newRow("duplicate answers")
        << QStringList{"--duplicate"} << QList<int>{32, 32, 32, 32, 32, 32, 32, 32, 32, 32}
        << QByteArray("\x2A\x57") << 10 << true;
    QTest::newRow("stray bytes") << QStringList{"--stray-bytes"} << QList<int>{34, 34, 34, 34, 34}
                                 << QByteArray("\x11\x22\x2A\x57") << 5 << true;
    QTest::newRow("split after the header")
        << QStringList{"--split"} << QList<int>{4, 28, 4, 28, 4, 28, 4, 28, 4, 28} << QByteArray()
        << 5 << true;
    QTest::newRow("frames in one datagram")
        << QStringList{"--frames-per-datagram", "5"} << QList<int>{160} << QByteArray("\x2A\x57")
        << 5 << true;
    QTest::newRow("unknown code") << QStringList{"--unknown-code", "0x41"}
                                  << QList<int>{47, 47, 47, 47, 47} << QByteArray("\x2A\x41") << 5
                                  << true;
    QTest::newRow("short answers")
        << QStringList{"--short-answers"} << QList<int>{28, 28, 28, 28, 28}
        << QByteArray("\x2A\x57\x16\x00") << 5 << false;
}

void TestLabSim::faultSwitches()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, sizes);
    QFETCH(QByteArray, head);
    QFETCH(int, messages);
    QFETCH(bool, dns);
    QVERIFY(m_sim.stop());
    QVERIFY(startSim(args + QStringList{"--no-tcp"}));
    Probe probe("10.20.0.1");
    probe.broadcast(enquiry(TevMacAddr(), probe.port()));
    const QList<QByteArray> datagrams = probe.collect(sizes.size());
    QList<int> actual;
    for (const QByteArray& d : datagrams) {
        actual.append(d.size());
        QVERIFY(d.startsWith(head));
    }
    QCOMPARE(actual, sizes);
    const CorlaMessages decoded = decodeAnswers(datagrams);
    QCOMPARE(int(decoded.size()), messages);
    QSet<QString> macs;
    for (const auto& m : decoded) {
        const auto* a = m->payloadAs<ZelNetworkEnqireCmd>();
        QVERIFY(a);
        const SimDevice& d = fleetDevice(a->netInfo().macAddress().toString().c_str());
        TevNetHostInfo expected = d.net;
        if (!dns)
            expected.setDns(TevIpAddr());
        QVERIFY(a->netInfo() == expected);
        macs.insert(text(d.net.macAddress()));
    }
    QCOMPARE(macs, macsOn("dev1"));
}

void TestLabSim::burstLosesNothing()
{
    // Paced at its default rate, a burst fits an ordinary socket buffer of the receiver.
    QVERIFY(m_sim.stop());
    QVERIFY(startSim({"--burst", "5000", "--burst-iface", "dev1", "--quiet"}));
    Probe probe("10.20.0.1");
    QElapsedTimer clock;
    clock.start();
    probe.broadcast(enquiry(TevMacAddr(), probe.port()));
    const QList<QByteArray> datagrams = probe.collect(5000, 30000, 500);
    qInfo("5000 answers in %lld ms", clock.elapsed());
    QCOMPARE(datagrams.size(), 5000);
    const CorlaMessages decoded = decodeAnswers(datagrams);
    QSet<QString> macs;
    for (const auto& m : decoded)
        macs.insert(text(m->payloadAs<ZelNetworkEnqireCmd>()->netInfo().macAddress()));
    QCOMPARE(macs.size(), 5000);

    // Other segments hear nothing of it; every burst address takes connections on port 21.
    Probe other("10.10.0.1");
    other.broadcast(enquiry(TevMacAddr(), other.port()));
    QCOMPARE(other.collect(1, 500, 0).size(), 0);
    QVERIFY(tcpGreeting("10.40.0.1", 21).startsWith("220 "));
    QVERIFY(tcpGreeting("10.40.19.140", 21).startsWith("220 "));
}

void TestLabSim::port21_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("open") << "10.10.0.11"
                          << "220 Tavio LF #1001 FTP service ready\r\n";
    QTest::newRow("open on lab1") << "10.20.0.18"
                                  << "220 Host Controller #1008 FTP service ready\r\n";
    QTest::newRow("closed") << "10.10.0.14"
                            << "error: Connection refused";
    QTest::newRow("foreign subnet") << "192.168.77.21"
                                    << "error: Network unreachable";
}

void TestLabSim::port21()
{
    QFETCH(QString, address);
    QFETCH(QString, expected);
    QCOMPARE(tcpGreeting(address, 21), expected);
}

void TestLabSim::webPage_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Nerio HF") << "10.10.0.15" << QByteArray("<h1>Nerio HF #1005</h1>");
    QTest::newRow("KWT on lab1") << "10.20.0.26" << QByteArray("<h1>KWT #1016</h1>");
    QTest::newRow("web page but port 21 closed")
        << "10.10.0.29" << QByteArray("<h1>Nerio HF #1019</h1>");
    QTest::newRow("no web page") << "10.10.0.11" << QByteArray("error: Connection refused");
}

void TestLabSim::webPage()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, expected);
    const QByteArray reply = httpGet(address);
    QVERIFY2(reply.contains(expected), reply.constData());
    if (!expected.startsWith("error")) {
        QVERIFY(reply.startsWith("HTTP/1.0 200 OK\r\n"));
        QVERIFY(reply.contains("<td>" + address.toUtf8() + "</td>"));
    }
}

void TestLabSim::malformedRequestsAreIgnored_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("logged");
    QByteArray good = enquiry(TevMacAddr(), 0);
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0x5A);
    QTest::newRow("bad CRC") << badCrc << "bad CRC";
    QTest::newRow("truncated frame") << good.left(good.size() - 1) << "not one frame";
    QTest::newRow("two frames") << good + good << "not one frame";
    QTest::newRow("short enquiry") << corlaFrame(0x57, QByteArray(10, '\0')) << "10 bytes";
    QTest::newRow("unknown request code")
        << corlaFrame(0x41, QByteArray(11, '\0')) << "unknown code 0x41";
}

void TestLabSim::malformedRequestsAreIgnored()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, logged);
    Probe probe("10.10.0.1");
    probe.broadcast(datagram);
    QCOMPARE(probe.collect(1, 500, 0).size(), 0);
    QTRY_VERIFY(m_sim.output().contains(logged));
    // ...and the simulator still answers the next proper request.
    CorlaMessages keep;
    QCOMPARE(enquire(probe, mac("02:c0:1a:00:00:01"), &keep, 1).size(), 1);
}

void TestLabSim::twoSimulatorsShareThePort()
{
    const QString fleet = corlaLabEnv("CORLA_LAB_TMP") + "/one.json";
    QFile file(fleet);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"devices": [{"type": 66, "serial": 4242, "mac": "02:c0:1c:00:00:01",
                  "ip": "10.20.0.42", "mask": "255.255.255.0", "web": true}]})");
    file.close();
    CorlaLabSim second;
    QString why;
    QVERIFY2(second.start({"--fleet", fleet}, &why), qPrintable(why));
    Probe probe("10.20.0.1");
    CorlaMessages keep;
    const auto answers = enquire(probe, TevMacAddr(), &keep, macsOn("dev1").size() + 1);
    QCOMPARE(answers.size(), macsOn("dev1").size() + 1);
    QVERIFY(httpGet("10.20.0.42").contains("<h1>ZQ #4242</h1>"));
    QVERIFY(deviceSideAddresses().contains("10.20.0.42/32"));
    QVERIFY(second.stop());
    // Stopping takes its address away again, and leaves the other simulator's alone.
    QVERIFY(!deviceSideAddresses().contains("10.20.0.42/32"));
    QVERIFY(deviceSideAddresses().contains("10.20.0.18/32"));
}

QTEST_GUILESS_MAIN(TestLabSim)
#include "tst_labsim.moc"
