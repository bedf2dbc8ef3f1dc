// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Duplicate-address check: is a proposed address in use (one echo, then the neighbour
// table), run on the process-wide thread pool, reported back on the thread that owns the
// checker.

#include "tevpinghelper.h"
#include "zeldevice.h"

#include <QFutureWatcher>
#include <QObject>

Q_DECLARE_METATYPE(TevAddressUse)

class IpChecker : public QObject
{
    Q_OBJECT
public:
    // Echo limit of the duplicate-address check.
    static constexpr unsigned int kPingTimeoutMs = 50;

    IpChecker(const TevDevice& device, const TevNetHostInfo& netHostInfo);

    // MAC addresses of devices known to answer at another address now (a device that has
    // just moved away): their lingering neighbour entry at the checked address does not make
    // it taken. Set before checkIpExistence; empty by default.
    void setDisregardedLinkAddresses(const QList<TevMacAddr>& macs);

    // Starts the one check of this object and returns at once. After ipCheckResult has
    // been emitted the checker deletes itself (deferred), so callers keep no pointer.
    void checkIpExistence();

signals:
    // `use` tells what answered: an echo reply, or only the neighbour table's link-layer
    // address (with the MAC address in either case when the table has one).
    void ipCheckResult(TevPingResult rslt, const TevDevice& device,
                       const TevNetHostInfo& netHostInfo, const TevAddressUse& use);

private:
    void handlePingFinished();

    TevDevice m_device;
    TevNetHostInfo m_netHostInfo;
    QList<TevMacAddr> m_disregard;
    QFutureWatcher<TevAddressUse> m_watcher;
};
