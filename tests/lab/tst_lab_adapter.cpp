// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The discovery adapter on real sockets: the lab's host side with two interfaces (one of
// them with two addresses) against simulators on the device side, started per case, with
// each of the simulator's fault switches and beside a rogue sender (corla-sim
// --rogue-sender: junk, cut frames and answers nobody asked for).
#include "tests/support/adapterrun.h"
#include "tests/support/labguard.h"
#include "tools/corla-sim/simfleet.h"

#include <QtTest>

#include <iterator>

using namespace corla;

namespace {

using Run = AdapterRun;

// Every enquiry goes out several times from each socket, and every copy is answered.
constexpr int kCopies = int(std::size(DiscoveryClient::kEnquiryRepeatsMs));

// What an enquiry to `fleet` should bring: every device once per host address on its segment
// (lab0 with two addresses faces dev0, lab1 faces dev1).
QStringList expectedAnswers(const SimFleet& fleet)
{
    QStringList lines;
    for (const SimDevice& d : fleet) {
        for (const char* local : d.iface == "dev1" ? QList<const char*>{"10.20.0.1"}
                                                   : QList<const char*>{"10.10.0.1", "10.10.1.1"}) {
            lines << record(Device(d.serial, DeviceType(d.type), d.net), local);
        }
    }
    lines.sort();
    return lines;
}

const Device everyone(DeviceType::NoDevice);

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
        QTest::newRow("no fault") << QStringList();
        QTest::newRow("every answer twice") << QStringList{"--duplicate"};
        QTest::newRow("split inside the header") << QStringList{"--split-at", "3"};
        // Each socket's countdown starts again with its answers.
        QTest::newRow("answers after 1 s") << QStringList{"--delay", "1000"};
        QTest::newRow("rogue datagrams first") << QStringList{"--rogue-sender"};
        QTest::newRow("rogue datagrams inside a split payload")
            << QStringList{"--rogue-sender", "--split-at", "10"};
    }

    void discovery()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        // Quiet sockets close after 3 s: long past the last copy of the enquiry and its
        // answers, even on a busy machine.
        Run run(3000);
        QStringList from;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&from](const QByteArray& frame, const QHostAddress& local) {
                    // An enquiry for everyone: type, serial and MAC zero, then the port.
                    if (frame.toHex().startsWith("2a570b00" + QByteArray(18, '0')))
                        from << local.toString();
                });
        run.adapter.netEnquire(everyone);
        // One request per local address.
        from.sort();
        QCOMPARE(from, corlaLabList("CORLA_LAB_HOST_ADDRS"));

        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 15000);
        // Every device on every address that faces it, and nothing else. Each copy of the
        // enquiry is answered, but on a busy machine a split answer that arrives just as the
        // next copy goes out is dropped (the copy's own answer replaces it): so at most, not
        // exactly, one answer per copy.
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
        // One rogue volley per copy of the enquiry from each local address (the simulator's
        // lines may still be on their way).
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.output().count("rogue sender: 7 datagrams to "),
                                  3 * kCopies, 5000);
        // Nothing the rogue sent swallows a genuine answer. Answers are not held to their
        // CRC, so the rogue's cut frame may add its device on a further local address.
        const auto anywhere = [](QStringList lines) {
            return lines.replaceInStrings(QRegularExpression("@\\S*"), "");
        };
        for (const QString& answer : expected)
            QVERIFY2(distinct.contains(answer), qPrintable(answer));
        for (const QString& answer : anywhere(distinct))
            QVERIFY2(anywhere(expected).contains(answer), qPrintable(answer));
    }

    // Each local address sends its copies of an enquiry on the schedule, and no more once
    // its socket has closed: after the last copy, or earlier when nothing answers it
    // within the socket's period.
    void enquiryRepeats_data()
    {
        QTest::addColumn<bool>("fleet");
        QTest::addColumn<int>("periodMs");
        QTest::addColumn<int>("copies");
        QTest::newRow("answered: every copy") << true << 1500 << 8;
        QTest::newRow("unanswered, closed after 1 s: the first five") << false << 1000 << 5;
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
        Run run(periodMs);
        QHash<QString, QList<qint64>> sentAt;
        connect(&run.adapter, &DiscoveryClient::requestSent, this,
                [&](const QByteArray&, const QHostAddress& local) {
                    sentAt[local.toString()] << run.clock.elapsed();
                });
        QVERIFY(run.adapter.netEnquire(everyone) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 10000);
        // Nothing more goes out, up to past the time the last copy would have been due.
        const qint64 last = DiscoveryClient::kEnquiryRepeatsMs[kCopies - 1];
        const auto sent = [&sentAt] {
            int n = 0;
            for (const QList<qint64>& at : qAsConst(sentAt))
                n += at.size();
            return n;
        };
        const int before = sent();
        (void)QTest::qWaitFor([&] { return sent() > before; },
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
                         qPrintable(QStringLiteral("%1: copy %2 after %3 ms")
                                        .arg(address)
                                        .arg(i + 1)
                                        .arg(at[i] - at[0])));
        }
    }
};

QTEST_GUILESS_MAIN(TstLabAdapter)
#include "tst_lab_adapter.moc"
