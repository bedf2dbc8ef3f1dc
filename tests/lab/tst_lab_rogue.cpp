// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The window and corla-cli beside a rogue sender (corla-sim --rogue-sender): at every
// enquiry, a second socket of the device side sends junk, a frame cut before its CRC, and a
// change refusal, a change acceptance and a reset for the first device that nobody asked for.
// Both list exactly the default fleet; the window opens no box and keeps the row as the
// device answered. (The adapter itself is checked beside the rogue in tst_lab_adapter.)
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "ui/mainwindow.h"

#include <QtTest>

using namespace corla;

class TstLabRogue : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(m_sim.startOrWhy({"--rogue-sender"}), QString());
    }

    void cleanupTestCase() { QVERIFY2(m_sim.stop(), qPrintable(m_sim.output())); }

    void windowListsOnlyTheFleet()
    {
        QStringList boxes;
        ModalBoxHandler<QMessageBox> handler([&boxes](QMessageBox* box) {
            boxes << box->windowTitle();
            box->accept();
        });
        DiscoveryClient adapter;
        PortProbeScheduler checker;
        MainWindow window(&adapter, &checker);
        QTRY_COMPARE_WITH_TIMEOUT(window.model().numDevices(), 20, 10000);
        // Every copy of the window's enquiry from each of the three local addresses has
        // brought its volley.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.output().count("rogue sender: 7 datagrams to ") >= 24,
                                 10000);
        QCOMPARE(window.model().numDevices(), 20);
        MacAddress first;
        QVERIFY(MacAddress::parse("02:c0:1a:00:00:01", &first));
        QCOMPARE(window.model().device(first)->netHostInfo().ipAddress().toString(),
                 std::string("10.10.0.11"));
        QCOMPARE(boxes, QStringList());
    }

    void cliListsOnlyTheFleet()
    {
        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN), {"discover", "--format", "csv", "--wait", "1500"});
        QVERIFY(cli.waitForFinished(30000));
        QStringList macs;
        const QString csv = QString::fromUtf8(cli.readAllStandardOutput());
        for (const QString& line : csv.split('\n', Qt::SkipEmptyParts).mid(1))
            macs << line.section(',', 7, 7);
        QCOMPARE(macs.removeDuplicates(), 0);
        QCOMPARE(macs.size(), 20);
    }
};

QTEST_MAIN(TstLabRogue)
#include "tst_lab_rogue.moc"
