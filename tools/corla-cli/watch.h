// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli watch: an enquiry every few seconds, and a line for each thing that changes
// (a device appears, changes its settings or its port 21 verdict, is answered for by two
// senders, falls silent, comes back) as it happens, until SIGINT or SIGTERM.

#include "core/fleet/devicelist.h"
#include "core/net/portprobescheduler.h"
#include "tools/corla-cli/command.h"

#include <QDateTime>
#include <QEventLoop>
#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QPair>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <memory>

namespace corla {

class DiscoveryClient;

class WatchCommand : public Command
{
public:
    WatchCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

// The rounds of enquiries and the events they show, until a signal ends them.

class CliWatch : public QObject
{
    Q_OBJECT

public:
    CliWatch(DiscoveryClient* adapter, QTextStream* out, QTextStream* err);
    ~CliWatch() override;

    // Runs until a signal ends it: CliExit::Interrupted or CliExit::Terminated.
    int run(const CliRequest& request);

private:
    // What watch remembers of a device between rounds, by MAC address text.
    struct Seen
    {
        NetworkSettings settings; // as last printed
        bool probed = false;      // a verdict has been printed
        Reachability verdict = Reachability::Pending;
        int missed = 0;      // enquiries in a row it did not answer
        bool gone = false;   // "no answer" printed, "back" not yet
        QDateTime lastHeard; // its last answer
        QString conflict;    // the conflict last printed in this run of conflicts
    };
    using Fields = QVector<QPair<QString, QJsonValue>>;

    void nextRound();
    void endRound();
    void answered(quint64 request, const std::shared_ptr<Device>& answer);
    void appeared(int row);
    void settingsChanged(int row);
    void reportConflict(const Device& device);
    void verdict(const Device& device, Reachability status, ProbeReason reason);
    void probe(const Device& device);
    // One line: the time, the event and the device, then `text` (table) or `fields` (jsonl).
    void print(const QString& event, const Device& device, const QString& text,
               const Fields& fields = {});
    void signalled();

    DiscoveryClient& m_adapter;
    QTextStream& m_out;
    QTextStream& m_err;
    DeviceList m_list;
    PortProbeScheduler m_checker;
    QTimer m_rounds;
    QEventLoop m_loop;
    CliFormat m_format = CliFormat::Table;
    quint64 m_request = 0; // the enquiry of the round under way; 0 before the first
    QHash<QString, Seen> m_seen;
    int m_exitCode = CliExit::Ok;
};

} // namespace corla
