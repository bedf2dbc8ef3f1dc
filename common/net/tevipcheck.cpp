// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tevipcheck.h"
#include "corlalog.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

IpChecker::IpChecker(const TevDevice& device, const TevNetHostInfo& netHostInfo)
    : m_device(device), m_netHostInfo(netHostInfo)
{
    static const int registered = qRegisterMetaType<TevPingResult>("TevPingResult") +
                                  qRegisterMetaType<TevAddressUse>("TevAddressUse");
    Q_UNUSED(registered)
    registerCorlaMetaTypes();
}

void IpChecker::setDisregardedLinkAddresses(const QList<TevMacAddr>& macs)
{
    m_disregard = macs;
}

void IpChecker::checkIpExistence()
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &IpChecker::handlePingFinished);
    // The task gets its own copies, so it never touches this object. A host that drops
    // echoes but answers ARP holds the address as much as one that answers.
    const TevIpAddr address = m_netHostInfo.ipAddress();
    const QList<TevMacAddr> disregard = m_disregard;
    m_watcher.setFuture(QtConcurrent::run([address, disregard] {
        return TevPingHelper::addressInUse(address, kPingTimeoutMs, disregard);
    }));
}

void IpChecker::handlePingFinished()
{
    const TevAddressUse use = m_watcher.result();
    qCDebug(corlaNet).nospace() << "Ping result: " << static_cast<int>(use.result);
    // A receiver may ask the user (a nested event loop) before this returns.
    const QPointer<IpChecker> alive(this);
    emit ipCheckResult(use.result, m_device, m_netHostInfo, use);
    // Nobody holds a pointer to a checker once it has reported.
    if (alive)
        deleteLater();
}
