// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Puts the simulated devices' addresses on this namespace's interfaces, so that their
// port listeners can bind and the kernel answers echo for them. Each address goes on as
// a /32 (no routes change): on the device's own interface when it names one, else on the
// interface whose subnet holds it, else on lo. Addresses are counted, so two devices may
// share one; only addresses this object added are removed again.
//
// This changes the machine's network configuration, so it runs only in the lab's device
// side: the namespace named by CORLA_LAB_DEVNS must be this process's own.

#include "core/wire/addresses.h"

#include <QHash>
#include <QString>

namespace corla {

class SimAddresses
{
public:
    SimAddresses() = default;
    ~SimAddresses();
    SimAddresses(const SimAddresses&) = delete;
    SimAddresses& operator=(const SimAddresses&) = delete;

    // Checks that this is the lab's device side.
    bool enable(QString* why);
    bool isEnabled() const { return m_enabled; }

    // Both return at once (without effect) when disabled or for address 0.
    bool acquire(Ipv4Address ip, const QString& iface, QString* why);
    void release(Ipv4Address ip);
    void releaseAll();

private:
    struct Entry
    {
        int users = 0;
        bool added = false; // false: it was there before us
        QString iface;
    };
    int change(int type, Ipv4Address ip, const QString& iface); // 0 or an errno
    QString interfaceFor(Ipv4Address ip, const QString& iface) const;

    bool m_enabled = false;
    int m_netlink = -1;
    QHash<uint32_t, Entry> m_entries;
};

} // namespace corla
