#pragma once
// What corla-cli prints. Pure functions over device records: the device list's own
// model supplies the texts, so the CSV is byte for byte the list's export and the
// table shows what the window shows.

#include "clicommand.h"
#include "zeldevice.h"

#include <QList>
#include <QString>

#include <memory>

class CorlaTableModel;

using CliDeviceList = QList<std::shared_ptr<TevDevice>>;

// An enquiry answer joins the list as in the device window: a device already listed (same
// MAC) takes the answer's settings, keeping its interface address; a new one is appended.
void mergeAnswer(CorlaTableModel* list, const std::shared_ptr<TevDevice>& answer);

// By serial number, then MAC address, so that repeated runs print the same order.
CliDeviceList sortedForOutput(CliDeviceList devices);

// withStatus adds each device's reachability (after --probe): a first column in the
// table, a "status" member in JSON. CSV is always the export format alone.
QString formatDevices(const CliDeviceList& devices, CliFormat format, bool withStatus);
QString formatTable(const CliDeviceList& devices, bool withStatus);
QString formatCsv(const CliDeviceList& devices);
QString formatJson(const CliDeviceList& devices, bool withStatus);

// "static 10.10.0.50 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0", "DHCP 10.10.0.100 ..."
QString settingsText(const TevNetHostInfo& settings);
