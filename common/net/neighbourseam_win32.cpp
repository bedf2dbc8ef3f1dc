// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "neighbourseam.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstring>

namespace {

// The platform's states, under the names Linux gives them, so both builds say the same.
CorlaNeighbour entryFor(const MIB_IPNET_ROW2& row)
{
    CorlaNeighbour entry;
    switch (row.State) {
    case NlnsReachable:
        entry.stateName = "REACHABLE";
        entry.state = CorlaNeighbourState::Confirmed;
        break;
    case NlnsPermanent:
        entry.stateName = "PERMANENT";
        entry.state = CorlaNeighbourState::Confirmed;
        break;
    case NlnsStale:
        entry.stateName = "STALE";
        entry.state = CorlaNeighbourState::SeenLately;
        break;
    case NlnsDelay:
        entry.stateName = "DELAY";
        entry.state = CorlaNeighbourState::SeenLately;
        break;
    case NlnsProbe:
        entry.stateName = "PROBE";
        entry.state = CorlaNeighbourState::SeenLately;
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
CorlaNeighbour corlaNeighbourOf(const std::string& dottedAddress)
{
    CorlaNeighbour best;
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
        const CorlaNeighbour entry = entryFor(row);
        if (entry.state > best.state || best.stateName.empty())
            best = entry;
    }
    FreeMibTable(table);
    return best;
}
