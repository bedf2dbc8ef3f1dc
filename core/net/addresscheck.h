// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Duplicate-address check: is a proposed address in use (one echo, then the neighbour
// table), run on the process-wide thread pool, reported back on the thread that owns the
// checker.

#include "core/net/device.h"
#include "core/net/hostping.h"

#include <QFutureWatcher>
#include <QObject>

namespace corla {

class AddressCheck : public QObject
{
    Q_OBJECT
public:
    // Echo limit of the duplicate-address check.
    static constexpr unsigned int kPingTimeoutMs = 50;

    AddressCheck(const Device& device, const NetworkSettings& netHostInfo);

    // MAC addresses of devices known to answer at another address now (a device that has
    // just moved away): their lingering neighbour entry at the checked address does not make
    // it taken. Set before checkIpExistence; empty by default.
    void setDisregardedLinkAddresses(const QList<MacAddress>& macs);

    // Starts the one check of this object and returns at once. After ipCheckResult has
    // been emitted the checker deletes itself (deferred), so callers keep no pointer.
    void checkIpExistence();

signals:
    // `use` tells what answered: an echo reply, or only the neighbour table's link-layer
    // address (with the MAC address in either case when the table has one).
    void ipCheckResult(PingResult rslt, const Device& device, const NetworkSettings& netHostInfo,
                       const AddressUse& use);

private:
    void handlePingFinished();

    Device m_device;
    NetworkSettings m_netHostInfo;
    QList<MacAddress> m_disregard;
    QFutureWatcher<AddressUse> m_watcher;
};

} // namespace corla

Q_DECLARE_METATYPE(corla::AddressUse)
