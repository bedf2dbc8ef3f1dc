// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// A discovery adapter on real sockets and everything it reported, as lines.

#include "core/discovery/discoveryclient.h"
#include "tests/support/testdevice.h"

#include <QElapsedTimer>
#include <QStringList>

namespace corla {

// "MAC@local type #serial address/mask gw G dns D mode M": one line per record.
inline QString record(const Device& d, const QString& local = {})
{
    const NetworkSettings& n = d.netHostInfo();
    return QStringLiteral("%1@%2 %3 #%4 %5/%6 gw %7 dns %8 mode %9")
        .arg(text(n.macAddress()), local)
        .arg(int(d.devType()))
        .arg(d.serial())
        .arg(text(n.ipAddress()), text(n.subnetMask()), text(n.gateway()), text(n.dns()))
        .arg(int(n.addressMode()));
}

// Found records (sorted at each timeout), the other signals, and when sockets timed out.
class AdapterRun : public QObject
{
public:
    explicit AdapterRun(int timeoutMs)
    {
        adapter.setTimeoutPeriod(timeoutMs);
        clock.start();
        connect(&adapter, &DiscoveryClient::deviceFound, this, [this](std::shared_ptr<Device> d) {
            found << record(*d, text(d->commsIfaceAddr()));
            lastFoundMs = clock.elapsed();
        });
        connect(&adapter, &DiscoveryClient::deviceChanged, this,
                [this](std::shared_ptr<Device> d) { events << "changed " + record(*d); });
        connect(&adapter, &DiscoveryClient::deviceReset, this,
                [this](MacAddress mac) { events << "reset " + text(mac); });
        connect(&adapter, &DiscoveryClient::error, this,
                [this](const QString& e) { events << "error " + e; });
        connect(&adapter, &DiscoveryClient::timeout, this, [this] {
            timeoutsMs.append(clock.elapsed());
            found.sort();
        });
    }
    DiscoveryClient adapter;
    QElapsedTimer clock;
    QStringList found;
    QStringList events;
    QList<qint64> timeoutsMs;
    qint64 lastFoundMs = 0;
};

} // namespace corla
