// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The discovery adapter on real sockets: the lab's host side with two interfaces (one of
// them with two addresses) against simulators on the device side, started per case. The
// simulator's fault switches and refusal codes are checked here, through the adapter.
#include "adapterrun.h"
#include "labguard.h"
#include "simfleet.h"

#include <QFile>
#include <QtTest>

#include <algorithm>
#include <iterator>

namespace {

using Run = AdapterRun;

// Every enquiry goes out several times from each socket, and every copy is answered.
constexpr int kCopies = int(std::size(ZelCorlaAdapter::kEnquiryRepeatsMs));

// What an enquiry to `fleet` should bring: every device once per copy of the enquiry and
// host address on its segment (lab0 with two addresses faces dev0, lab1 faces dev1).
QStringList expectedAnswers(const SimFleet& fleet, int copies = kCopies, bool withoutDns = false)
{
    QStringList lines;
    for (SimDevice d : fleet) {
        if (withoutDns)
            d.net.setDns(TevIpAddr());
        for (const char* local : d.iface == "dev1" ? QList<const char*>{"10.20.0.1"}
                                                   : QList<const char*>{"10.10.0.1", "10.10.1.1"}) {
            for (int i = 0; i < copies; ++i)
                lines << record(TevDevice(d.serial, ZelDeviceType(d.type), d.net), local);
        }
    }
    lines.sort();
    return lines;
}

SimDevice bySerial(const SimFleet& fleet, uint16_t serial)
{
    return *std::find_if(fleet.begin(), fleet.end(),
                         [serial](const SimDevice& d) { return d.serial == serial; });
}

// On the single-address segment (dev1): device 3001 + code refuses every change with code.
SimFleet refusalFleet()
{
    SimFleet fleet;
    for (int code : {-1, 1, 6, 9}) {
        const TevMacAddr mac({0x02, 0xc0, 0x1a, 0, 1, uint8_t(code + 1)});
        fleet.append({5, uint16_t(3001 + code),
                      TevNetHostInfo(TevIpAddr(0x0A14001Fu + code), TevIpAddr(0xFFFFFF00u), {}, {},
                                     mac, TevAddressModeManual),
                      true, false, int16_t(code), -1, "dev1"});
    }
    return fleet;
}

// One change request, sent from the one-address segment only, so that it is heard once;
// returns when its socket has closed.
void changeFromOneSegment(Run& run, const SimDevice& device, const TevNetHostInfo& wanted)
{
    run.adapter.setInterfaceFilter({"lab1"});
    run.adapter.changeNetSettings(device.serial, ZelDeviceType(device.type), wanted);
    QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 1, 5000);
}

ZelDevice named(const TevMacAddr& mac)
{
    return ZelDevice(0, ZelDeviceType::NoDevice, TevNetHostInfo({}, {}, {}, {}, mac, {}));
}

const ZelDevice everyone(ZelDeviceType::NoDevice);

} // namespace

