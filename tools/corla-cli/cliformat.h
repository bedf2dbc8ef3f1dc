#pragma once
// What corla-cli prints. Pure functions over the device list: its texts and its CSV
// export are the window's, so the CSV is byte for byte the list's export and the table
// shows what the window shows.

#include "clicommand.h"
#include "corladevicelist.h"

#include <QHash>
#include <QString>

// Why each probed device has its status, by MAC address text.
using CliReasons = QHash<QString, QString>;

// By serial number, then MAC address. withStatus adds each device's reachability and its
// reason (after --probe): a first and a last column in the table, "status" and "reason"
// members in JSON, two trailing columns in CSV; without it CSV is the export format alone.
QString formatDevices(const CorlaDeviceList& list, CliFormat format, bool withStatus,
                      const CliReasons& reasons = {});

// "static 10.10.0.50 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0", "DHCP 10.10.0.100 ..."
QString settingsText(const TevNetHostInfo& settings);
