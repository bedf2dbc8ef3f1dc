// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The adapter's receive step, fed datagrams as a socket delivers them (real sockets: lab).
#include "core/discovery/discoveryclient.h"
#include "tests/support/datarow.h"
#include "tests/support/debugcapture.h"
#include "tests/support/labguard.h"
#include "tests/support/testdevice.h"

#include <QtTest>

#include "tests/support/settle.h"
#include "tests/wire/protocoltestutil.h"

#include <vector>

using namespace corla;

namespace {

const NetworkSettings kSettings(Ipv4Address("192.168.1.10"), Ipv4Address("255.255.255.0"),
                                Ipv4Address("192.168.1.1"), Ipv4Address("192.168.1.2"),
                                MacAddress({0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00}),
                                AddressModeStatic);
const MacAddress kOtherMac({0x01, 0x02, 0x03, 0x04, 0x05, 0x06});

// Answers as a device frames them (the encoder's bytes are checked in tst_codec).
QByteArray answer(MessagePayload&& payload)
{
    const std::vector<uint8_t> frame = Frame(&payload).frame(PayloadLayout::Answer);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

// An enquiry answer, or with `error` >= 0 a change answer from device 77.
QByteArray deviceAnswer(uint8_t type, uint16_t serial, int error = -1,
                        const MacAddress& mac = kSettings.macAddress())
{
    NetworkSettings settings = kSettings;
    settings.setMacAddress(mac);
    ChangeMessage change(5, 77, settings);
    change.setError(int16_t(error));
    return error < 0 ? answer(EnquiryMessage(type, serial, settings)) : answer(std::move(change));
}

QByteArray resetAnswer()
{
    return answer(ResetMessage(macOf("00:1a:2b:3c:4d:5e")));
}

// What the adapter reported, one line per signal, in order.
class Adapter : public DiscoveryClient
{
public:
    Adapter()
    {
        connect(this, &DiscoveryClient::deviceFound, [this](std::shared_ptr<Device> d) {
            found.push_back(d);
            reports << QStringLiteral("found %1").arg(d->serial());
        });
        connect(this, &DiscoveryClient::deviceChanged, [this](std::shared_ptr<Device> d) {
            reports << QStringLiteral("changed %1").arg(d->serial());
        });
        connect(this, &DiscoveryClient::deviceReset, [this](const MacAddress& mac) {
            reports << QStringLiteral("reset ") + QString::fromStdString(mac.toString());
        });
        connect(this, &DiscoveryClient::error, [this](const QString&) { reports << "error"; });
        connect(this, &DiscoveryClient::changeAnswered,
                [this](quint64 request, std::shared_ptr<Device> d, int16_t code) {
                    reports << QStringLiteral("change #%1 code %2 from %3:%4 ip %5")
                                   .arg(request)
                                   .arg(code)
                                   .arg(text(d->answeredFrom()))
                                   .arg(d->answeredFromPort())
                                   .arg(text(d->netHostInfo().ipAddress()));
                });
        connect(this, &DiscoveryClient::resetAnswered,
                [this](quint64 request, const MacAddress& mac) {
                    reports << QStringLiteral("reset #%1 ").arg(request) + text(mac);
                });
    }
    using DiscoveryClient::closeChannel;
    using DiscoveryClient::openChannel;
    using DiscoveryClient::openRequest;
    // Feeds a datagram and lets the event loop deliver what it completed.
    void feed(const QByteArray& datagram, uint32_t iface = 0, quint64 channel = 0,
              quint16 senderPort = 62726)
    {
        DatagramOrigin origin;
        origin.channel = channel;
        origin.sender = Ipv4Address("10.10.0.254").toInt();
        origin.senderPort = senderPort;
        origin.ifaceAddr = iface;
        processDatagram(reinterpret_cast<const uint8_t*>(datagram.constData()),
                        uint64_t(datagram.size()), origin);
        // Batches go on in slices; a receiver may destroy the adapter on the way.
        const QPointer<Adapter> alive(this);
        for (int slice = 0; slice < 1000 && alive; ++slice)
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    std::vector<std::shared_ptr<Device>> found;
    QStringList reports;
};

struct Sent
{
    quint16 port;
    QByteArray datagram;
};

// A datagram heard `times` over on the request's first channel (0) or its second (1).
struct Heard
{
    int channel;
    QByteArray datagram;
    int times = 1;
};

} // namespace

Q_DECLARE_METATYPE(QList<Sent>)
Q_DECLARE_METATYPE(QList<Heard>)

class TstDiscoveryClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CORLA_REQUIRE_PRIVATE_NETNS(); }
    // The record carries what the answer says, and where and on which local address it came.
    void enquiryAnswerBecomesARecord()
    {
        Adapter adapter;
        adapter.feed(deviceAnswer(16, 4321), Ipv4Address("10.10.1.1").toInt());
        QCOMPARE(adapter.found.size(), size_t(1));
        const Device& d = *adapter.found.front();
        QVERIFY(d.netHostInfo() == kSettings);
        QCOMPARE(QStringLiteral("type %1 serial %2 via %3 from %4:%5")
                     .arg(int(d.devType()))
                     .arg(d.serial())
                     .arg(text(d.commsIfaceAddr()), text(d.answeredFrom()))
                     .arg(d.answeredFromPort()),
                 "type 16 serial 4321 via 10.10.1.1 from 10.10.0.254:62726");
    }

