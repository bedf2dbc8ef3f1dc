// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/neighbourseam.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstring>

namespace corla {

namespace {

// The platform's states, under the names Linux gives them, so both builds say the same.
Neighbour entryFor(const MIB_IPNET_ROW2& row)
{
    Neighbour entry;
    switch (row.State) {
    case NlnsReachable:
        entry.stateName = "REACHABLE";
        entry.state = NeighbourState::Confirmed;
        break;
    case NlnsPermanent:
        entry.stateName = "PERMANENT";
        entry.state = NeighbourState::Confirmed;
        break;
    case NlnsStale:
        entry.stateName = "STALE";
        entry.state = NeighbourState::SeenLately;
        break;
    case NlnsDelay:
        entry.stateName = "DELAY";
        entry.state = NeighbourState::SeenLately;
        break;
    case NlnsProbe:
        entry.stateName = "PROBE";
        entry.state = NeighbourState::SeenLately;
        break;
    case NlnsIncomplete:
        entry.stateName = "INCOMPLETE";
        break;
    default:
        entry.stateName = "FAILED";
        break;
    }
    if (row.PhysicalAddressLength == entry.linkAddress.size()) {
        std::memcpy(entry.linkAddress.data(), row.PhysicalAddress, entry.linkAddress.size());
        entry.hasLinkAddress = true;
    }
    return entry;
}

} // namespace

// The table is read, never asked to resolve: SendARP would put a request on the wire for
// an address it does not hold and block until that timed out.
Neighbour neighbourOf(const std::string& dottedAddress)
{
    Neighbour best;
    const unsigned long target = inet_addr(dottedAddress.c_str());
    if (target == INADDR_NONE) {
        best.errorCode = ERROR_INVALID_PARAMETER;
        return best;
    }
    PMIB_IPNET_TABLE2 table = nullptr;
    const DWORD rc = GetIpNetTable2(AF_INET, &table);
    if (rc != NO_ERROR) {
        best.errorCode = rc;
        return best;
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.Address.Ipv4.sin_addr.S_un.S_addr != target)
            continue;
        const Neighbour entry = entryFor(row);
        if (entry.state > best.state || best.stateName.empty())
            best = entry;
    }
    FreeMibTable(table);
    return best;
}

} // namespace corla
