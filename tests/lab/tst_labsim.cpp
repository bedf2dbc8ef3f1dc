// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The simulator and the lab on the wire, through plain host-side sockets and the program's
// own codec: response ports, malformed requests, a second simulator, the forger's order, and
// the lab's loss rules (loss(), run only by tst_lab_loss0 and tst_lab_loss100).

#include "core/wire/codec.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tools/corla-sim/simfleet.h"
#include "tools/corla-sim/simwire.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>

using namespace corla;

namespace {

QByteArray requestFrame(MessagePayload& payload, uint16_t responsePort)
{
    payload.setResponsePort(responsePort);
    const std::vector<uint8_t> frame = Frame(&payload).frame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

// The datagrams, in order, through one receive buffer and one parser, as the program reads
// them.
std::vector<std::unique_ptr<Frame>> decodeAnswers(const QList<QByteArray>& datagrams)
{
    CircularByteBuffer buffer(FrameParser::ReceiveBufferSize);
    FrameParser parser;
    std::vector<std::unique_ptr<Frame>> messages;
    for (const QByteArray& datagram : datagrams) {
        buffer.write(reinterpret_cast<const uint8_t*>(datagram.constData()),
                     uint64_t(datagram.size()));
        parser.drive(buffer, [&messages](std::unique_ptr<Frame> message) {
            messages.push_back(std::move(message));
        });
    }
    return messages;
}

const SimDevice& fleetDevice(uint16_t serial)
{
    static const SimFleet fleet = defaultFleet();
    return *std::find_if(fleet.begin(), fleet.end(),
                         [=](const SimDevice& d) { return d.serial == serial; });
}

int devicesOn(const QString& iface)
{
    const SimFleet fleet = defaultFleet();
    return int(std::count_if(fleet.begin(), fleet.end(),
                             [&](const SimDevice& d) { return d.iface == iface; }));
}

QString text(const Ipv4Address& ip)
{
    return QString::fromStdString(ip.toString());
}

// One datagram as "<sender> <answers>": of a change its error code, address and gateway,
// of a reset its MAC.
QString describe(const QNetworkDatagram& datagram)
{
    QStringList frames;
    for (const auto& m : decodeAnswers({datagram.data()})) {
        if (const auto* change = m->payloadAs<ChangeMessage>())
            frames << QStringLiteral("change %1 %2 gw %3")
                          .arg(change->error())
                          .arg(text(change->netInfo().ipAddress()),
                               text(change->netInfo().gateway()));
        else if (const auto* reset = m->payloadAs<ResetMessage>())
            frames << "reset " + QString::fromStdString(reset->macAddress().toString());
    }
    return QHostAddress(datagram.senderAddress().toIPv4Address()).toString() + ' ' +
           frames.join(" + ");
}

// One host-side UDP socket: broadcasts requests and gathers whatever comes back.
class Probe
{
public:
    explicit Probe(const QString& localAddress)
    {
        m_socket.bind(QHostAddress(localAddress), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = m_socket.receiveDatagram();
                m_datagrams.append(datagram.data());
                described << describe(datagram);
            }
        });
    }
    QStringList described;
    quint16 port() const { return m_socket.localPort(); }
    void broadcast(const QByteArray& datagram)
    {
        m_datagrams.clear();
        described.clear();
        m_socket.writeDatagram(datagram, QHostAddress::Broadcast, 62726);
    }
    void send(MessagePayload&& request, quint16 responsePort = 0)
    {
        broadcast(requestFrame(request, responsePort ? responsePort : port()));
    }
    // Waits until `count` datagrams are in (then up to `quietMs` for a surplus one) or
    // `timeoutMs` have passed; running out of time is no failure: the caller counts.
    QList<QByteArray> collect(int count, int timeoutMs = 5000, int quietMs = 150)
    {
        (void)QTest::qWaitFor([&] { return m_datagrams.size() >= count; }, timeoutMs);
        (void)QTest::qWaitFor([&] { return m_datagrams.size() > count; }, quietMs);
        return m_datagrams;
    }
    // The settings in the enquiry answers to `target` (zero MAC: every device).
    QList<NetworkSettings> enquire(const MacAddress& target, int expected)
    {
        NetworkSettings named;
        named.setMacAddress(target);
        send(EnquiryMessage(0, 0, named));
        QList<NetworkSettings> answers;
        for (const auto& m : decodeAnswers(collect(expected)))
            answers.append(m->payloadAs<EnquiryMessage>()->netInfo());
        return answers;
    }

private:
    QUdpSocket m_socket;
    QList<QByteArray> m_datagrams;
};

