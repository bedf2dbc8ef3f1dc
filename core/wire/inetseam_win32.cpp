// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/inetseam.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace corla {

bool inetPton4(const char* text, uint32_t* networkOrder)
{
    IN_ADDR addr{};
    if (InetPtonA(AF_INET, text, &addr) != 1)
        return false;
    *networkOrder = addr.S_un.S_addr;
    return true;
}

} // namespace corla
