#pragma once
// What corla-cli prints. Pure functions over the device list: its texts and its CSV
// export are the window's, so the CSV is byte for byte the list's export and the table
// shows what the window shows.

#include "clicommand.h"
#include "corladevicelist.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <optional>

// Why each probed device has its status, by MAC address text.
using CliReasons = QHash<QString, QString>;

// By serial number, then MAC address. withStatus adds each device's reachability and its
// reason (after --probe): a first and a last column in the table, "status" and "reason"
// members in JSON, two trailing columns in CSV; without it CSV is the export format alone.
QString formatDevices(const CorlaDeviceList& list, CliFormat format, bool withStatus,
                      const CliReasons& reasons = {});

// "static 10.10.0.50 mask 255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0", "DHCP 10.10.0.100 ..."
QString settingsText(const TevNetHostInfo& settings);

// How one plan row of `apply` ended.
enum class CliOutcome
{
    Unchanged,    // already as planned: nothing sent
    Changed,      // accepted, and an enquiry afterwards reports every planned field
    WouldChange,  // --dry-run: the change would be sent
    NotFound,     // no device with the row's MAC address answered
    InUse,        // a host answers at the planned address, or a device of the plan stays there
    Refused,      // the device refused, for `reason`
    RefusedOrder, // a swap or circle of moves, or waiting for one: nothing sent
    NotConfirmed, // no answer, or the device reports other settings afterwards
};

struct CliApplyRow
{
    int line = 0; // the row's line in the plan
    TevMacAddr mac;
    // The device as discovery found it; no settings when it did not answer.
    uint16_t serial = 0;
    ZelDeviceType type = ZelDeviceType::NoDevice;
    std::optional<TevNetHostInfo> found;
    // The settings it was left with; none when unknown.
    std::optional<TevNetHostInfo> left;
    CliOutcome outcome = CliOutcome::NotFound;
    QString reason;

    // True for the outcomes a successful apply ends with.
    bool ok() const;
    // "changed", "refused: The subnet was invalid.", ...
    QString outcomeText() const;
};

// apply's report, a line per plan row in plan order. CSV: a header line, then the line
// number, MAC address, serial number and type, the five settings as found and as left
// (empty where unknown) and the outcome. JSON: an array of objects with "found" and "left"
// null where unknown.
QString formatApplyReport(const QVector<CliApplyRow>& rows, CliFormat format);
