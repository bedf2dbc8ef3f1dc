// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The commands of corla-cli on the network: one discovery adapter, the port checker and
// the echo, driven through the event loop until the answer or the wait ends.

#include "clicommand.h"
#include "commissioning.h"
#include "corlachangelog.h"
#include "corlaplan.h"
#include "zelcorlaadptr.h"

#include <QHash>
#include <QTextStream>

#include <memory>

class CorlaDeviceList;

class CliRunner
{
public:
    // Results go to out, messages to err.
    CliRunner(QTextStream* out, QTextStream* err);

    // Runs one checked request (never Help or Version) and returns the exit status.
    int run(const CliRequest& request);

private:
    int discover(const CliRequest& request);
    int set(const CliRequest& request);
    int reset(const CliRequest& request);
    int ping(const CliRequest& request);
    int apply(const CliRequest& request, const CorlaPlan& plan);
    int doctor();

    // Reads and judges the plan before any request; CliExit::Ok when it may be applied.
    int readPlanFile(const CliRequest& request, CorlaPlan* plan);
    // Lists the faults by line and says that nothing was sent.
    int refusePlan(const CliRequest& request, const QVector<CorlaPlanFault>& faults);
    // The devices that answer one enquiry within waitMs; with settleMs, until none new has
    // answered for that long after the enquiry's last copy.
    void collect(CorlaDeviceList* list, int waitMs, int settleMs = 0);
    // Every step of set, reset and apply waits up to waitMs for its answer.
    void setTiming(int waitMs);
    // Why the adapter has nothing to send from; empty when it has an address.
    QString noLocalAddress(const CliRequest& request) const;
    // Writes "corla-cli: message" to err and returns status.
    int fail(int status, const QString& message);

    QTextStream& m_out;
    QTextStream& m_err;
    ZelCorlaAdapter m_adapter;
    corla::CommissioningService m_service;
    CorlaChangeLog m_log;
    bool m_logFailed = false;
};
