// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "inetseam.h"

#include <arpa/inet.h>

bool corlaInetPton4(const char* text, uint32_t* networkOrder)
{
    in_addr addr{};
    if (inet_pton(AF_INET, text, &addr) != 1)
        return false;
    *networkOrder = addr.s_addr;
    return true;
}