// What a host-side HTTP GET of / at `address` brings back.
QByteArray webPage(const QString& address)
{
    QTcpSocket socket;
    socket.connectToHost(address, 80);
    if (!socket.waitForConnected(3000))
        return "error: " + socket.errorString().toUtf8();
    socket.write("GET / HTTP/1.0\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(reply.isEmpty() ? 3000 : 200))
        reply += socket.readAll();
    return reply;
}

// Whether the device side holds `address` (the simulator adds each device's as a /32).
bool deviceHolds(const char* address)
{
    QProcess ip;
    ip.start("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "ip", "-o", "-4", "addr"});
    ip.waitForFinished(5000);
    return QString::fromLocal8Bit(ip.readAll())
        .contains(QStringLiteral("inet %1/32 ").arg(address));
}

} // namespace

class TestLabSim : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(corlaLabList("CORLA_LAB_HOST_ADDRS"),
                 QStringList({"10.10.0.1", "10.10.1.1", "10.20.0.1"}));
    }

    void init()
    {
        // Most cases want the default fleet fresh; the others restart it with their switches.
        QCOMPARE(m_sim.startOrWhy({}), QString());
    }

    void cleanup()
    {
        const bool clean = m_sim.stop();
        if (QTest::currentTestFailed() || !clean)
            qInfo("simulator output:\n%s", qPrintable(m_sim.output()));
        QVERIFY2(clean, "the simulator did not end cleanly");
    }

    void answersGoToTheResponsePort()
    {
        Probe sender("10.10.0.1");
        Probe receiver("10.10.0.1");
        sender.send(EnquiryMessage(0, 0, NetworkSettings()), receiver.port());
        QCOMPARE(receiver.collect(devicesOn("dev0")).size(), devicesOn("dev0"));
        QCOMPARE(sender.collect(1, 0, 0).size(), 0);
    }

    void malformedRequestsAreIgnored()
    {
        EnquiryMessage enquiry(0, 0, NetworkSettings());
        const QByteArray good = requestFrame(enquiry, 1);
        const QByteArray badCrc = good.left(good.size() - 1) + char(good.back() ^ 0x5A);
        Probe probe("10.10.0.1");
        for (const QByteArray& bad : {badCrc, good.left(good.size() - 1), good + good})
            probe.broadcast(bad);
        QTRY_COMPARE(m_sim.output().count("not one frame"), 2);
        QVERIFY(m_sim.output().contains("bad CRC"));
        // ...and the simulator still answers the next proper request.
        QCOMPARE(probe.enquire(fleetDevice(1001).net.macAddress(), 1).size(), 1);
    }

    void twoSimulatorsShareThePort()
    {
        const QString fleet = corlaLabEnv("CORLA_LAB_TMP") + "/one.json";
        QFile file(fleet);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"([{"type": 66, "serial": 4242, "mac": "02:c0:1c:00:00:01",
                      "ip": "10.20.0.42", "mask": "255.255.255.0", "web": true}])");
        file.close();
        CorlaLabSim second;
        QString why;
        QVERIFY2(second.start({"--fleet", fleet}, &why), qPrintable(why));
        Probe probe("10.20.0.1");
        QCOMPARE(probe.enquire(MacAddress(), devicesOn("dev1") + 1).size(), devicesOn("dev1") + 1);
        QVERIFY(webPage("10.20.0.42").contains("<h1>ZQ #4242</h1>"));
        QVERIFY(deviceHolds("10.20.0.42"));
        QVERIFY(second.stop());
        // Stopping takes its address away again, and leaves the other simulator's alone.
        QVERIFY(!deviceHolds("10.20.0.42") && deviceHolds("10.20.0.18"));
    }

    // 02:c0:1a:00:00:0d (static 10.10.0.23 on dev0) accepts changes; the forger is 10.10.0.253.
    void forgerAnswersFirst_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("reset"); // else a change to 10.10.0.77
        QTest::addColumn<QStringList>("expected");
        row("refuse, the device accepts", QStringList{"--forge", "refuse"}, false,
            QStringList{"10.10.0.253 change 1 10.10.0.23 gw 10.10.0.254",
                        "10.10.0.254 change 0 10.10.0.77 gw 10.10.0.254"});
        row("ack-flood on a reset", QStringList{"--forge", "ack-flood:3"}, true,
            QStringList{
                "10.10.0.253 reset 02:c0:1a:00:00:0d", "10.10.0.253 reset 02:c0:1a:00:00:0d",
                "10.10.0.253 reset 02:c0:1a:00:00:0d", "10.10.0.254 reset 02:c0:1a:00:00:0d"});
    }

    void forgerAnswersFirst()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, reset);
        QFETCH(QStringList, expected);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        const MacAddress mac = fleetDevice(1013).net.macAddress();
        Probe probe("10.10.0.1");
        if (reset)
            probe.send(ResetMessage(mac));
        else
            probe.send(ChangeMessage(
                0, 0,
                NetworkSettings(Ipv4Address("10.10.0.77"), Ipv4Address("255.255.255.0"),
                                Ipv4Address("10.10.0.254"), Ipv4Address("10.10.0.254"), mac,
                                AddressModeStatic)));
        probe.collect(expected.size(), 5000, 300);
        QCOMPARE(probe.described, expected);
    }

    // Run by tst_lab_loss0 and tst_lab_loss100 only: the lab's loss rules, each side on its own.
    void loss()
    {
        const QString loss = corlaLabEnv("CORLA_LAB_LOSS");
        if (loss.isEmpty())
            QSKIP("needs a lab made with --loss (tst_lab_loss0, tst_lab_loss100)");
        Probe probe("10.10.0.1");
        const auto enquireFiveTimes = [&probe](int answers, int timeoutMs) {
            int total = 0;
            for (int i = 0; i < 5; ++i) {
                probe.send(EnquiryMessage(0, 0, NetworkSettings()));
                total += probe.collect(answers, timeoutMs, 100).size();
            }
            return total;
        };
        if (loss == "0") {
            QCOMPARE(enquireFiveTimes(devicesOn("dev0"), 5000), 5 * devicesOn("dev0"));
            QCOMPARE(m_sim.output().count("enquiry from 10.10.0.1:"), 5);
            return;
        }
        QCOMPARE(loss, QString("100"));
        QCOMPARE(enquireFiveTimes(1, 500), 0);
        QCOMPARE(m_sim.output().count("enquiry from 10.10.0.1:"), 0);
        // Without the device side's rule the requests get in and are answered, but the host
        // side's rule lets no answer through.
        QProcess nft;
        nft.start("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "nft", "delete", "table",
                              "inet", "corla_lab_loss"});
        QVERIFY2(nft.waitForFinished(10000) && nft.exitCode() == 0,
                 nft.readAllStandardError().constData());
        QCOMPARE(enquireFiveTimes(1, 500), 0);
        QCOMPARE(m_sim.output().count("enquiry from 10.10.0.1:"), 5);
        QCOMPARE(m_sim.output().count(": 15 answers"), 5);
    }
};

QTEST_GUILESS_MAIN(TestLabSim)
#include "tst_labsim.moc"
