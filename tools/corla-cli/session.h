// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// What the commands of corla-cli share on the network: one discovery adapter, the
// commissioning service with its change log, the output streams, and waits on the event
// loop until an answer or a time limit.

#include "core/discovery/discoveryclient.h"
#include "core/fleet/changelog.h"
#include "core/fleet/commissioning.h"
#include "tools/corla-cli/command.h"

#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

namespace corla {

class DeviceList;

// Runs the event loop until finish() or the time limit, whichever comes first.
class EventWait
{
public:
    explicit EventWait(int ms);
    void finish();
    // Ends the wait within ms from now at the latest.
    void shorten(int ms);
    // True when finish() came before the limit.
    bool exec();

private:
    QEventLoop m_loop;
    QTimer m_timer;
    bool m_finished = false;
};

// Runs the event loop until the operation reports, and hands back what it reported.
template <class Operation, class Result>
Result runToEnd(Operation* operation, void (Operation::*finished)(const Result&))
{
    Result result;
    bool done = false;
    QEventLoop loop;
    QObject::connect(operation, finished, &loop, [&](const Result& r) {
        result = r;
        done = true;
        loop.quit();
    });
    // An operation with nothing to do reports from inside start(), before the loop runs.
    operation->start();
    if (!done)
        loop.exec();
    return result;
}

class CliSession
{
public:
    // Results go to out, messages to err.
    CliSession(QTextStream* out, QTextStream* err);

    QTextStream& out() { return m_out; }
    QTextStream& err() { return m_err; }
    DiscoveryClient& adapter() { return m_adapter; }
    corla::CommissioningService& service() { return m_service; }

    // Requests go out from the addresses of the request's interfaces only (all when none).
    void useInterfaces(const CliRequest& request);
    // CliExit::Ok when there is an address to send from, else says why and gives
    // CliExit::NoNetwork.
    int requireLocalAddress(const CliRequest& request);
    // The devices that answer one enquiry within waitMs; with settleMs, until none new has
    // answered for that long after the enquiry's last copy.
    void collect(DeviceList* list, int waitMs, int settleMs = 0);
    // Every step of set, reset and apply waits up to waitMs for its answer.
    void setTiming(int waitMs);
    // Writes "corla-cli: message" to err and returns status.
    int fail(int status, const QString& message);

private:
    QTextStream& m_out;
    QTextStream& m_err;
    DiscoveryClient m_adapter;
    corla::CommissioningService m_service;
    ChangeLog m_log;
    bool m_logFailed = false;
};

} // namespace corla
