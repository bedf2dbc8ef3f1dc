// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// A fleet of 3000 devices with port 21 open, each answering from every local address,
// as a desktop with the usual descriptor limit sees it: the window colours every row
// green and corla-cli reports every device Reachable, with a high limit and with a
// soft and hard limit of 1024. A shortage of sockets must never read as a verdict.
#include "corlamainwin.h"
#include "labguard.h"

#include <QProcess>
#include <QtTest>

#include <sys/resource.h>

namespace {

constexpr int kFleet = 3000;

bool limitDescriptors(rlim_t limit)
{
    rlimit now{};
    if (::getrlimit(RLIMIT_NOFILE, &now) != 0)
        return false;
    const rlimit wanted{std::min(limit, now.rlim_max), std::min(limit, now.rlim_max)};
    return ::setrlimit(RLIMIT_NOFILE, &wanted) == 0;
}

int reachableRows(const CorlaTableModel& model)
{
    int n = 0;
    for (const auto& device : model.deviceList())
        n += device->netStat() == ZelNetworkStatus::Reachable ? 1 : 0;
    return n;
}

} // namespace

class TstLabFleet : public QObject
{
    Q_OBJECT

    CorlaLabSim m_sim;

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        // Unpaced: the answers come as fast as the simulator can send them.
        QVERIFY2(m_sim.startOrWhy({"--burst", QString::number(kFleet), "--rate", "0"}).isEmpty(),
                 qPrintable(m_sim.output()));
    }

    // High limit first: a lowered hard limit cannot be raised again in this process.
    void everyDeviceGreen_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("high limit") << 65536;
        QTest::newRow("soft and hard limit 1024") << 1024;
    }

    void everyDeviceGreen()
    {
        QFETCH(int, limit);
        QVERIFY(limitDescriptors(rlim_t(limit)));

        // corla-cli in a process of its own, under the same limit.
        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN),
                  {"discover", "--probe", "--format", "csv", "--wait", "3000"});
        QVERIFY(cli.waitForFinished(120000));
        QCOMPARE(cli.exitCode(), 0);
        const QString csv = QString::fromUtf8(cli.readAllStandardOutput());
        QCOMPARE(csv.count(QStringLiteral(",Reachable,\"port 21 accepted a connection")), kFleet);

        ZelCorlaAdapter adapter;
        ZelConnectionChecker checker;
        MainWindow window(&adapter, &checker);
        QTRY_COMPARE_WITH_TIMEOUT(window.model().numDevices(), kFleet, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(reachableRows(window.model()), kFleet, 120000);
        // Nothing turns yellow afterwards: no late failure overrides a success.
        QTest::qWait(1000);
        QCOMPARE(reachableRows(window.model()), kFleet);
    }
};

QTEST_MAIN(TstLabFleet)
#include "tst_lab_fleet.moc"
