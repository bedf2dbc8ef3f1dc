#pragma once
// What corla-cli prints. Pure functions over the device list: its texts and its CSV
// export are the window's, so the CSV is byte for byte the list's export and the table
// shows what the window shows.

#include "clicommand.h"
#include "corladevicelist.h"

#include <QString>

// By serial number, then MAC address. withStatus adds each device's reachability (after
// --probe): a first column in the table, a "status" member in JSON. CSV is always the
// export format alone.
QString formatDevices(const CorlaDeviceList& list, CliFormat format, bool withStatus);

// "static 10.10.0.50 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0", "DHCP 10.10.0.100 ..."
QString settingsText(const TevNetHostInfo& settings);
