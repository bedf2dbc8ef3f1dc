// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The record of what Corla asked devices to do: a CSV file that only grows, a line
// per change or reset request when it is sent and a line per answer the window hears, so
// that a commissioning session can be traced afterwards without a screen of message boxes.

#include "core/net/device.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace corla {

struct ChangeLogEntry
{
    QDateTime time;
    MacAddress mac;
    uint16_t serial = 0;
    DeviceType type = DeviceType::NoDevice;
    NetworkSettings found;                    // as the list showed the device
    std::optional<NetworkSettings> requested; // none for a reset
    QString outcome; // "sent", "changed", "refused: <reason>", "reset sent", ...
    QString program; // "corla", "corla-cli"
};

class ChangeLog
{
public:
    // corla/changes.csv in the user's data folder (~/.local/share on Linux).
    static QString defaultPath();

    explicit ChangeLog(const QString& path);
    QString path() const { return m_path; }

    // The time (ISO 8601 with the offset from UTC), MAC address, serial number, type, the
    // five settings as found and as requested (empty for a reset), the outcome and the
    // program that sent the request.
    static QString header();
    static QString line(const ChangeLogEntry& entry);

    // Appends the entry's line, after the header when the file is new or empty, making
    // the folder if needed. Programs appending at the same moment take turns through the
    // lock file beside the log (changes.csv.lock), so a new log gets one header. False
    // with the reason in *why when it cannot: the system's words, or what stands at the
    // path when it is no regular file ("it is a folder, not a regular file").
    bool append(const ChangeLogEntry& entry, QString* why = nullptr) const;

private:
    QString m_path;
};

} // namespace corla
