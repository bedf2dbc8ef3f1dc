// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// "Is this address in use?", one answer for the duplicate-address check, the free-address
// search and the command line. Qt-free: the Windows cross build compiles it too.
#include "icmpseam.h"
#include "neighbourseam.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class CorlaInUseBy : uint8_t
{
    Nobody,    // no echo reply, and no link-layer address that counts
    Echo,      // an echo reply (an ICMP error from a router on the way is no host)
    LinkLayer, // no echo reply, but the neighbour table holds the address's link-layer address
};

using CorlaLinkAddress = std::array<uint8_t, 6>;

struct CorlaInUse
{
    CorlaInUseBy by = CorlaInUseBy::Nobody;
    // The echo as it came back, reply or ICMP error (corla-cli ping reports either).
    CorlaEchoOutcome echo;
    // The table's entry right after the echo, whoever answered.
    CorlaNeighbour neighbour;
    // The entry's link-layer address was one of those to disregard: a device that answers at
    // another address now, whose old entry lingers. Then `by` is Nobody.
    bool linkAddressDisregarded = false;

    bool inUse() const { return by != CorlaInUseBy::Nobody; }
};

// Did a host itself answer? An echo reply (status 0 on every platform), not an ICMP error
// that a router sends about the address (destination unreachable, time exceeded): that one
// says nobody is there.
inline bool corlaEchoAnswered(const CorlaEchoOutcome& echo)
{
    return echo.replyCount != 0 && echo.status == 0;
}

// The verdict on what the echo and the neighbour table showed, without sending anything.
// Without an echo reply, an entry with a link-layer address in `disregard` does not count.
CorlaInUse corlaJudgeInUse(const CorlaEchoOutcome& echo, const CorlaNeighbour& neighbour,
                           const std::vector<CorlaLinkAddress>& disregard = {});

// One echo request (as corlaIcmpEcho, blocking up to timeoutMs), then one look at the
// neighbour table, judged by corlaJudgeInUse. A host that drops echoes still answers ARP: for
// an address on one of this computer's directly attached networks the echo itself made the
// system resolve it, so no further packet is needed. A confirmed entry and one seen lately
// both count as in use, unless its link-layer address is in `disregard` (devices known to
// answer elsewhere now: a device that has just moved leaves its old entry behind for a while).
// Addresses beyond a router have no entry of their own. Thread-safe.
CorlaInUse corlaAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs,
                             const std::vector<CorlaLinkAddress>& disregard = {});