class TstLabAdapter : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;
    const SimFleet m_fleet = defaultFleet();
    const QString m_refusals = corlaLabEnv("CORLA_LAB_TMP") + "/refusals.json";

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(corlaLabList("CORLA_LAB_HOST_ADDRS"),
                 QStringList({"10.10.0.1", "10.10.1.1", "10.20.0.1"}));
        QFile refusals(m_refusals);
        QVERIFY(refusals.open(QIODevice::WriteOnly) && refusals.write(fleetToJson(refusalFleet())));
    }

    // The default fleet, plain and with each fault switch of the simulator.
    void discovery_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no fault") << QStringList();
        QTest::newRow("every answer twice") << QStringList{"--duplicate"};
        QTest::newRow("stray bytes before frames") << QStringList{"--stray-bytes"};
        QTest::newRow("split inside the header") << QStringList{"--split-at", "3"};
        QTest::newRow("split inside the payload") << QStringList{"--split-at", "17"};
        QTest::newRow("several frames per datagram") << QStringList{"--frames-per-datagram", "4"};
        QTest::newRow("unknown codes between answers") << QStringList{"--unknown-code", "0x41"};
        QTest::newRow("short answers without DNS") << QStringList{"--short-answers"};
        // Each socket's countdown starts again with its answers.
        QTest::newRow("answers after 1 s") << QStringList{"--delay", "1000"};
    }

    void discovery()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        // Quiet sockets close after 3 s: long past the last copy of the enquiry and its
        // answers, even on a busy machine.
        Run run(3000);
        QStringList from;
        connect(&run.adapter, &ZelCorlaAdapter::requestSent, this,
                [&from](const QByteArray& frame, const QHostAddress& local) {
                    // An enquiry for everyone: type, serial and MAC zero, then the port.
                    if (frame.toHex().startsWith("2a570b00" + QByteArray(18, '0')))
                        from << local.toString();
                });
        run.adapter.netEnquire(everyone);
        // One request per local address.
        from.sort();
        QCOMPARE(from, corlaLabList("CORLA_LAB_HOST_ADDRS"));

        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 10000);
        // Every device on every address that faces it, and nothing else. Each copy of the
        // enquiry is answered, but on a busy machine a split answer that arrives just as the
        // next copy goes out is dropped (the copy's own answer replaces it): so at most, not
        // exactly, one answer per copy.
        QStringList distinct = run.found;
        distinct.removeDuplicates();
        QCOMPARE(distinct, expectedAnswers(m_fleet, 1, args.contains("--short-answers")));
        const int most = kCopies * (args.contains("--duplicate") ? 2 : 1);
        for (const QString& answer : qAsConst(distinct))
            QVERIFY2(run.found.count(answer) <= most, qPrintable(answer));
        QCOMPARE(run.events, QStringList());
        // Answers restart their socket's countdown: none closes before the last answer.
        for (qint64 at : qAsConst(run.timeoutsMs))
            QVERIFY2(at > run.lastFoundMs, qPrintable(QString::number(at)));
        QTest::qWait(300);
        QCOMPARE(run.timeoutsMs.size(), 3);
    }

    void enquiryForOneDevice()
    {
        QCOMPARE(m_sim.startOrWhy({}), QString());
        // On the two-address segment, on the one-address segment, without an address.
        for (uint16_t serial : {1005, 1016, 1012}) {
            const SimDevice& wanted = bySerial(m_fleet, serial);
            // Longer than the widest gap between two copies, which the answers must bridge.
            Run run(1500);
            run.adapter.netEnquire(named(wanted.net.macAddress()));
            QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 5000);
            QCOMPARE(run.found, expectedAnswers({wanted}));
        }
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
        connect(&run.adapter, &ZelCorlaAdapter::requestSent, this,
                [&](const QByteArray&, const QHostAddress& local) {
                    sentAt[local.toString()] << run.clock.elapsed();
                });
        QVERIFY(run.adapter.netEnquire(everyone) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 10000);
        // Past the time the last copy would have been due.
        const qint64 last = ZelCorlaAdapter::kEnquiryRepeatsMs[kCopies - 1];
        QTest::qWait(int(qMax<qint64>(100, last + 300 - run.clock.elapsed())));

        QStringList addresses = sentAt.keys();
        addresses.sort();
        QCOMPARE(addresses, corlaLabList("CORLA_LAB_HOST_ADDRS"));
        for (const QString& address : qAsConst(addresses)) {
            const QList<qint64>& at = sentAt[address];
            QVERIFY2(at.size() == copies, qPrintable(address + ": " + QString::number(at.size())));
            // Spread out, never in a burst (coarse timers may fire 5 % early).
            for (int i = 1; i < copies; ++i)
                QVERIFY2(at[i] - at[0] >= ZelCorlaAdapter::kEnquiryRepeatsMs[i] * 9 / 10,
                         qPrintable(QStringLiteral("%1: copy %2 after %3 ms")
                                        .arg(address)
                                        .arg(i + 1)
                                        .arg(at[i] - at[0])));
        }
    }

    void changeRefused_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("-1 device error") << -1 << "An error occured in the device.";
        QTest::newRow("1 address") << 1 << "The IP address was invalid.";
        QTest::newRow("6 mode, the last known") << 6 << "The address acquisition mode was invalid.";
        QTest::newRow("9 without a known reason") << 9 << "";
    }

    void changeRefused()
    {
        QFETCH(int, code);
        QFETCH(QString, reason);
        QCOMPARE(m_sim.startOrWhy({"--fleet", m_refusals}), QString());
        const SimDevice& target = bySerial(refusalFleet(), uint16_t(3001 + code));
        TevNetHostInfo wanted = target.net;
        wanted.setIpAddress(TevIpAddr("10.20.0.9"));
        Run run(800);
        changeFromOneSegment(run, target, wanted);
        QCOMPARE(run.events, QStringList{"error The network configuration was rejected by " +
                                         deviceName(target) + ".\n\nReason: " + reason});
    }
};

QTEST_GUILESS_MAIN(TstLabAdapter)
#include "tst_lab_adapter.moc"
