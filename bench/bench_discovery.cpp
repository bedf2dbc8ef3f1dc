// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Discovery of a large simulated fleet as the main window runs it: one enquiry, a port
// check for every device found, and beside it the round-trip time of one ICMP echo in
// the same run. Sends packets: runs only on the host side of the lab, e.g.
//
//   scripts/lab --sim-bin build/tools/corla-sim/corla-sim --no-sim -- build/bench/bench_discovery
//
// Options: --devices N (default 1000), --rate N (the simulator's answers per second;
// default its own, 0 = unpaced), --runs N (default 3).

#include "core/discovery/discoveryclient.h"
#include "core/fleet/devicelist.h"
#include "core/net/hostping.h"
#include "core/net/portprobescheduler.h"
#include "tests/support/labguard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <cstdio>

#ifndef CORLA_BUILD_TYPE
#define CORLA_BUILD_TYPE ""
#endif

using namespace corla;

namespace {

struct RunFigures
{
    int found = 0;
    int checked = 0;
    int reachable = 0;
    double lastFoundMs = -1;
    double lastCheckMs = -1;
};

double msSince(const QElapsedTimer& clock)
{
    return clock.nsecsElapsed() / 1e6;
}

// One enquiry; every answer gets the port check the main window starts for it. Ends when
// every expected device has a port result, or after `limitMs`.
RunFigures runOnce(int expected, int limitMs)
{
    DiscoveryClient adapter;
    PortProbeScheduler checker(nullptr);
    RunFigures f;
    // Every enquiry goes out several times and every copy is answered: each device counts
    // once, by its MAC address, and is probed once.
    QSet<quint64> found;
    QSet<quint64> checked;
    QEventLoop loop;
    QElapsedTimer clock;

    QObject::connect(&adapter, &DiscoveryClient::deviceFound, [&](std::shared_ptr<Device> d) {
        const quint64 key = macKey(d->netHostInfo().macAddress());
        if (found.contains(key))
            return;
        found.insert(key);
        ++f.found;
        f.lastFoundMs = msSince(clock);
        checker.checkPort(*d, DevicePort::Ftp);
    });
    QObject::connect(&checker, &PortProbeScheduler::netHostStatus,
                     [&](const Device& d, DevicePort, Reachability s) {
                         const quint64 key = macKey(d.netHostInfo().macAddress());
                         if (checked.contains(key))
                             return; // a second report for a device already counted
                         checked.insert(key);
                         ++f.checked;
                         f.reachable += s == Reachability::Reachable;
                         f.lastCheckMs = msSince(clock);
                         if (f.checked == expected)
                             loop.quit();
                     });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    clock.start();
    adapter.netEnquire(Device(DeviceType::NoDevice));
    loop.exec();
    return f;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Discovery and port checks of a simulated fleet in the lab.");
    parser.addHelpOption();
    parser.addOptions({{"devices", "Simulated devices (default 1000).", "n", "1000"},
                       {"rate", "Simulator answers per second (default: its own).", "n"},
                       {"runs", "Enquiries, one after the other (default 3).", "n", "3"}});
    parser.process(app);

    QString why;
    if (!corlaInLab(&why)) {
        std::fprintf(stderr, "bench_discovery: %s\n", qPrintable(why));
        return 1;
    }
    const int devices = qBound(1, parser.value("devices").toInt(), 60000);
    const int runs = qMax(1, parser.value("runs").toInt());
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    // The burst fleet hears only the one-address segment: one answer per device.
    QStringList simArgs{"--burst", QString::number(devices), "--burst-iface", "dev1", "--quiet"};
    if (parser.isSet("rate"))
        simArgs << "--rate" << parser.value("rate");
    CorlaLabSim sim;
    if (!sim.start(simArgs, &why, 60000)) {
        std::fprintf(stderr, "bench_discovery: %s\n", qPrintable(why));
        return 1;
    }

    std::printf("bench_discovery (%s build): %d simulated devices, simulator rate (answers/s) %s, "
                "port check limit %d ms\n",
                CORLA_BUILD_TYPE, devices,
                !parser.isSet("rate")         ? "default"
                : parser.value("rate") == "0" ? "unpaced"
                                              : qPrintable(parser.value("rate")),
                PortProbeScheduler::kDefaultTimeoutMs);
    const std::string present = corlaLabEnv("CORLA_LAB_PRESENT").toStdString();
    for (int run = 1; run <= runs; ++run) {
        // A device lost to every copy of the enquiry is never found: the run then ends
        // well after the last copy's answers, with the count of those found.
        const RunFigures f = runOnce(devices, 8000);
        const auto start = std::chrono::steady_clock::now();
        const EchoOutcome echo = icmpEcho(present, 1000);
        const std::chrono::duration<double, std::milli> echoMs =
            std::chrono::steady_clock::now() - start;
        std::printf("run %d: enquiry -> last deviceFound %8.1f ms (%d found)\n", run, f.lastFoundMs,
                    f.found);
        std::printf("       enquiry -> last port result %8.1f ms (%d checked, %d reachable)\n",
                    f.lastCheckMs, f.checked, f.reachable);
        if (echo.replyCount)
            std::printf("       one echo to %s         %8.3f ms\n", present.c_str(),
                        echoMs.count());
        else
            std::printf("       one echo to %s         no reply (error %u)\n", present.c_str(),
                        echo.errorCode);
        std::fflush(stdout);
    }
    return 0;
}
