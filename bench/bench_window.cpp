// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The window itself (offscreen) on a large fleet with port 21 open, answering unpaced from
// every local address: time from the enquiry to the last row listed and to the last row
// green, and the longest stretch the event loop was blocked; beside it, as the baseline of
// the same run, corla-cli discover --probe on the same fleet. Sends packets: runs only on
// the host side of the lab, e.g.
//
//   scripts/lab --sim-bin build/tools/corla-sim/corla-sim --no-sim --
//       build/bench/bench_window --cli build/tools/corla-cli/corla-cli [--limit 1024]
//
// (one line; make bench runs it both ways).
//
// Options: --devices N (default 5000), --limit N (soft and hard descriptor limit, set
// before anything else), --cli PATH (the corla-cli to compare with).

#include "tests/support/labguard.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

#ifndef CORLA_BUILD_TYPE
#define CORLA_BUILD_TYPE ""
#endif

using namespace corla;

namespace {

int reachable(const DeviceTableModel& model)
{
    int n = 0;
    for (const auto& device : model.deviceList())
        n += device->netStat() == Reachability::Reachable ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // As the program itself runs.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Quiet: a debug line per request and probe would be measured too.
    qputenv("QT_LOGGING_RULES", "corla.*.debug=false");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"devices", "Fleet size.", "n", "5000"},
                       {"limit", "Soft and hard descriptor limit.", "n"},
                       {"cli", "corla-cli to compare with.", "path"}});
    parser.process(app);
    const int devices = parser.value("devices").toInt();
    QString why;
    if (!corlaInLab(&why)) {
        std::fprintf(stderr, "bench_window: %s\n", qPrintable(why));
        return 1;
    }
    if (parser.isSet("limit")) {
        const rlim_t n = rlim_t(parser.value("limit").toLongLong());
        const rlimit limit{n, n};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            std::perror("bench_window: setrlimit");
            return 1;
        }
    }
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);

    CorlaLabSim sim;
    if (!sim.start({"--burst", QString::number(devices), "--rate", "0", "--quiet"}, &why)) {
        std::fprintf(stderr, "bench_window: %s\n", qPrintable(why));
        return 1;
    }

    double cliMs = -1;
    int cliReachable = -1;
    if (parser.isSet("cli")) {
        QElapsedTimer clock;
        clock.start();
        QProcess cli;
        cli.start(parser.value("cli"),
                  {"discover", "--probe", "--format", "csv", "--wait", "3000"});
        cli.waitForFinished(300000);
        cliMs = double(clock.nsecsElapsed()) / 1e6;
        cliReachable = int(cli.readAllStandardOutput().count(",Reachable,"));
    }

    // A 5 ms tick: any gap much longer than that is time the event loop was blocked.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 at = clock.elapsed();
        longestStall = std::max(longestStall, at - lastTick - 5);
        lastTick = at;
    });

    clock.start();
    tick.start(5);
    DiscoveryClient adapter;
    PortProbeScheduler checker;
    MainWindow window(&adapter, &checker);
    window.show();
    double listedMs = -1, greenMs = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (listedMs < 0 && window.model().numDevices() >= devices)
            listedMs = double(clock.nsecsElapsed()) / 1e6;
        if (greenMs < 0 && reachable(window.model()) >= devices) {
            greenMs = double(clock.nsecsElapsed()) / 1e6;
            app.quit();
        }
    });
    poll.start(10);
    QTimer::singleShot(120000, &app, &QApplication::quit);
    app.exec();

    std::printf("bench_window (%s build): %d devices, descriptor limit %llu\n", CORLA_BUILD_TYPE,
                devices, static_cast<unsigned long long>(now.rlim_cur));
    std::printf("  window: last row listed %.0f ms, last row green %.0f ms (%d of %d green), "
                "longest event-loop stall %lld ms\n",
                listedMs, greenMs, reachable(window.model()), devices,
                static_cast<long long>(longestStall));
    if (cliMs >= 0)
        std::printf("  corla-cli discover --probe (3000 ms wait included): %.0f ms, %d Reachable; "
                    "window / corla-cli = %.2f\n",
                    cliMs, cliReachable, greenMs > 0 ? greenMs / cliMs : 0.0);
    return greenMs > 0 ? 0 : 1;
}
