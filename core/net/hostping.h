// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// ICMP echo, and whether an address is in use, for the duplicate-address check and the
// free-address search.

#include "core/net/addressinuse.h"
#include "core/net/icmpseam.h"
#include "core/wire/addresses.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>

namespace corla {

// Outcome of one echo. Callers treat PingReplied as "the address is in use" and
// anything else as "nobody answered".
enum PingResult : int32_t
{
    PingReplied = 1, // the host itself answered in time (an echo reply)
    PingNoReply = 3, // nothing within the limit, a router's ICMP error, or sending failed
};

// What addressInUse found, in the terms the address checks already use, and how.
struct AddressUse
{
    PingResult result = PingNoReply; // PingReplied when in use, by echo or link layer
    InUseBy by = InUseBy::Nobody;
    NeighbourState neighbourState = NeighbourState::Absent;
    QString neighbourStateName; // "REACHABLE", "STALE", ...; empty without an entry
    MacAddress mac;             // null without a link-layer address

    bool inUse() const { return result == PingReplied; }
};

class HostPing : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Sends one echo request and blocks until a reply or the limit. Safe on any thread.
    // PingReplied only for an echo reply; the debug line shows an ICMP error as well.
    static PingResult pingHost(const Ipv4Address& address, unsigned int timeoutMs);

    // The debug message that pingHost writes for one echo to `address`.
    static QString composeDebugMessage(const QString& address, const EchoOutcome& outcome);

    // Is the address in use? One echo, then the neighbour table (queryAddressInUse); blocks
    // up to timeoutMs and a little more. Safe on any thread. Writes one debug line, which
    // says who answered and the MAC address. A neighbour entry whose MAC address is in
    // `disregard` (devices that answer at another address now) does not count.
    static AddressUse addressInUse(const Ipv4Address& address, unsigned int timeoutMs,
                                   const QList<MacAddress>& disregard = {});
    // That line.
    static QString composeInUseMessage(const QString& address, const InUseFinding& use);
};

} // namespace corla

Q_DECLARE_METATYPE(corla::PingResult)
