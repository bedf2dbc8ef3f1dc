// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// ICMP echo, and whether an address is in use, for the duplicate-address check and the
// free-address search.

#include "addressinuse.h"
#include "icmpseam.h"
#include "tevnethost.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>

// Outcome of one echo. Callers treat TevPingReplied as "the address is in use" and
// anything else as "nobody answered".
enum TevPingResult : int32_t
{
    TevPingReplied = 1, // the host itself answered in time (an echo reply)
    TevPingNoReply = 3, // nothing within the limit, a router's ICMP error, or sending failed
};

// What addressInUse found, in the terms the address checks already use, and how.
struct TevAddressUse
{
    TevPingResult result = TevPingNoReply; // TevPingReplied when in use, by echo or link layer
    CorlaInUseBy by = CorlaInUseBy::Nobody;
    CorlaNeighbourState neighbourState = CorlaNeighbourState::Absent;
    QString neighbourStateName; // "REACHABLE", "STALE", ...; empty without an entry
    TevMacAddr mac;             // null without a link-layer address

    bool inUse() const { return result == TevPingReplied; }
};

class TevPingHelper : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Sends one echo request and blocks until a reply or the limit. Safe on any thread.
    // TevPingReplied only for an echo reply; the debug line shows an ICMP error as well.
    static TevPingResult pingHost(const TevIpAddr& address, unsigned int timeoutMs);

    // The debug message that pingHost writes for one echo to `address`.
    static QString composeDebugMessage(const QString& address, const CorlaEchoOutcome& outcome);

    // Is the address in use? One echo, then the neighbour table (corlaAddressInUse); blocks
    // up to timeoutMs and a little more. Safe on any thread. Writes one debug line, which
    // says who answered and the MAC address. A neighbour entry whose MAC address is in
    // `disregard` (devices that answer at another address now) does not count.
    static TevAddressUse addressInUse(const TevIpAddr& address, unsigned int timeoutMs,
                                      const QList<TevMacAddr>& disregard = {});
    // That line.
    static QString composeInUseMessage(const QString& address, const CorlaInUse& use);
};

Q_DECLARE_METATYPE(TevPingResult)
