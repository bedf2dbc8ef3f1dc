// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Why a device refuses new network settings: the code of its change answer, which the
// adapter reads and the simulator writes. Plain C++, like the wire code around it.

#include <cstdint>

namespace corla {

// Codes without a name are legal values too: a device may send any, the simulator can be
// told to, and they read as a refusal without a reason.
enum class Refusal : int16_t
{
    None = 0, // the change was made
    DeviceError = -1,
    InvalidAddress = 1,
    InvalidSubnet = 2,
    InvalidGateway = 3,
    BroadcastAddress = 4,
    SameAddress = 5,
    InvalidMode = 6,
};

// The reason in the device's words; empty for None and for codes without a name.
const char* refusalReason(Refusal code);

} // namespace corla
