// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// A plan for commissioning a fleet: the device list's CSV export, edited in a spreadsheet,
// naming for each device (by MAC address) the settings it should have. The whole plan is
// read and judged before anything is sent, so that a mistake on the last line cannot leave
// half a fleet changed; the changes are then put in an order in which no two devices ever
// answer at the same address.

#include "core/wire/addresses.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace corla {

struct PlanFault
{
    int line = 0; // 1-based: where the row (or the header) begins in the file
    QString message;

    // "line 3: ...", as a person reads it.
    QString text() const;
};

struct PlanRow
{
    int line = 0;
    // The MAC address is the row's. A DHCP row plans the mode alone: its address fields
    // are 0.0.0.0 whatever its cells say, since the device's DHCP server chooses them. A
    // row whose mode reads "Unknown" plans the mode 0 and its four address cells.
    NetworkSettings planned;
    // What no device can be given: the mode Unknown, a broadcast, multicast or zero MAC, an
    // address or mask a device refuses, an address planned twice. The export writes such
    // values for devices that report them, so they are faults only once a device is found
    // that reports other settings than the row (or the rows of unlessAlsoAsFound) says: an
    // unedited export plans nothing to change.
    QStringList unlessAsFound;
    QVector<int>
        unlessAlsoAsFound; // lines of other rows (the first row of a twice-planned address)
};

struct Plan
{
    // Every row without a fault, in file order. Of two rows planning the same MAC or the
    // same static address, the later one has the fault.
    QVector<PlanRow> rows;
    // Every fault found, by line. A plan with any fault must not be applied at all.
    QVector<PlanFault> faults;

    bool ok() const { return faults.isEmpty(); }
};

// Reads and judges a plan file: UTF-8 with or without a byte-order mark, or UTF-16 with one
// (either byte order); LF or CRLF, RFC 4180 quoting, blank lines and rows of empty cells
// ignored. The header line's separator is the plan's: a comma, or a semicolon or a tab
// (as spreadsheets save CSV under many locales). Bytes that are not such text give one fault and no
// rows: on line 1, "not text: " and what they look like ("binary data at byte N", UTF-16 without a
// byte-order mark, UTF-32), or, for text in a legacy 8-bit encoding, on the line of its first byte
// that is not UTF-8; byte positions count from 1. A NUL character is a fault on its line, with its
// column. Messages show the control characters of a cell as "\xHH". Columns are found by their
// header names, in any case and order; columns other than MAC Address, Address mode, IP Address,
// Subnet Mask, Gateway and DNS Server are ignored, and the last two may be missing (no
// gateway, no DNS server). A static row is held to the rules of the settings pane and
// `corla-cli set`, and besides needs a mask other than 0.0.0.0 and an address that is
// neither the network nor the broadcast address of its mask; where a cell holds a value
// that breaks these rules but that a device may report, the fault waits in the row's
// unlessAsFound for the devices to be found (planFaultsAgainst).
Plan readPlan(const QByteArray& bytes);

// The faults of rows (unlessAsFound) whose device reports other settings than the row says,
// among `found` (each with its own MAC address). A row whose device did not answer has none
// here: it ends "not found". Such faults refuse the whole plan, as those of readPlan do.
QVector<PlanFault> planFaultsAgainst(const Plan& plan, const QVector<NetworkSettings>& found);

// Broadcast and multicast MAC addresses (the lowest bit of the first octet of the text
// form is set) name a group of stations, never one device.
bool isGroupMac(const MacAddress& mac);

enum class PlanRowState
{
    NotFound,         // no found device has the row's MAC address
    AlreadyAsPlanned, // nothing to send
    ToChange,
};

// For a DHCP plan only the mode must match, since the addresses are the DHCP server's to
// choose; for any other (static, or the mode Unknown) every address field and the mode.
bool isAsPlanned(const NetworkSettings& planned, const NetworkSettings& current);
// `found`: the settings of the devices that answered, each with its own MAC address.
PlanRowState rowState(const PlanRow& row, const QVector<NetworkSettings>& found);

struct PlanStep
{
    PlanRow row;
    // Found devices that hold the row's planned address now and move away from it at
    // earlier steps. An in-use check made before the run hears them there; one made at
    // this step should not.
    QVector<MacAddress> leftBy;
};

struct ChangeOrder
{
    // In the order to send them. With faults, only the changes that could be made.
    QVector<PlanStep> steps;
    // Every change that cannot be placed, by line: its address is held by a found device
    // that stays there, it belongs to a swap or a longer circle of moves, or it waits for
    // one of those.
    QVector<PlanFault> faults;

    bool ok() const { return faults.isEmpty(); }
    // Planned addresses that other planned devices hold now and leave first, each once.
    QVector<Ipv4Address> addressesBeingLeft() const;
};

// Orders `changes` (the rows whose state is ToChange) so that a device moves to an address
// only once every other found device that holds it has moved away. A device moving to
// DHCP leaves its address; one keeping its address holds it. Swaps and longer circles are
// refused: within the protocol they could only be broken through a spare free address,
// which the plan does not name.
ChangeOrder orderChanges(const QVector<PlanRow>& changes, const QVector<NetworkSettings>& found);

} // namespace corla
