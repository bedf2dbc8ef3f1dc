#pragma once
// "Is this address in use?", one answer for the duplicate-address check, the free-address
// search and the command line. Qt-free: the Windows cross build compiles it too.
#include "icmpseam.h"
#include "neighbourseam.h"

#include <cstdint>
#include <string>

enum class CorlaInUseBy : uint8_t
{
    Nobody,    // no echo reply, and no link-layer address
    Echo,      // an echo reply, or an ICMP error that quotes the request
    LinkLayer, // no echo reply, but the neighbour table holds the address's link-layer address
};

struct CorlaInUse
{
    CorlaInUseBy by = CorlaInUseBy::Nobody;
    CorlaEchoOutcome echo;
    // The table's entry right after the echo, whoever answered.
    CorlaNeighbour neighbour;

    bool inUse() const { return by != CorlaInUseBy::Nobody; }
};

// One echo request (as corlaIcmpEcho, blocking up to timeoutMs), then one look at the
// neighbour table. A host that drops echoes still answers ARP: for an address on one of this
// computer's directly attached networks the echo itself made the system resolve it, so no
// further packet is needed. A confirmed entry and one seen lately both count as in use;
// addresses beyond a router have no entry of their own. Thread-safe.
CorlaInUse corlaAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs);
