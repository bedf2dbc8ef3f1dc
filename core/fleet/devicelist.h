// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The devices that answered, one entry per MAC address in the order they were first
// heard, with each one's reachability. The window's table and corla-cli keep their
// devices here, so a repeated answer merges the same way in both.

#include "core/net/device.h"

#include <QDateTime>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

namespace corla {

// A MAC address as one number, for hashing and ordering.
quint64 macKey(const MacAddress& mac);

// Two senders answered for one MAC address in the same round and disagree: a duplicate
// MAC address on the network, or a forged answer.
struct Conflict
{
    Ipv4Address firstSender;
    quint16 firstPort = 0;
    Ipv4Address otherSender;
    quint16 otherPort = 0;
    // "Gateway 10.10.0.1 / 10.10.0.66": the first sender's value, then the other's, in
    // column order (Device Type, Serial, IP Address, Subnet Mask, Gateway, DNS Server,
    // Address Mode).
    QStringList differences;
    // "Answers from 10.10.0.254 and 10.10.0.253 differ: Gateway 10.10.0.1 / 10.10.0.66.
    // Possibly a duplicate MAC address or a forged answer." The senders carry their ports
    // when only the ports differ.
    QString text() const;
};

class DeviceList : public QObject
{
    Q_OBJECT

public:
    using Devices = QList<std::shared_ptr<Device>>;
    // The most entries the list takes: further new MAC addresses are refused (counted in
    // ignoredAnswers), so that a flood of forged answers cannot fill memory.
    static constexpr int kDefaultCapacity = 65536;

    explicit DeviceList(QObject* parent = nullptr);

    int capacity() const { return m_capacity; }
    // At least 1. Entries already listed stay, even beyond it.
    void setCapacity(int capacity);
    // Answers and appends refused for capacity since beginRound (or clear).
    int ignoredAnswers() const { return m_ignored; }

    // Never holds an empty pointer.
    const Devices& devices() const { return m_devices; }
    int size() const { return m_devices.size(); }
    // First entry with this MAC address: its row, or -1; the record, or an empty pointer.
    int rowOf(const MacAddress& mac) const;
    std::shared_ptr<Device> find(const MacAddress& mac) const;
    bool contains(const MacAddress& mac) const { return rowOf(mac) >= 0; }

    // Appends unless the pointer is empty, its MAC address is listed or the list is full;
    // true if appended.
    bool append(std::shared_ptr<Device> device);
    // An enquiry answer: a device already listed (same MAC) takes the answer's settings as
    // updateSettings does, keeping its own record (type, serial, the interface it was
    // first heard on); a new one is appended. Within a round, an answer from another
    // sender (address or port, as answeredFrom() gives them) that differs in type, serial
    // or any network setting leaves the entry as the first sender gave it and marks it
    // conflicting instead; one that agrees changes nothing but the time it was heard. An
    // answer that repeats the settings listed leaves the entry (and its status) as it is.
    void merge(const std::shared_ptr<Device>& answer);
    // The entry with this MAC address takes the settings and becomes Pending until it is
    // probed again; false if none is listed. Settings with another MAC move the entry.
    // Our own confirmed change: the entry's conflict, if any, is over.
    bool updateSettings(const MacAddress& mac, const NetworkSettings& settings);
    // Every entry with this MAC address takes the status.
    void setStatus(const MacAddress& mac, Reachability status);
    void clear();

    // A new discovery starts: conflicts, "heard this round" and the count of ignored
    // answers are cleared (conflictChanged for each entry that had a conflict); entries
    // keep their records.
    void beginRound();
    // The first entry with this MAC address: its conflict in this round, if any.
    std::optional<Conflict> conflict(const MacAddress& mac) const;
    bool isConflicting(const MacAddress& mac) const;
    // Whether an answer for it has been merged since beginRound (or clear).
    bool heardThisRound(const MacAddress& mac) const;
    // When its last answer was merged; invalid if never (or unlisted).
    QDateTime lastHeard(const MacAddress& mac) const;

    // By serial number, then MAC address, so that repeated runs list the same order.
    Devices sortedBySerial() const;

signals:
    // Around every change, so that an item model can announce it to its views.
    void aboutToAppend(int row);
    void appended(int row);
    void aboutToClear();
    void cleared();
    void settingsChanged(int row);
    void statusChanged(int row);
    void conflictChanged(int row);
    // The first new MAC address of the round (since beginRound or clear) that the full
    // list refused; once per round.
    void capacityReached(int capacity);

private:
    // What the list knows of an entry's answers, beside its record.
    struct Heard
    {
        bool thisRound = false;
        Ipv4Address sender; // the first sender heard this round
        quint16 port = 0;
        QDateTime last; // UTC: the local time zone is looked up only when it is read
        std::optional<Conflict> conflict;
    };

    // Rows holding this MAC address, in list order (normally at most one).
    QVector<int> rowsOf(const MacAddress& mac) const;
    void rebuildMacIndex();
    void applySettings(int row, const NetworkSettings& settings);
    void noteHeard(int row, const Device& answer);
    const Heard* heardOf(const MacAddress& mac) const;

    Devices m_devices;
    QVector<Heard> m_heard; // by row
    // MAC address -> rows, so that a fleet of thousands is not searched row by row for
    // every answer and probe result. Entries change their MAC address only through
    // updateSettings, which keeps the index up to date.
    QMultiHash<quint64, int> m_rowsByMac;
    int m_capacity = kDefaultCapacity;
    int m_ignored = 0;
};

// A device's fields as the list shows them: in the window, the export and corla-cli.
namespace DisplayText {
QString deviceType(DeviceType type);   // "Nerio HF", "Unrecognized Device"
QString addressMode(AddressMode mode); // "DHCP", "Static", "Unknown"
QString address(const Ipv4Address& address);
QString mac(const MacAddress& mac);
QString status(Reachability status); // "Reachable", "Unreachable", "NoIp", ...
} // namespace DisplayText

} // namespace corla
