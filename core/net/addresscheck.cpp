// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/addresscheck.h"
#include "core/net/logging.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace corla {

AddressCheck::AddressCheck(const Device& device, const NetworkSettings& netHostInfo)
    : m_device(device), m_netHostInfo(netHostInfo)
{
    static const int registered =
        qRegisterMetaType<PingResult>("PingResult") + qRegisterMetaType<AddressUse>("AddressUse");
    Q_UNUSED(registered)
    registerMetaTypes();
}

void AddressCheck::setDisregardedLinkAddresses(const QList<MacAddress>& macs)
{
    m_disregard = macs;
}

void AddressCheck::checkIpExistence()
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &AddressCheck::handlePingFinished);
    // The task gets its own copies, so it never touches this object. A host that drops
    // echoes but answers ARP holds the address as much as one that answers.
    const Ipv4Address address = m_netHostInfo.ipAddress();
    const QList<MacAddress> disregard = m_disregard;
    m_watcher.setFuture(QtConcurrent::run([address, disregard] {
        return HostPing::addressInUse(address, kPingTimeoutMs, disregard);
    }));
}

void AddressCheck::handlePingFinished()
{
    const AddressUse use = m_watcher.result();
    qCDebug(logNet).nospace() << "Ping result: " << static_cast<int>(use.result);
    // A receiver may ask the user (a nested event loop) before this returns.
    const QPointer<AddressCheck> alive(this);
    emit ipCheckResult(use.result, m_device, m_netHostInfo, use);
    // Nobody holds a pointer to a checker once it has reported.
    if (alive)
        deleteLater();
}

} // namespace corla