    // An enquiry answer without its gateway field or MAC is dropped, not listed with zeros.
    void answersThatNameNoDevice_data()
    {
        QTest::addColumn<int>("payloadBytes"); // of the 26-byte answer
        columns<bool, QString>({"zeroMac", "outcome"});
        const QString tooShort =
            "Dropped an enquiry answer too short to name a device: %1 bytes from 10.10.0.254 : "
            "62726";
        row("whole answer", 26, false, "found 4321 dns 192.168.1.2");
        row("without the DNS field", 22, false, "found 4321 dns 0.0.0.0");
        row("gateway cut short", 21, false, tooShort.arg(21));
        row("a bare header", 0, false, tooShort.arg(0));
        row("MAC 00:00:00:00:00:00", 26, true,
            "Dropped an enquiry answer without a MAC address from 10.10.0.254 : 62726");
    }

    void answersThatNameNoDevice()
    {
        QFETCH(int, payloadBytes);
        QFETCH(bool, zeroMac);
        QFETCH(QString, outcome);
        const QByteArray whole =
            deviceAnswer(5, 4321, -1, zeroMac ? MacAddress() : kSettings.macAddress()).mid(4, 26);
        const auto* payload = reinterpret_cast<const uint8_t*>(whole.constData());
        const std::vector<uint8_t> cut =
            encodeFrame(MessageCode::NetworkEnquiry, payload, size_t(payloadBytes));
        Adapter adapter;
        DebugCapture capture;
        adapter.feed(QByteArray(reinterpret_cast<const char*>(cut.data()), int(cut.size())));
        QStringList seen = capture.messages().filter("Dropped");
        for (const auto& d : adapter.found)
            seen << QStringLiteral("found %1 dns ").arg(d->serial()) + text(d->netHostInfo().dns());
        QCOMPARE(seen, QStringList{outcome});
    }

    void datagramShapes_data()
    {
        // 32-byte answers: 500 nearly fill the 16384-byte receive buffer, 1200 overflow it.
        columns<QList<QByteArray>, QList<int>>({"datagrams", "foundAfterEach"});
        const QByteArray a = deviceAnswer(5, 1);
        QTest::newRow("empty datagram") << QList<QByteArray>{QByteArray(), a} << QList<int>{0, 1};
        QTest::newRow("datagrams whose sum exceeds the buffer")
            << QList<QByteArray>{a.repeated(500), a.repeated(500)} << QList<int>{500, 1000};
        QTest::newRow("one datagram larger than the buffer")
            << QList<QByteArray>{a.repeated(1200)} << QList<int>{1200};
    }

