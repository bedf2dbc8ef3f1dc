// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The discovery adapter on real sockets against a simulator: faults, rogue senders, floods.
#include "tests/support/adapterrun.h"
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tools/corla-sim/simfleet.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <iterator>
#include <vector>

using namespace corla;

namespace {

// Every enquiry goes out several times from each socket, and every copy is answered.
constexpr int kCopies = int(std::size(DiscoveryClient::kEnquiryRepeatsMs));

// What an enquiry to `fleet` brings: each device once per host address facing it.
QStringList expectedAnswers(const SimFleet& fleet)
{
    QStringList lines;
    for (const SimDevice& d : fleet)
        for (const QString& local :
             d.iface == "dev1" ? QStringList{"10.20.0.1"} : QStringList{"10.10.0.1", "10.10.1.1"})
            lines << record(Device(d.serial, DeviceType(d.type), d.net), local);
    lines.sort();
    return lines;
}

const Device everyone(DeviceType::NoDevice);

// Where each socket of the request listens: the response port follows type, serial and MAC.
using Target = std::pair<QHostAddress, quint16>;

// Alternates 65000-byte junk and zero-MAC answers to the targets, for `maxMs` or `maxDatagrams`.
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
        to.sin_port = htons(t.second);
        to.sin_addr.s_addr = htonl(t.first.toIPv4Address());
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

class TstLabAdapter : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;
    const SimFleet m_fleet = defaultFleet();

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(corlaLabList("CORLA_LAB_HOST_ADDRS"),
                 QStringList({"10.10.0.1", "10.10.1.1", "10.20.0.1"}));
    }

    // The default fleet, plain and with each fault switch of the simulator.
    void discovery_data()
    {
        QTest::addColumn<QStringList>("args");
        using L = QStringList;
        row("no fault", L());
        row("every answer twice", L{"--duplicate"});
        row("split inside the header", L{"--split-at", "3"});
        row("answers after 1 s", L{"--delay", "1000"}); // each socket's countdown starts again
        row("rogue datagrams first", L{"--rogue-sender"});
        row("rogue datagrams inside a split payload", L{"--rogue-sender", "--split-at", "10"});
    }

    void discovery()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        // Quiet sockets close after 3 s, long past the enquiry's last copy and its answers.
        AdapterRun run(3000);
        QStringList from;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&from](const QByteArray& frame, const QHostAddress& local) {
                    // An enquiry for everyone: type, serial and MAC zero, then the port.
                    if (frame.toHex().startsWith("2a570b00" + QByteArray(18, '0')))
                        from << local.toString();
                });
        run.adapter.netEnquire(everyone);
        from.sort();
        QCOMPARE(from, corlaLabList("CORLA_LAB_HOST_ADDRS"));

        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 15000);
        // Every device on each address facing it, at most (not exactly) one answer per copy.
        QStringList distinct = run.found;
        distinct.removeDuplicates();
        const QStringList expected = expectedAnswers(m_fleet);
        QCOMPARE(run.events, QStringList()); // the rogue's change and reset answers came unasked
        // Answers restart their socket's countdown: none closes before the last answer.
        for (qint64 at : qAsConst(run.timeoutsMs))
            QVERIFY2(at > run.lastFoundMs, qPrintable(QString::number(at)));
        if (!args.contains("--rogue-sender")) {
            QCOMPARE(distinct, expected);
            const int most = kCopies * (args.contains("--duplicate") ? 2 : 1);
            for (const QString& answer : qAsConst(distinct))
                QVERIFY2(run.found.count(answer) <= most, qPrintable(answer));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.output().count("rogue sender: 7 datagrams to "),
                                  3 * kCopies, 5000);
        // Rogue frames swallow no answer; a cut one (CRC unchecked) may add a further address.
        const auto anywhere = [](QStringList lines) {
            return lines.replaceInStrings(QRegularExpression("@\\S*"), "");
        };
        for (const QString& answer : expected)
            QVERIFY2(distinct.contains(answer), qPrintable(answer));
        for (const QString& answer : anywhere(distinct))
            QVERIFY2(anywhere(expected).contains(answer), qPrintable(answer));
    }

    // Each local address sends its copies on schedule, and none after its socket closed.
    void enquiryRepeats_data()
    {
        columns<bool, int, int>({"fleet", "periodMs", "copies"});
        row("answered: every copy", true, 1500, 8);
        row("unanswered, closed after 1 s: the first five", false, 1000, 5);
    }

    void enquiryRepeats()
    {
        QFETCH(bool, fleet);
        QFETCH(int, periodMs);
        QFETCH(int, copies);
        if (fleet)
            QCOMPARE(m_sim.startOrWhy({}), QString());
        else
            QVERIFY(m_sim.stop());
        AdapterRun run(periodMs);
        QHash<QString, QList<qint64>> sentAt;
        int sent = 0;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&](const QByteArray&, const QHostAddress& local) {
                    sentAt[local.toString()] << run.clock.elapsed();
                    ++sent;
                });
        QVERIFY(run.adapter.netEnquire(everyone) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 10000);
        const qint64 last = DiscoveryClient::kEnquiryRepeatsMs[kCopies - 1];
        const int before = sent;
        (void)QTest::qWaitFor([&] { return sent > before; },
                              int(qMax<qint64>(100, last + 300 - run.clock.elapsed())));

        QStringList addresses = sentAt.keys();
        addresses.sort();
        QCOMPARE(addresses, corlaLabList("CORLA_LAB_HOST_ADDRS"));
        for (const QString& address : qAsConst(addresses)) {
            const QList<qint64>& at = sentAt[address];
            QVERIFY2(at.size() == copies, qPrintable(address + ": " + QString::number(at.size())));
            // Spread out, never in a burst (coarse timers may fire 5 % early).
            for (int i = 1; i < copies; ++i)
                QVERIFY2(at[i] - at[0] >= DiscoveryClient::kEnquiryRepeatsMs[i] * 9 / 10,
                         qPrintable(address + " copy " + QString::number(i + 1)));
        }
    }

    // Junk flooded at the adapter's sockets: a 100 ms timer never waits 500 ms; the fleet is whole.
    void floodKeepsTheClock()
    {
        QLoggingCategory::setFilterRules("corla.discovery.debug=false"); // a line per frame
        QCOMPARE(m_sim.startOrWhy({}), QString());
        AdapterRun run(1000);
        std::vector<Target> targets;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&targets](const QByteArray& frame, const QHostAddress& from) {
                    const auto port =
                        quint16(quint8(frame.at(13)) | (quint16(quint8(frame.at(14))) << 8));
                    if (std::none_of(targets.begin(), targets.end(),
                                     [&](const Target& t) { return t.first == from; }))
                        targets.push_back({from, port});
                });

        qint64 lastTick = 0, longestGap = 0;
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] {
            longestGap = qMax(longestGap, run.clock.elapsed() - lastTick);
            lastTick = run.clock.elapsed();
        });
        ticks.start(100);

        QVERIFY(run.adapter.netEnquire(everyone) != 0);
        QCOMPARE(int(targets.size()), 3);
        auto flooding = std::async(std::launch::async, flood, targets, 3000, 200000);
        QTRY_VERIFY_WITH_TIMEOUT(
            flooding.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 20000);
        const int sent = flooding.get();
        QVERIFY(QSignalSpy(&ticks, &QTimer::timeout).wait()); // the tick after the last measured

        qInfo("%d datagrams flooded; longest tick gap %lld ms", sent, longestGap);
        QVERIFY2(sent > 1000, qPrintable(QStringLiteral("only %1 datagrams flooded").arg(sent)));
        QVERIFY2(
            longestGap <= 500,
            qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(longestGap)));
        QStringList fleet;
        for (const SimDevice& d : m_fleet)
            fleet << text(d.net.macAddress());
        fleet.sort();
        QStringList listed = run.found.replaceInStrings(QRegularExpression("@.*"), "");
        listed.removeDuplicates();
        listed.sort();
        QCOMPARE(listed, fleet);
        QCOMPARE(listed.size(), 20);
    }
};

QTEST_GUILESS_MAIN(TstLabAdapter)
#include "tst_lab_adapter.moc"
