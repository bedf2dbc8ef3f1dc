// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// What a forging sender (corla-sim --forge) and a lossy lab (scripts/lab --loss) put on the
// wire, seen from a plain UDP socket on the host side: the forger's datagrams come first and
// from an address of their own, the device's answer follows; --loss 100 lets no request in
// and no answer out, --loss 0 drops nothing. The loss cases run only in the labs that
// tst_lab_loss0 and tst_lab_loss100 build (CORLA_LAB_LOSS).

#include "datarow.h"
#include "labguard.h"
#include "zecorla.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

namespace {

QString text(const TevIpAddr& ip)
{
    return QString::fromStdString(ip.toString());
}

// One answer datagram as "<sender> <kind> ...": enquiry MAC, address, gateway and DNS server;
// change error code, address and gateway; reset MAC.
QString describe(const QNetworkDatagram& datagram)
{
    const QByteArray data = datagram.data();
    CircularByteBuffer buffer(ZelCorlaProcessor::ReceiveBufferSize);
    buffer.write(reinterpret_cast<const uint8_t*>(data.constData()), uint64_t(data.size()));
    ZelCorlaProcessor parser;
    QStringList frames;
    parser.drive(buffer, [&frames](std::unique_ptr<ZelCorlaCommand> m) {
        if (const auto* change = m->payloadAs<ZelChangeNetworkCmd>()) {
            frames << QStringLiteral("change %1 %2 gw %3")
                          .arg(change->error())
                          .arg(text(change->netInfo().ipAddress()),
                               text(change->netInfo().gateway()));
        } else if (const auto* enquiry = m->payloadAs<ZelNetworkEnqireCmd>()) {
            const TevNetHostInfo& net = enquiry->netInfo();
            frames << QStringLiteral("enquiry %1 %2 gw %3 dns %4")
                          .arg(QString::fromStdString(net.macAddress().toString()),
                               text(net.ipAddress()), text(net.gateway()), text(net.dns()));
        } else if (const auto* reset = m->payloadAs<ZelResetDeviceCmd>()) {
            frames << "reset " + QString::fromStdString(reset->macAddress().toString());
        }
    });
    return QHostAddress(datagram.senderAddress().toIPv4Address()).toString() + ' ' +
           (frames.isEmpty() ? QStringLiteral("%1 undecoded bytes").arg(data.size())
                             : frames.join(" + "));
}

// A host-side socket on one local address: broadcasts a request that names it as the
// response port and describes, in order, what arrives there.
class Probe
{
public:
    explicit Probe(const QString& localAddress)
    {
        m_bound = m_socket.bind(QHostAddress(localAddress), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams())
                m_seen << describe(m_socket.receiveDatagram());
        });
    }
    bool isBound() const { return m_bound; }

    void send(ZelCorlaCommandPayload&& request)
    {
        m_seen.clear();
        request.setResponsePort(m_socket.localPort());
        const std::vector<uint8_t> frame = ZelCorlaCommand(&request).frame();
        m_socket.writeDatagram(reinterpret_cast<const char*>(frame.data()), qint64(frame.size()),
                               QHostAddress::Broadcast, 62726);
    }
    // Until `count` datagrams are in, then `quietMs` more for surplus ones; at most
    // `timeoutMs`, which is no failure: the caller compares.
    QStringList collect(int count, int timeoutMs = 5000, int quietMs = 300)
    {
        (void)QTest::qWaitFor([&] { return m_seen.size() >= count; }, timeoutMs);
        QTest::qWait(quietMs);
        return m_seen;
    }

private:
    QUdpSocket m_socket;
    bool m_bound = false;
    QStringList m_seen;
};

TevMacAddr mac(const char* textForm)
{
    TevMacAddr parsed;
    TevMacAddr::parse(textForm, &parsed);
    return parsed;
}

TevNetHostInfo staticSettings(const char* macText, const char* ip, const char* router)
{
    return TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"), TevIpAddr(router),
                          TevIpAddr(router), mac(macText), TevAddressModeManual);
}

enum Request
{
    Enquiry,
    Change,
    Reset,
};

} // namespace

Q_DECLARE_METATYPE(Request)

