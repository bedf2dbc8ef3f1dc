// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/refusal.h"

namespace corla {

const char* refusalReason(Refusal code)
{
    switch (code) {
    case Refusal::DeviceError:
        return "An error occured in the device.";
    case Refusal::InvalidAddress:
        return "The IP address was invalid.";
    case Refusal::InvalidSubnet:
        return "The subnet was invalid.";
    case Refusal::InvalidGateway:
        return "The gateway address was invalid.";
    case Refusal::BroadcastAddress:
        return "The IP address was a broadcast address.";
    case Refusal::SameAddress:
        return "The IP address given was the same as the device's existing address.";
    case Refusal::InvalidMode:
        return "The address acquisition mode was invalid.";
    case Refusal::None:
        break;
    }
    return "";
}

} // namespace corla
