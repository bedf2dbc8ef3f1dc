// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The simulator's own state on the wire, in the lab: requests go out of plain UDP sockets
// on the host side, answers are decoded with the program's own codec, and the devices'
// addresses, port 21 and web page are checked from the host side too. Fault switches,
// refusal codes and changes are checked through the adapter, the window and corla-cli.

#include "labguard.h"
#include "simfleet.h"
#include "simwire.h"
#include "zecorla.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>

namespace {

QByteArray requestFrame(ZelCorlaCommandPayload& payload, uint16_t responsePort)
{
    payload.setResponsePort(responsePort);
    const std::vector<uint8_t> frame = ZelCorlaCommand(&payload).frame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

// The datagrams, in order, through one receive buffer and one parser, as the program reads
// them.
std::vector<std::unique_ptr<ZelCorlaCommand>> decodeAnswers(const QList<QByteArray>& datagrams)
{
    CircularByteBuffer buffer(ZelCorlaProcessor::ReceiveBufferSize);
    ZelCorlaProcessor parser;
    std::vector<std::unique_ptr<ZelCorlaCommand>> messages;
    for (const QByteArray& datagram : datagrams) {
        buffer.write(reinterpret_cast<const uint8_t*>(datagram.constData()),
                     uint64_t(datagram.size()));
        parser.drive(buffer, [&messages](std::unique_ptr<ZelCorlaCommand> message) {
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

// One host-side UDP socket: broadcasts requests and gathers whatever comes back.
class Probe
{
public:
    explicit Probe(const QString& localAddress)
    {
        m_socket.bind(QHostAddress(localAddress), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams())
                m_datagrams.append(m_socket.receiveDatagram().data());
        });
    }
    quint16 port() const { return m_socket.localPort(); }
    void broadcast(const QByteArray& datagram)
    {
        m_datagrams.clear();
        m_socket.writeDatagram(datagram, QHostAddress::Broadcast, 62726);
    }
    void send(ZelCorlaCommandPayload&& request, quint16 responsePort = 0)
    {
        broadcast(requestFrame(request, responsePort ? responsePort : port()));
    }
    // Waits until `count` datagrams are in (then `quietMs` more, to catch surplus ones) or
    // `timeoutMs` have passed; running out of time is no failure: the caller counts.
    QList<QByteArray> collect(int count, int timeoutMs = 5000, int quietMs = 150)
    {
        (void)QTest::qWaitFor([&] { return m_datagrams.size() >= count; }, timeoutMs);
        QTest::qWait(quietMs);
        return m_datagrams;
    }
    // The settings in the enquiry answers to `target` (zero MAC: every device).
    QList<TevNetHostInfo> enquire(const TevMacAddr& target, int expected, int timeoutMs = 5000)
    {
        TevNetHostInfo named;
        named.setMacAddress(target);
        send(ZelNetworkEnqireCmd(0, 0, named));
        QList<TevNetHostInfo> answers;
        for (const auto& m : decodeAnswers(collect(expected, timeoutMs)))
            answers.append(m->payloadAs<ZelNetworkEnqireCmd>()->netInfo());
        return answers;
    }

private:
    QUdpSocket m_socket;
    QList<QByteArray> m_datagrams;
};

// Connects from the host side, sends `request` and returns what the device sends until it
// closes or pauses, or "error: " and the reason.
QByteArray tcpTalk(const QString& address, quint16 port, const QByteArray& request = {},
                   int timeoutMs = 3000)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(timeoutMs))
        return "error: " + socket.errorString().toUtf8();
    socket.write(request);
    QByteArray reply;
    while (socket.waitForReadyRead(reply.isEmpty() ? 3000 : 200))
        reply += socket.readAll();
    return reply;
}

bool greets(const QString& address, const char* name)
{
    return tcpTalk(address, 21).startsWith(QByteArray("220 ") + name);
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
        sender.send(ZelNetworkEnqireCmd(0, 0, TevNetHostInfo()), receiver.port());
        QCOMPARE(receiver.collect(devicesOn("dev0")).size(), devicesOn("dev0"));
        QCOMPARE(sender.collect(1, 0, 0).size(), 0);
    }

    void resetThenSilence()
    {
        QCOMPARE(m_sim.startOrWhy({"--reset-silence", "3000"}), QString());
        const TevMacAddr target = fleetDevice(1005).net.macAddress(); // Nerio HF at 10.10.0.15
        Probe probe("10.10.0.1");
        QElapsedTimer clock;
        clock.start();
        probe.send(ZelResetDeviceCmd(target));
        QCOMPARE(probe.collect(1, 5000, 0),
                 QList<QByteArray>{corlaFrame(ZelCorlaCode::ResetDevice, "MAC=02:C0:1A:00:00:05")});

        // While it resets, the device hears nothing and takes no connections; the others do.
        QCOMPARE(probe.enquire(target, 1, 300).size(), 0);
        QCOMPARE(probe.enquire(TevMacAddr(), devicesOn("dev0") - 1).size(), devicesOn("dev0") - 1);
        QVERIFY(tcpTalk("10.10.0.15", 21).startsWith("error: "));
        probe.send(ZelResetDeviceCmd(target));
        QCOMPARE(probe.collect(1, 300, 0).size(), 0);

        // Heard again once the silence is over.
        QTRY_COMPARE_WITH_TIMEOUT(probe.enquire(target, 1, 300).size(), 1, 5000);
        QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(greets("10.10.0.15", "Nerio HF #1005"));
    }

    void malformedRequestsAreIgnored()
    {
        ZelNetworkEnqireCmd enquiry(0, 0, TevNetHostInfo());
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
        QCOMPARE(probe.enquire(TevMacAddr(), devicesOn("dev1") + 1).size(), devicesOn("dev1") + 1);
        QVERIFY(tcpTalk("10.20.0.42", 80, "GET / HTTP/1.0\r\n\r\n").contains("<h1>ZQ #4242</h1>"));
        QVERIFY(deviceHolds("10.20.0.42"));
        QVERIFY(second.stop());
        // Stopping takes its address away again, and leaves the other simulator's alone.
        QVERIFY(!deviceHolds("10.20.0.42") && deviceHolds("10.20.0.18"));
    }
};

QTEST_GUILESS_MAIN(TestLabSim)
#include "tst_labsim.moc"
