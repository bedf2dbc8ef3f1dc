// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/inetseam.h"

#include <arpa/inet.h>

namespace corla {

bool inetPton4(const char* text, uint32_t* networkOrder)
{
    in_addr addr{};
    if (inet_pton(AF_INET, text, &addr) != 1)
        return false;
    *networkOrder = addr.s_addr;
    return true;
}

} // namespace corla
