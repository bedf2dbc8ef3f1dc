// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// "Is this address in use?", one answer for the duplicate-address check, the free-address
// search and the command line. Qt-free: the Windows cross build compiles it too.
#include "core/net/icmpseam.h"
#include "core/net/neighbourseam.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corla {

enum class InUseBy : uint8_t
{
    Nobody,    // no echo reply, and no link-layer address that counts
    Echo,      // an echo reply (an ICMP error from a router on the way is no host)
    LinkLayer, // no echo reply, but the neighbour table holds the address's link-layer address
};

using LinkAddress = std::array<uint8_t, 6>;

struct InUseFinding
{
    InUseBy by = InUseBy::Nobody;
    // The echo as it came back, reply or ICMP error (corla-cli ping reports either).
    EchoOutcome echo;
    // The table's entry right after the echo, whoever answered.
    Neighbour neighbour;
    // The entry's link-layer address was one of those to disregard: a device that answers at
    // another address now, whose old entry lingers. Then `by` is Nobody.
    bool linkAddressDisregarded = false;

    bool inUse() const { return by != InUseBy::Nobody; }
};

// Did a host itself answer? An echo reply (status 0 on every platform), not an ICMP error
// that a router sends about the address (destination unreachable, time exceeded): that one
// says nobody is there.
inline bool echoAnswered(const EchoOutcome& echo)
{
    return echo.replyCount != 0 && echo.status == 0;
}

// The verdict on what the echo and the neighbour table showed, without sending anything.
// Without an echo reply, an entry with a link-layer address in `disregard` does not count.
InUseFinding judgeInUse(const EchoOutcome& echo, const Neighbour& neighbour,
                        const std::vector<LinkAddress>& disregard = {});

// One echo request (as icmpEcho, blocking up to timeoutMs), then one look at the
// neighbour table, judged by judgeInUse. A host that drops echoes still answers ARP: for
// an address on one of this computer's directly attached networks the echo itself made the
// system resolve it, so no further packet is needed. A confirmed entry and one seen lately
// both count as in use, unless its link-layer address is in `disregard` (devices known to
// answer elsewhere now: a device that has just moved leaves its old entry behind for a while).
// Addresses beyond a router have no entry of their own. Thread-safe.
InUseFinding queryAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs,
                               const std::vector<LinkAddress>& disregard = {});

} // namespace corla
