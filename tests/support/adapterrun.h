// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// A discovery adapter on real sockets and everything it reported, as lines that tests
// compare whole.

#include "testdevice.h"
#include "zelcorlaadptr.h"

#include <QElapsedTimer>
#include <QStringList>

// "MAC@local type #serial address/mask gw G dns D mode M": one line per record.
inline QString record(const TevDevice& d, const QString& local = {})
{
    const TevNetHostInfo& n = d.netHostInfo();
    return QStringLiteral("%1@%2 %3 #%4 %5/%6 gw %7 dns %8 mode %9")
        .arg(text(n.macAddress()), local)
        .arg(int(d.devType()))
        .arg(d.serial())
        .arg(text(n.ipAddress()), text(n.subnetMask()), text(n.gateway()), text(n.dns()))
        .arg(int(n.addressMode()));
}

// Found records (sorted whenever a socket times out, so that they compare once all have),
// the other signals as lines, and when the sockets timed out.
class AdapterRun : public QObject
{
public:
    explicit AdapterRun(int timeoutMs)
    {
        adapter.setTimeoutPeriod(timeoutMs);
        clock.start();
        connect(&adapter, &ZelCorlaAdapter::deviceFound, this,
                [this](std::shared_ptr<TevDevice> d) {
                    found << record(*d, text(d->commsIfaceAddr()));
                    lastFoundMs = clock.elapsed();
                });
        connect(&adapter, &ZelCorlaAdapter::deviceChanged, this,
                [this](std::shared_ptr<ZelDevice> d) { events << "changed " + record(*d); });
        connect(&adapter, &ZelCorlaAdapter::deviceReset, this,
                [this](TevMacAddr mac) { events << "reset " + text(mac); });
        connect(&adapter, &ZelCorlaAdapter::error, this,
                [this](const QString& e) { events << "error " + e; });
        connect(&adapter, &ZelCorlaAdapter::timeout, this, [this] {
            timeoutsMs.append(clock.elapsed());
            found.sort();
        });
    }
    ZelCorlaAdapter adapter;
    QElapsedTimer clock;
    QStringList found;
    QStringList events;
    QList<qint64> timeoutsMs;
    qint64 lastFoundMs = 0;
};
