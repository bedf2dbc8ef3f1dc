#include "addressinuse.h"

CorlaInUse corlaAddressInUse(const std::string& dottedAddress, uint32_t timeoutMs)
{
    CorlaInUse use;
    use.echo = corlaIcmpEcho(dottedAddress, timeoutMs);
    use.neighbour = corlaNeighbourOf(dottedAddress);
    if (use.echo.replyCount != 0)
        use.by = CorlaInUseBy::Echo;
    else if (use.neighbour.state != CorlaNeighbourState::Absent)
        use.by = CorlaInUseBy::LinkLayer;
    return use;
}
