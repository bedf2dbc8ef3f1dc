// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// corla-cli discover --probe on a large fleet with port 21 open, answering unpaced from every
// local address: end to end with the full wait and with --settle, beside a baseline of the
// same run, a plain connect sweep (this program's own: non-blocking connects to every
// listed address, as many at once as the port checker allows). Sends packets: runs only on
// the host side of the lab, e.g.
//
//   scripts/lab --sim-bin build/tools/corla-sim/corla-sim --no-sim --
//       build/bench/bench_settle --cli build/tools/corla-cli/corla-cli
//
// (one line; make bench runs it). Options: --devices N (default 5000), --settle MS
// (default 300), --runs N (default 3; each figure is the median). Each run starts after 3 s
// of quiet.
//
// The probe phase is what --probe adds to the same discovery with --settle: corla-cli
// probes each device as it is listed, so much of the probing hides behind the listening.

#include "core/net/portprobescheduler.h"
#include "tests/support/labguard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#ifndef CORLA_BUILD_TYPE
#define CORLA_BUILD_TYPE ""
#endif

using namespace corla;

namespace {

struct CliRun
{
    double ms = 0;
    int rows = 0;
    int reachable = 0;
    QByteArray csv;
};

CliRun runCli(const QString& cli, const QStringList& args)
{
    // One simulator answers for the whole fleet, copy after copy, and falls behind where
    // real devices answer side by side: its backlog from the run before must not count.
    QThread::msleep(3000);
    CliRun run;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(cli, QStringList{"discover", "--format", "csv"} + args);
    process.waitForFinished(120000);
    run.ms = double(clock.nsecsElapsed()) / 1e6;
    run.csv = process.readAllStandardOutput();
    run.rows = std::max(0, int(run.csv.count('\n')) - 1);
    run.reachable = int(run.csv.count(",Reachable,"));
    return run;
}

// The IP Address column of corla-cli's CSV (its third field), one address per row.
std::vector<in_addr> addressesOf(const QByteArray& csv)
{
    std::vector<in_addr> addresses;
    const QList<QByteArray> lines = csv.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(',');
        in_addr a{};
        if (fields.size() > 2 && ::inet_pton(AF_INET, fields.at(2).constData(), &a) == 1)
            addresses.push_back(a);
    }
    return addresses;
}

// Connects to port 21 of every address, at most `parallel` at once; returns the ms taken
// and the count that connected.
double connectSweep(const std::vector<in_addr>& addresses, int parallel, int timeoutMs,
                    int* connected)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<pollfd> open;
    std::vector<qint64> started;
    size_t next = 0;
    *connected = 0;
    while (next < addresses.size() || !open.empty()) {
        while (next < addresses.size() && int(open.size()) < parallel) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                break;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(21);
            to.sin_addr = addresses[next++];
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
                ++*connected;
                ::close(fd);
                continue;
            }
            if (errno != EINPROGRESS) {
                ::close(fd);
                continue;
            }
            open.push_back({fd, POLLOUT, 0});
            started.push_back(clock.elapsed());
        }
        if (open.empty())
            break;
        ::poll(open.data(), nfds_t(open.size()), 50);
        const qint64 now = clock.elapsed();
        for (size_t i = open.size(); i-- > 0;) {
            const bool late = now - started[i] > timeoutMs;
            if (!open[i].revents && !late)
                continue;
            int error = 0;
            socklen_t size = sizeof error;
            if (open[i].revents &&
                ::getsockopt(open[i].fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
                ++*connected;
            ::close(open[i].fd);
            open[i] = open.back();
            open.pop_back();
            started[i] = started.back();
            started.pop_back();
        }
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"devices", "Fleet size.", "n", "5000"},
                       {"settle", "corla-cli's --settle.", "ms", "300"},
                       {"runs", "Runs of each figure (the median is printed).", "n", "3"},
                       {"cli", "The corla-cli to measure.", "path"}});
    parser.process(app);
    const int devices = parser.value("devices").toInt();
    const int runs = std::max(1, parser.value("runs").toInt());
    const QString cli = parser.value("cli");
    QString why;
    if (!corlaInLab(&why)) {
        std::fprintf(stderr, "bench_settle: %s\n", qPrintable(why));
        return 1;
    }
    if (cli.isEmpty()) {
        std::fprintf(stderr, "bench_settle: --cli is required\n");
        return 1;
    }
    CorlaLabSim sim;
    if (!sim.start({"--burst", QString::number(devices), "--rate", "0", "--quiet"}, &why)) {
        std::fprintf(stderr, "bench_settle: %s\n", qPrintable(why));
        return 1;
    }
    const QString settle = parser.value("settle");
    const int parallel = PortProbeScheduler::defaultMaxInFlight();

    const CliRun full = runCli(cli, {"--probe"});
    const std::vector<in_addr> addresses = addressesOf(full.csv);
    std::vector<double> listMs, probeMs, sweepMs;
    int listRows = devices, probeRows = devices, probeReachable = devices, swept = 0;
    for (int i = 0; i < runs; ++i) {
        const CliRun list = runCli(cli, {"--settle", settle});
        const CliRun probed = runCli(cli, {"--probe", "--settle", settle});
        listMs.push_back(list.ms);
        probeMs.push_back(probed.ms);
        listRows = std::min(listRows, list.rows);
        probeRows = std::min(probeRows, probed.rows);
        probeReachable = std::min(probeReachable, probed.reachable);
        QThread::msleep(3000); // the simulator answers the last run's copies first
        sweepMs.push_back(
            connectSweep(addresses, parallel, PortProbeScheduler::kDefaultTimeoutMs, &swept));
    }
    const double list = median(listMs), probed = median(probeMs), sweep = median(sweepMs);
    const double probePhase = std::max(0.0, probed - list);

    std::printf("bench_settle (%s build): %d devices, %d connects at once, median of %d runs\n",
                CORLA_BUILD_TYPE, devices, parallel, runs);
    std::printf("  discover --probe, full wait:            %6.0f ms, %d rows, %d Reachable\n",
                full.ms, full.rows, full.reachable);
    std::printf("  discover --settle %s:                  %6.0f ms, %d rows (fewest of the runs)\n",
                qPrintable(settle), list, listRows);
    std::printf("  discover --probe --settle %s:          %6.0f ms, %d rows, %d Reachable "
                "(fewest)   goal <= 1500 ms: %s\n",
                qPrintable(settle), probed, probeRows, probeReachable,
                probed <= 1500 ? "met" : "missed");
    std::printf("  baseline: plain connect sweep of %zu:   %6.0f ms, %d connected\n",
                addresses.size(), sweep, swept);
    std::printf("  probe phase (--probe's addition):       %6.0f ms = %.2f x the sweep   "
                "goal <= 1.5 x: %s\n",
                probePhase, sweep > 0 ? probePhase / sweep : 0.0,
                sweep > 0 && probePhase <= 1.5 * sweep ? "met" : "missed");
    std::printf("  full wait / settle = %.2f\n", probed > 0 ? full.ms / probed : 0.0);
    return 0;
}
