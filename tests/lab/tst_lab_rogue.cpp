// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Discovery beside a rogue sender (corla-sim --rogue-sender): at every enquiry, a second
// socket of the device side sends a header promising 16000 bytes, the largest UDP payload
// of sync bytes, a frame cut before its CRC, change and reset answers nobody asked for and
// a header left hanging, ahead of the devices' answers or between the halves of the first.
// The adapter must still list exactly the default fleet and report nothing else.
#include "adapterrun.h"
#include "corlamainwin.h"
#include "datarow.h"
#include "labguard.h"
#include "modalboxhandler.h"

#include <QtTest>

namespace {

// The default fleet as corla-sim --dump-fleet lists it: the devices on dev0 are heard from
// both addresses of lab0, those on dev1 from lab1's.
const QStringList Dev0Macs = {"02:c0:1a:00:00:01", "02:c0:1a:00:00:02", "02:c0:1a:00:00:03",
                              "02:c0:1a:00:00:04", "02:c0:1a:00:00:05", "02:c0:1a:00:00:06",
                              "02:c0:1a:00:00:07", "02:c0:1a:00:00:0b", "02:c0:1a:00:00:0c",
                              "02:c0:1a:00:00:0d", "02:c0:1a:00:00:0e", "02:c0:1a:00:00:0f",
                              "02:c0:1a:00:00:11", "02:c0:1a:00:00:12", "02:c0:1a:00:00:13"};
const QStringList Dev1Macs = {"02:c0:1a:00:00:08", "02:c0:1a:00:00:09", "02:c0:1a:00:00:0a",
                              "02:c0:1a:00:00:10", "02:c0:1a:00:00:14"};

QStringList sorted(QStringList list)
{
    list.removeDuplicates();
    list.sort();
    return list;
}

} // namespace

class TstLabRogue : public QObject
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

    void adapterHearsOnlyTheFleet_data()
    {
        QTest::addColumn<QStringList>("args");
        row("rogue datagrams first", QStringList{"--rogue-sender"});
        row("rogue datagrams between header and payload", QStringList{"--rogue-sender", "--split"});
        row("rogue datagrams inside a split payload",
            QStringList{"--rogue-sender", "--split-at", "10"});
    }

    void adapterHearsOnlyTheFleet()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        // Quiet sockets close after 3 s: long past the last copy of the enquiry, even on a
        // busy machine.
        AdapterRun run(3000);
        run.adapter.netEnquire(ZelDevice(ZelDeviceType::NoDevice));
        QTRY_COMPARE_WITH_TIMEOUT(run.timeoutsMs.size(), 3, 15000);
        // One rogue volley per copy of the enquiry: eight copies from each local address.
        // (The simulator's lines may still be on their way when the sockets have closed.)
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.output().count("rogue sender: 7 datagrams to "), 24, 5000);

        QStringList macs, missing;
        for (const QString& line : qAsConst(run.found))
            macs << line.section('@', 0, 0);
        QCOMPARE(sorted(macs), sorted(Dev0Macs + Dev1Macs));
        // Every device on every address that faces its segment: nothing the rogue sent may
        // swallow a genuine answer. Answers are not held to their CRC, so the rogue's cut
        // frame may add its device on a further address.
        for (const QString& mac : Dev0Macs)
            missing << mac + "@10.10.0.1 " << mac + "@10.10.1.1 ";
        for (const QString& mac : Dev1Macs)
            missing << mac + "@10.20.0.1 ";
        for (const QString& line : qAsConst(run.found))
            missing.removeAll(line.section(' ', 0, 0) + ' ');
        QCOMPARE(missing, QStringList());
        // The change and reset answers came unasked: none of them counts.
        QCOMPARE(run.events, QStringList());
    }

    // The window and corla-cli list exactly the fleet too; the unasked refusal, acceptance
    // and reset of the first device open no box and leave its row as it answered.
    void windowAndCliListOnlyTheFleet()
    {
        QCOMPARE(m_sim.startOrWhy({"--rogue-sender"}), QString());
        QStringList boxes;
        ModalBoxHandler<QMessageBox> handler([&boxes](QMessageBox* box) {
            boxes << box->windowTitle();
            box->accept();
        });
        ZelCorlaAdapter adapter;
        ZelConnectionChecker checker;
        MainWindow window(&adapter, &checker);
        QTRY_COMPARE_WITH_TIMEOUT(window.model().numDevices(), 20, 10000);
        QTest::qWait(1000);
        QStringList listed;
        for (const auto& device : window.model().deviceList())
            listed << QString::fromStdString(device->netHostInfo().macAddress().toString());
        QCOMPARE(sorted(listed), sorted(Dev0Macs + Dev1Macs));
        TevMacAddr first;
        QVERIFY(TevMacAddr::parse("02:c0:1a:00:00:01", &first));
        QCOMPARE(window.model().device(first)->netHostInfo().ipAddress().toString(),
                 std::string("10.10.0.11"));
        QCOMPARE(boxes, QStringList());

        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN), {"discover", "--format", "csv", "--wait", "1500"});
        QVERIFY(cli.waitForFinished(30000));
        QStringList macs;
        for (const QString& line : QString::fromUtf8(cli.readAllStandardOutput()).split('\n'))
            if (line.startsWith(QLatin1Char('1')))
                macs << line.section(',', 7, 7);
        QCOMPARE(sorted(macs), sorted(Dev0Macs + Dev1Macs));
    }
};

QTEST_MAIN(TstLabRogue)
#include "tst_lab_rogue.moc"
