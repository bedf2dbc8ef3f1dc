// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Thousands of devices, port 21 open, under a high descriptor limit and under 1024: all Reachable
// in corla-cli, green in the window. Run in order: a lowered limit stays lowered.
#include "tests/support/labguard.h"
#include "ui/mainwindow.h"

#include <QProcess>
#include <QtTest>

#include <sys/resource.h>

using namespace corla;

namespace {

// The sanitizer build is slower: 1500 probes still outrun 1024 descriptors; its simulator is paced.
#ifdef CORLA_SANITIZED_BUILD
constexpr int kFleet = 1500;
const char* const kRate = "20000";
#else
constexpr int kFleet = 3000;
const char* const kRate = "0";
#endif

bool limitDescriptors(rlim_t limit)
{
    rlimit now{};
    if (::getrlimit(RLIMIT_NOFILE, &now) != 0)
        return false;
    const rlimit wanted{std::min(limit, now.rlim_max), std::min(limit, now.rlim_max)};
    return ::setrlimit(RLIMIT_NOFILE, &wanted) == 0;
}

int reachableRows(const DeviceTableModel& model)
{
    int n = 0;
    for (const auto& device : model.deviceList())
        n += device->netStat() == Reachability::Reachable ? 1 : 0;
    return n;
}

} // namespace

class TstLabFleet : public QObject
{
    Q_OBJECT

    CorlaLabSim m_sim;

    // corla-cli in a process of its own, under the same limit.
    void cliReportsEveryDeviceReachable()
    {
        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN),
                  {"discover", "--probe", "--format", "csv", "--wait", "3000"});
        QVERIFY2(cli.waitForFinished(240000), qPrintable(cli.errorString()));
        QCOMPARE(cli.exitCode(), 0);
        const QString csv = QString::fromUtf8(cli.readAllStandardOutput());
        QCOMPARE(csv.count(QStringLiteral(",Reachable,\"port 21 accepted a connection")), kFleet);
    }

    void windowShowsEveryRowGreen()
    {
        DiscoveryClient adapter;
        PortProbeScheduler checker;
        MainWindow window(&adapter, &checker);
        QTRY_COMPARE_WITH_TIMEOUT(window.model().numDevices(), kFleet, 120000);
        QTRY_COMPARE_WITH_TIMEOUT(reachableRows(window.model()), kFleet, 240000);
        // Nothing turns yellow afterwards: no late failure overrides a success.
        QVERIFY(!QTest::qWaitFor([&] { return reachableRows(window.model()) < kFleet; }, 1000));
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY2(m_sim.startOrWhy({"--burst", QString::number(kFleet), "--rate", kRate}).isEmpty(),
                 qPrintable(m_sim.output()));
    }

    void highLimitWindow()
    {
        QVERIFY(limitDescriptors(65536));
        windowShowsEveryRowGreen();
    }
    void limit1024Cli()
    {
        QVERIFY(limitDescriptors(1024));
        cliReportsEveryDeviceReachable();
    }
    void limit1024Window()
    {
        QVERIFY(limitDescriptors(1024));
        windowShowsEveryRowGreen();
    }
};

QTEST_MAIN(TstLabFleet)
#include "tst_lab_fleet.moc"
