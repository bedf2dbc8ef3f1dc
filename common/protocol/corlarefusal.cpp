// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "corlarefusal.h"

const char* refusalReason(CorlaRefusal code)
{
    switch (code) {
    case CorlaRefusal::DeviceError:
        return "An error occured in the device.";
    case CorlaRefusal::InvalidAddress:
        return "The IP address was invalid.";
    case CorlaRefusal::InvalidSubnet:
        return "The subnet was invalid.";
    case CorlaRefusal::InvalidGateway:
        return "The gateway address was invalid.";
    case CorlaRefusal::BroadcastAddress:
        return "The IP address was a broadcast address.";
    case CorlaRefusal::SameAddress:
        return "The IP address given was the same as the device's existing address.";
    case CorlaRefusal::InvalidMode:
        return "The address acquisition mode was invalid.";
    case CorlaRefusal::None:
        break;
    }
    return "";
}
