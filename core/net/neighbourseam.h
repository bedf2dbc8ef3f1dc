// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// What this computer's neighbour table (its ARP cache) holds for one IPv4 address, behind a
// seam without Qt like the echo's: Linux asks the kernel over rtnetlink, Win32 reads the
// platform's table. Reading it sends nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace corla {

enum class NeighbourState : uint8_t
{
    Absent,     // no entry, or one that never resolved (INCOMPLETE, FAILED)
    SeenLately, // resolved before and not confirmed since (STALE, DELAY, PROBE)
    Confirmed,  // resolved and confirmed just now (REACHABLE), or set by hand (PERMANENT)
};

struct Neighbour
{
    NeighbourState state = NeighbourState::Absent;
    // The entry's state as Linux names it ("REACHABLE", "STALE", ...); empty without an entry.
    std::string stateName;
    // In the order it goes on the wire; meaningful only with hasLinkAddress.
    std::array<uint8_t, 6> linkAddress{};
    bool hasLinkAddress = false;
    // The table could not be read: errno on POSIX, the Win32 error code.
    uint32_t errorCode = 0;
};

// Thread-safe; keeps nothing between calls. Where the address has entries on several
// interfaces, the most definite one counts.
Neighbour neighbourOf(const std::string& dottedAddress);

// "02:c0:1a:00:00:fa", or "" without a link-layer address.
inline std::string linkAddressText(const Neighbour& neighbour)
{
    if (!neighbour.hasLinkAddress)
        return {};
    const auto& a = neighbour.linkAddress;
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

#ifdef __linux__
// One datagram of an RTM_GETNEIGH dump, as the kernel sends it: keeps in *best the most
// definite entry for `address` (network order) among those in it. Returns false once the
// dump is over: at NLMSG_DONE, or at NLMSG_ERROR or a malformed message, with the error
// number in *error.
bool parseNeighbourDump(const uint8_t* data, std::size_t size,
                        const std::array<uint8_t, 4>& address, Neighbour* best, int* error);
#endif

} // namespace corla
