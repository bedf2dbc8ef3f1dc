// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli watch: an enquiry every few seconds, and a line for each thing that changes
// (a device appears, changes its settings or its port 21 verdict, is answered for by two
// senders, falls silent, comes back) as it happens, until SIGINT or SIGTERM.

#include "clicommand.h"
#include "corladevicelist.h"
#include "zelconnectionchecker.h"

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

class ZelCorlaAdapter;

class CliWatch : public QObject
{
    Q_OBJECT

public:
    CliWatch(ZelCorlaAdapter* adapter, QTextStream* out, QTextStream* err);
    ~CliWatch() override;

    // Runs until a signal ends it: CliExit::Interrupted or CliExit::Terminated.
    int run(const CliRequest& request);

private:
    // What watch remembers of a device between rounds, by MAC address text.
    struct Seen
    {
        TevNetHostInfo settings; // as last printed
        bool probed = false;     // a verdict has been printed
        ZelNetworkStatus verdict = ZelNetworkStatus::Pending;
        int missed = 0;      // enquiries in a row it did not answer
        bool gone = false;   // "no answer" printed, "back" not yet
        QDateTime lastHeard; // its last answer
        QString conflict;    // the conflict last printed in this run of conflicts
    };
    using Fields = QVector<QPair<QString, QJsonValue>>;

    void nextRound();
    void endRound();
    void answered(quint64 request, const std::shared_ptr<TevDevice>& answer);
    void appeared(int row);
    void settingsChanged(int row);
    void reportConflict(const TevDevice& device);
    void verdict(const TevDevice& device, ZelNetworkStatus status, ZelProbeReason reason);
    void probe(const TevDevice& device);
    // One line: the time, the event and the device, then `text` (table) or `fields` (jsonl).
    void print(const QString& event, const TevDevice& device, const QString& text,
               const Fields& fields = {});
    void signalled();

    ZelCorlaAdapter& m_adapter;
    QTextStream& m_out;
    QTextStream& m_err;
    CorlaDeviceList m_list;
    ZelConnectionChecker m_checker;
    QTimer m_rounds;
    QEventLoop m_loop;
    CliFormat m_format = CliFormat::Table;
    quint64 m_request = 0; // the enquiry of the round under way; 0 before the first
    QHash<QString, Seen> m_seen;
    int m_exitCode = CliExit::Ok;
};