    void datagramShapes()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QList<int>, foundAfterEach);
        Adapter adapter;
        for (int i = 0; i < datagrams.size(); ++i) {
            adapter.feed(datagrams[i]);
            QCOMPARE(int(adapter.found.size()), foundAfterEach[i]);
        }
    }

    // A change or reset settles on its device's first answer; an enquiry hears all.
    void answersCountOnlyForTheirRequest_data()
    {
        QTest::addColumn<int>("asked"); // enquiry, change or reset
        columns<bool, bool, QList<Heard>, QStringList>(
            {"otherDevice", "channelClosed", "answers", "expected"});
        const int W = 0, X = 1, Y = 2;
        const QByteArray refused = deviceAnswer(5, 77, 4), accepted = deviceAnswer(5, 77, 0),
                         reset = resetAnswer();
        const QStringList none,
            wasRefused{"change #1 code 4 from 10.10.0.254:62726 ip 192.168.1.10", "error"},
            wasAccepted{"change #1 code 0 from 10.10.0.254:62726 ip 192.168.1.10", "changed 77"},
            wasReset{"reset #1 00:1a:2b:3c:4d:5e", "reset 00:1a:2b:3c:4d:5e"};
        const auto once = [](const QByteArray& a) { return QList<Heard>{{0, a}}; };
        row("accepted, then refused", X, false, false, QList<Heard>{{0, accepted}, {0, refused}},
            wasAccepted + QStringList{"1 further dropped"});
        row("10000 repeats of the refusal on both channels", X, false, false,
            QList<Heard>{{0, refused, 10000}, {1, refused, 10000}},
            wasRefused + QStringList{"19999 further dropped"});
        row("10000 repeats of the reset answer on both channels", Y, false, false,
            QList<Heard>{{1, reset, 10000}, {0, reset, 10000}},
            wasReset + QStringList{"19999 further dropped"});
        row("another device's refusal settles nothing", X, false, false,
            QList<Heard>{{0, deviceAnswer(5, 77, 4, kOtherMac)}, {1, accepted}}, wasAccepted);
        row("a reset answer settles no change", X, false, false,
            QList<Heard>{{0, reset}, {0, accepted}}, wasAccepted);
        row("change and reset answers on an enquiry", W, false, false,
            QList<Heard>{{0, refused}, {0, accepted}, {1, reset}}, none);
        row("refusal for another device's change", X, true, false, once(refused), none);
        row("acceptance after a reset", Y, false, false, once(accepted), none);
        row("refusal after the request's socket went", X, false, true, once(refused), none);
        row("enquiry answers on a change, each heard", X, false, false,
            QList<Heard>{{0, deviceAnswer(5, 9)}, {1, deviceAnswer(5, 9)}},
            QStringList{"found 9", "found 9"});
    }

    void answersCountOnlyForTheirRequest()
    {
        QFETCH(int, asked);
        QFETCH(bool, otherDevice);
        QFETCH(bool, channelClosed);
        QFETCH(QList<Heard>, answers);
        QFETCH(QStringList, expected);
        NetworkSettings info;
        info.setMacAddress(otherDevice ? kOtherMac : kSettings.macAddress());
        const EnquiryMessage enquiry(0, 0, NetworkSettings());
        const ChangeMessage change(5, 77, info);
        const ResetMessage reset(info.macAddress());
        const MessagePayload* const requests[] = {&enquiry, &change, &reset};
        Adapter adapter;
        const quint64 request = adapter.openRequest(*requests[asked]);
        const quint64 channels[] = {adapter.openChannel(request), adapter.openChannel(request)};
        for (const quint64 channel : channels)
            if (channelClosed)
                adapter.closeChannel(channel);
        DebugCapture capture;
        for (const Heard& h : answers)
            adapter.feed(h.datagram.repeated(h.times), 0, channels[h.channel]);
        const int dropped =
            capture.messages().filter("Dropped a further answer to a settled request").size();
        if (dropped > 0)
            adapter.reports << QStringLiteral("%1 further dropped").arg(dropped);
        QCOMPARE(adapter.reports, expected);
    }

    void sendersDoNotMix_data()
    {
        // Each datagram from the device port 62726 or another port of the same host.
        columns<QList<Sent>, QStringList>({"datagrams", "expected"});
        const QByteArray a = deviceAnswer(5, 1), b = deviceAnswer(5, 2);
        const quint16 dev = 62726, other = 40000;
        const QStringList both{"found 1", "found 2"};
        const QByteArray promises16000 = QByteArray::fromHex("2a57803e");
        row("a header announcing 16000 bytes",
            QList<Sent>{{other, promises16000}, {dev, a}, {dev, b}}, both);
        row("65507 sync bytes", QList<Sent>{{other, QByteArray(65507, '\x2a')}, {dev, a + b}},
            both);
        row("a frame cut before its CRC, then more of that sender",
            QList<Sent>{{other, a.left(a.size() - 2)}, {dev, a}, {other, b}, {dev, b}},
            QStringList{"found 1", "found 1", "found 2", "found 2"});
        row("halves of one answer with another sender between them",
            QList<Sent>{{dev, a.left(10)},
                        {other, promises16000},
                        {other, b.left(3)},
                        {dev, a.mid(10)},
                        {other, b.mid(3)}},
            both);
        row("a header split between two senders",
            QList<Sent>{{other, QByteArray::fromHex("2a57")}, {dev, a}}, QStringList{"found 1"});
    }

    void sendersDoNotMix()
    {
        QFETCH(QList<Sent>, datagrams);
        QFETCH(QStringList, expected);
        Adapter adapter;
        const quint64 channel =
            adapter.openChannel(adapter.openRequest(EnquiryMessage(0, 0, NetworkSettings())));
        for (const Sent& d : datagrams)
            adapter.feed(d.datagram, 0, channel, d.port);
        QCOMPARE(adapter.reports, expected);
    }

    void receiverMayDestroyTheAdapter()
    {
        // Answers still waiting must not be delivered by an adapter a modal receiver deleted.
        auto* adapter = new Adapter;
        QPointer<Adapter> guard(adapter);
        int found = 0;
        connect(adapter, &DiscoveryClient::deviceFound, this, [&found, adapter] {
            ++found;
            QEventLoop modal;
            QTimer::singleShot(0, &modal, [adapter] { delete adapter; });
            QTimer::singleShot(20, &modal, &QEventLoop::quit);
            modal.exec();
        });
        adapter->feed(deviceAnswer(5, 1) + deviceAnswer(5, 2) + deviceAnswer(5, 3));
        settle();
        QVERIFY(guard.isNull());
        QCOMPARE(found, 1);
    }

    void withoutUsableInterfaceNothingIsSent()
    {
        // Loopback only: no request is opened (id 0), so nothing can time out.
        DiscoveryClient adapter;
        QSignalSpy timeouts(&adapter, &DiscoveryClient::timeout);
        DebugCapture capture;
        QVERIFY(adapter.localAddresses().isEmpty());
        QCOMPARE(adapter.netEnquire(Device(DeviceType::NoDevice)), quint64(0));
        QCOMPARE(adapter.resetDevice(kSettings.macAddress()), quint64(0));
        settle();
        QCOMPARE(timeouts.count(), 0);
        QCOMPARE(capture.messages(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstDiscoveryClient)
#include "tst_discoveryclient.moc"
