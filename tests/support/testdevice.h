// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Devices and addresses in one line each, for test tables.

#include "core/net/device.h"

#include <QString>

#include <memory>

namespace corla {

inline MacAddress macOf(const char* text)
{
    MacAddress mac;
    MacAddress::parse(text, &mac);
    return mac;
}

template <class Address> QString text(const Address& address)
{
    return QString::fromStdString(address.toString());
}

// An answer as the adapter would report it: mask 255.255.255.0, heard on 10.10.0.1.
inline std::shared_ptr<Device> testDevice(DeviceType type, uint16_t serial, const char* mac,
                                          const char* ip, AddressMode mode = AddressModeStatic,
                                          const char* gateway = "0.0.0.0",
                                          const char* dns = "0.0.0.0")
{
    auto device = std::make_shared<Device>(type);
    device->setSerial(serial);
    device->setNetHostInfo(NetworkSettings(Ipv4Address(ip), Ipv4Address("255.255.255.0"),
                                           Ipv4Address(gateway), Ipv4Address(dns), macOf(mac),
                                           mode));
    device->setCommsIfaceAddr(Ipv4Address("10.10.0.1"));
    return device;
}

} // namespace corla
