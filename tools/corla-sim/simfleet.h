// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The simulated instruments: what each one reports and how it behaves, the built-in
// fleet, generated burst fleets and the JSON form of a fleet.

#include "core/wire/addresses.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

namespace corla {

struct SimDevice
{
    int8_t type = 0;
    uint16_t serial = 0;
    NetworkSettings net; // address, mask, gateway, DNS, MAC, mode as the device reports them
    bool port21 = true;  // a TCP listener on port 21 while the device has an address
    bool web = false;    // a small web page on port 80
    // A change request is always refused with this code (0: judged on its merits).
    int16_t refuse = 0;
    // How long the device stays silent after a reset; negative: the simulator's default.
    int resetSilenceMs = -1;
    // The device-side interface (its segment) on which it hears requests; empty: every one.
    QString iface;
    // Generated burst devices live in a prefix that the lab makes local as a whole.
    bool burst = false;
};

using SimFleet = QVector<SimDevice>;

// About twenty instruments: every named device type, DHCP and static, one without an
// address, one in a foreign subnet, some with port 21 closed, some with web pages, one
// that refuses every change. Addresses lie in the lab's host subnets.
SimFleet defaultFleet();

// `count` generated devices with static addresses counted up from `first` (skipping
// host parts 0 and 255), cycling through the named device types; every one has port 21.
SimFleet burstFleet(int count, Ipv4Address first, const QString& iface);

// Reads a fleet: {"devices": [ {...}, ... ]} or the bare array. Unknown keys, malformed
// addresses and repeated MAC addresses are errors, so that typing mistakes show.
bool parseFleet(const QByteArray& json, SimFleet* fleet, QString* error);
QByteArray fleetToJson(const SimFleet& fleet);

// "dhcp", "static" or "none".
QString addressModeName(AddressMode mode);
QString deviceName(const SimDevice& device); // "<type name> #<serial>"

} // namespace corla