class TstLabLossForge : public QObject
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

    void cleanup()
    {
        const bool clean = m_sim.stop();
        if (QTest::currentTestFailed() || !clean)
            qInfo("simulator output:\n%s", qPrintable(m_sim.output()));
        QVERIFY2(clean, "the simulator did not end cleanly");
    }

    void forgerAnswersFirst_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("local");
        QTest::addColumn<Request>("request");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("expected");
        // 02:c0:1a:00:00:0a (10.20.0.20 on dev1) refuses every change with -1.
        row("accept, the device refuses", QStringList{"--forge", "accept"}, "10.20.0.1", Change,
            "02:c0:1a:00:00:0a",
            QStringList{"10.20.0.253 change 0 10.20.0.77 gw 10.20.0.254",
                        "10.20.0.254 change -1 10.20.0.20 gw 10.20.0.254"});
        row("refuse, the device accepts", QStringList{"--forge", "refuse"}, "10.10.0.1", Change,
            "02:c0:1a:00:00:0d",
            QStringList{"10.10.0.253 change 1 10.10.0.23 gw 10.10.0.254",
                        "10.10.0.254 change 0 10.10.0.77 gw 10.10.0.254"});
        row("a second answer for the device", QStringList{"--forge", "enquiry:02:c0:1a:00:00:05"},
            "10.10.1.1", Enquiry, "02:c0:1a:00:00:05",
            QStringList{
                "10.10.1.253 enquiry 02:c0:1a:00:00:05 10.10.0.15 gw 10.10.0.66 dns 10.10.0.66",
                "10.10.1.254 enquiry 02:c0:1a:00:00:05 10.10.0.15 gw 10.10.0.254 dns 10.10.0.254"});
        row("none for another device", QStringList{"--forge", "enquiry:02:c0:1a:00:00:05"},
            "10.10.0.1", Enquiry, "02:c0:1a:00:00:01",
            QStringList{
                "10.10.0.254 enquiry 02:c0:1a:00:00:01 10.10.0.11 gw 10.10.0.254 dns 10.10.0.254"});
        row("ack-flood on a reset", QStringList{"--forge", "ack-flood:3"}, "10.10.0.1", Reset,
            "02:c0:1a:00:00:05",
            QStringList{
                "10.10.0.253 reset 02:c0:1a:00:00:05", "10.10.0.253 reset 02:c0:1a:00:00:05",
                "10.10.0.253 reset 02:c0:1a:00:00:05", "10.10.0.254 reset 02:c0:1a:00:00:05"});
        row("ack-flood with accept on a change",
            QStringList{"--forge", "ack-flood:2", "--forge", "accept"}, "10.10.0.1", Change,
            "02:c0:1a:00:00:0d",
            QStringList{"10.10.0.253 change 0 10.10.0.77 gw 10.10.0.254",
                        "10.10.0.253 change 1 10.10.0.23 gw 10.10.0.254",
                        "10.10.0.253 change 1 10.10.0.23 gw 10.10.0.254",
                        "10.10.0.254 change 0 10.10.0.77 gw 10.10.0.254"});
    }

    void forgerAnswersFirst()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, local);
        QFETCH(Request, request);
        QFETCH(QString, target);
        QFETCH(QStringList, expected);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        Probe probe(local);
        QVERIFY2(probe.isBound(), qPrintable("cannot bind a socket to " + local));
        const QByteArray macText = target.toLatin1();
        const QString subnet = local.section('.', 0, 2);
        switch (request) {
        case Enquiry: {
            TevNetHostInfo named;
            named.setMacAddress(mac(macText));
            probe.send(ZelNetworkEnqireCmd(0, 0, named));
            break;
        }
        case Change:
            probe.send(ZelChangeNetworkCmd(
                0, 0,
                staticSettings(macText, qPrintable(subnet + ".77"), qPrintable(subnet + ".254"))));
            break;
        case Reset:
            probe.send(ZelResetDeviceCmd(mac(macText)));
            break;
        }
        QCOMPARE(probe.collect(expected.size()), expected);
    }

    // Run by tst_lab_loss0 and tst_lab_loss100 only: the lab's loss rules, each side on its
    // own.
    void loss()
    {
        const QString loss = corlaLabEnv("CORLA_LAB_LOSS");
        if (loss.isEmpty())
            QSKIP("needs a lab made with --loss (tst_lab_loss0, tst_lab_loss100)");
        QCOMPARE(m_sim.startOrWhy({}), QString());
        Probe probe("10.10.0.1");
        QVERIFY(probe.isBound());
        const auto enquireFiveTimes = [&probe](int answers, int timeoutMs) {
            int total = 0;
            for (int i = 0; i < 5; ++i) {
                probe.send(ZelNetworkEnqireCmd(0, 0, TevNetHostInfo()));
                total += probe.collect(answers, timeoutMs, 100).size();
            }
            return total;
        };
        if (loss == "0") {
            // The 15 devices on dev0 answer every time.
            QCOMPARE(enquireFiveTimes(15, 5000), 75);
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

QTEST_GUILESS_MAIN(TstLabLossForge)
#include "tst_lab_lossforge.moc"
