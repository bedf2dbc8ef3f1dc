// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/addressinuse.h"

#include <algorithm>

namespace corla {

InUseFinding judgeInUse(const EchoOutcome& echo, const Neighbour& neighbour,
                        const std::vector<LinkAddress>& disregard)
{
    InUseFinding use;
    use.echo = echo;
    use.neighbour = neighbour;
    if (echoAnswered(echo)) {
        use.by = InUseBy::Echo;
    } else if (neighbour.state != NeighbourState::Absent) {
        use.linkAddressDisregarded =
            neighbour.hasLinkAddress &&
            std::find(disregard.begin(), disregard.end(), neighbour.linkAddress) != disregard.end();
        if (!use.linkAddressDisregarded)
            use.by = InUseBy::LinkLayer;
    }
    return use;
}

InUseFinding queryAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs,
                               const std::vector<LinkAddress>& disregard)
{
    const EchoOutcome echo = icmpEcho(dottedAddress, timeoutMs);
    return judgeInUse(echo, neighbourOf(dottedAddress), disregard);
}

} // namespace corla
