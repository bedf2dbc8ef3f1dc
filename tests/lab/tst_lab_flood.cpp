// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Discovery under a flood of datagrams to the adapter's own sockets: big junk and frames
// that name no device, from the host side itself. The event loop must keep its time (a
// timer of 100 ms never waits more than 500 ms) and the default fleet is listed whole.
#include "tests/support/adapterrun.h"
#include "tests/support/labguard.h"
#include "tools/corla-sim/simfleet.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace corla;

namespace {

// Where each socket of the request listens, as its enquiry frame names it (the response
// port follows type, serial and MAC in the payload).
struct Target
{
    QHostAddress address;
    quint16 port = 0;
};

// Sends to the targets in turn, alternating 65000 bytes of junk with an enquiry answer of
// zeros (MAC 00:00:00:00:00:00), for `maxMs` or `maxDatagrams`.
int flood(const std::vector<Target>& targets, qint64 maxMs, int maxDatagrams)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    const std::vector<char> junk(65000, '\x11');
    std::vector<uint8_t> zeros(26, 0);
    const std::vector<uint8_t> noDevice =
        encodeFrame(MessageCode::NetworkEnquiry, zeros.data(), zeros.size());
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    for (int i = 0; i < maxDatagrams && clock.elapsed() < maxMs; ++i) {
        const Target& t = targets[size_t(i) % targets.size()];
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(t.port);
        to.sin_addr.s_addr = htonl(t.address.toIPv4Address());
        const bool big = i % 2 == 0;
        const ssize_t n = ::sendto(
            fd, big ? junk.data() : reinterpret_cast<const char*>(noDevice.data()),
            big ? junk.size() : noDevice.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (n > 0)
            ++sent;
    }
    ::close(fd);
    return sent;
}

} // namespace

class TstLabFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        // Every flooded frame is dropped with a debug line.
        QLoggingCategory::setFilterRules(QStringLiteral("corla.discovery.debug=false"));
    }

    void floodKeepsTheClock()
    {
        AdapterRun run(1000);
        std::vector<Target> targets;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&targets](const QByteArray& frame, const QHostAddress& from) {
                    const auto port =
                        quint16(quint8(frame.at(13)) | (quint16(quint8(frame.at(14))) << 8));
                    for (const Target& t : targets) {
                        if (t.address == from)
                            return;
                    }
                    targets.push_back({from, port});
                });
        QSet<QString> macs;
        connect(
            &run.adapter, &DiscoveryClient::deviceFound, this,
            [&macs](std::shared_ptr<Device> d) { macs << text(d->netHostInfo().macAddress()); });

        QElapsedTimer clock;
        clock.start();
        qint64 lastTick = 0, longestGap = 0;
        QTimer ticks;
        ticks.setInterval(100);
        connect(&ticks, &QTimer::timeout, this, [&] {
            longestGap = qMax(longestGap, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        ticks.start();

        QVERIFY(run.adapter.netEnquire(Device(DeviceType::NoDevice)) != 0);
        QCOMPARE(int(targets.size()), 3);
        std::atomic<bool> done{false};
        int sent = 0;
        // As corla-cli discover --wait 3000 would: the answers of 3 s, flooded throughout.
        std::thread flooder([&] {
            sent = flood(targets, 3000, 200000);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        flooder.join();
        QVERIFY(QSignalSpy(&ticks, &QTimer::timeout).wait()); // the tick after the last measured

        qInfo("%d datagrams flooded; longest tick gap %lld ms", sent, longestGap);
        QVERIFY2(sent > 1000, qPrintable(QStringLiteral("only %1 datagrams flooded").arg(sent)));
        QVERIFY2(
            longestGap <= 500,
            qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(longestGap)));
        QStringList fleet;
        for (const SimDevice& d : defaultFleet())
            fleet << text(d.net.macAddress());
        fleet.sort();
        QStringList listed = macs.values();
        listed.sort();
        QCOMPARE(listed.size(), 20);
        QCOMPARE(listed, fleet);
    }
};

QTEST_GUILESS_MAIN(TstLabFlood)
#include "tst_lab_flood.moc"
