// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "addressinuse.h"

#include <algorithm>

CorlaInUse corlaJudgeInUse(const CorlaEchoOutcome& echo, const CorlaNeighbour& neighbour,
                           const std::vector<CorlaLinkAddress>& disregard)
{
    CorlaInUse use;
    use.echo = echo;
    use.neighbour = neighbour;
    if (corlaEchoAnswered(echo)) {
        use.by = CorlaInUseBy::Echo;
    } else if (neighbour.state != CorlaNeighbourState::Absent) {
        use.linkAddressDisregarded =
            neighbour.hasLinkAddress &&
            std::find(disregard.begin(), disregard.end(), neighbour.linkAddress) != disregard.end();
        if (!use.linkAddressDisregarded)
            use.by = CorlaInUseBy::LinkLayer;
    }
    return use;
}

CorlaInUse corlaAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs,
                             const std::vector<CorlaLinkAddress>& disregard)
{
    const CorlaEchoOutcome echo = corlaIcmpEcho(dottedAddress, timeoutMs);
    return corlaJudgeInUse(echo, corlaNeighbourOf(dottedAddress), disregard);
}
