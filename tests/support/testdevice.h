// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Devices and addresses in one line each, so that test tables can hold them as literals.

#include "zeldevice.h"

#include <QString>

#include <memory>

inline TevMacAddr macOf(const char* text)
{
    TevMacAddr mac;
    TevMacAddr::parse(text, &mac);
    return mac;
}

template <class Address> QString text(const Address& address)
{
    return QString::fromStdString(address.toString());
}

// An answer as the adapter would report it: mask 255.255.255.0, heard on 10.10.0.1.
inline std::shared_ptr<TevDevice> testDevice(ZelDeviceType type, uint16_t serial, const char* mac,
                                             const char* ip,
                                             TevAddressMode mode = TevAddressModeManual,
                                             const char* gateway = "0.0.0.0",
                                             const char* dns = "0.0.0.0")
{
    auto device = TevDevice::createDevice(type);
    device->setSerial(serial);
    device->setNetHostInfo(TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"),
                                          TevIpAddr(gateway), TevIpAddr(dns), macOf(mac), mode));
    device->setCommsIfaceAddr(TevIpAddr("10.10.0.1"));
    return device;
}
