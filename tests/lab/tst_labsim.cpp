// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The simulator on the wire: response ports, malformed requests, forger, loss (tst_lab_loss0/100).
#include "core/wire/codec.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/testdevice.h"
#include "tools/corla-sim/simfleet.h"
#include "tools/corla-sim/simwire.h"

#include <QNetworkDatagram>
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

int devicesOn(const QString& iface)
{
    const SimFleet fleet = defaultFleet();
    return int(std::count_if(fleet.begin(), fleet.end(),
                             [&](const SimDevice& d) { return d.iface == iface; }));
}

// One datagram as "<sender> <answers>": a change's code, address and gateway, a reset's MAC.
QString describe(const QNetworkDatagram& datagram)
{
    CircularByteBuffer buffer(FrameParser::ReceiveBufferSize);
    buffer.write(reinterpret_cast<const uint8_t*>(datagram.data().constData()),
                 uint64_t(datagram.data().size()));
    QStringList frames;
    FrameParser().drive(buffer, [&frames](std::unique_ptr<Frame> m) {
        if (const auto* change = m->payloadAs<ChangeMessage>())
            frames << QStringLiteral("change %1 %2 gw %3")
                          .arg(change->error())
                          .arg(text(change->netInfo().ipAddress()),
                               text(change->netInfo().gateway()));
        else if (const auto* reset = m->payloadAs<ResetMessage>())
            frames << "reset " + text(reset->macAddress());
    });
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
            while (m_socket.hasPendingDatagrams())
                described << describe(m_socket.receiveDatagram());
        });
    }
    QStringList described;
    quint16 port() const { return m_socket.localPort(); }
    void broadcast(const QByteArray& datagram)
    {
        described.clear();
        m_socket.writeDatagram(datagram, QHostAddress::Broadcast, 62726);
    }
    void send(MessagePayload&& request, quint16 responsePort = 0)
    {
        broadcast(requestFrame(request, responsePort ? responsePort : port()));
    }
    // Waits for `count` datagrams (then `quietMs` for a surplus) or `timeoutMs`; the caller counts.
    int collect(int count, int timeoutMs = 5000, int quietMs = 150)
    {
        (void)QTest::qWaitFor([&] { return described.size() >= count; }, timeoutMs);
        (void)QTest::qWaitFor([&] { return described.size() > count; }, quietMs);
        return described.size();
    }

private:
    QUdpSocket m_socket;
};

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

    void init() { QCOMPARE(m_sim.startOrWhy({}), QString()); }

    void cleanup() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

    void answersGoToTheResponsePort()
    {
        Probe sender("10.10.0.1"), receiver("10.10.0.1");
        sender.send(EnquiryMessage(0, 0, NetworkSettings()), receiver.port());
        QCOMPARE(receiver.collect(devicesOn("dev0")), devicesOn("dev0"));
        QCOMPARE(sender.collect(1, 0, 0), 0);
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
        NetworkSettings named;
        named.setMacAddress(macOf("02:c0:1a:00:00:01"));
        probe.send(EnquiryMessage(0, 0, named));
        QCOMPARE(probe.collect(1), 1);
    }

    // 02:c0:1a:00:00:0d (static 10.10.0.23 on dev0) accepts changes; the forger is 10.10.0.253.
    void forgerAnswersFirst_data()
    {
        // reset: else a change to 10.10.0.77
        columns<QStringList, bool, QStringList>({"args", "reset", "expected"});
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
        const MacAddress mac = macOf("02:c0:1a:00:00:0d");
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
                total += probe.collect(answers, timeoutMs, 100);
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
        // Requests get in and are answered, but the host side's rule lets no answer through.
        QCOMPARE(QProcess::execute("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "nft",
                                               "delete", "table", "inet", "corla_lab_loss"}),
                 0);
        QCOMPARE(enquireFiveTimes(1, 500), 0);
        QCOMPARE(m_sim.output().count("enquiry from 10.10.0.1:"), 5);
        QCOMPARE(m_sim.output().count(": 15 answers"), 5);
    }
};

QTEST_GUILESS_MAIN(TestLabSim)
#include "tst_labsim.moc"
