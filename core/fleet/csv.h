// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The device list's CSV export, as the window's Export and `corla-cli discover --format
// csv` write it: a header line, then one line per device, each ending in "\n". A field
// that holds a comma, a double quote, CR or LF is quoted (RFC 4180).

#include "core/fleet/devicelist.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace corla {

QString csvHeader();
// One field as it stands in a line: quoted, with its quotes doubled, only where needed.
QString csvField(const QString& text);
// Without its line end.
QString csvLine(const Device& device);
// Fields quoted as needed and joined by commas, without a line end.
QString csvRecord(const QStringList& fields);
// IP address, mask, gateway, DNS server and mode as the export writes them; five empty
// fields when there are no settings to write.
QStringList csvSettingFields(const std::optional<NetworkSettings>& settings);
QString devicesCsv(const DeviceList::Devices& devices);

struct CsvFileResult
{
    enum Failure
    {
        Written,
        NotOpened,  // no file could be made there, or what is there is no regular file:
                    // nothing was written and nothing there was touched
        NotWritten, // the file could not be written completely: the old one is untouched
    };
    Failure failure = Written;
    // Why, when not Written: the system's words ("No space left on device", "Permission
    // denied") or what stands at the path ("it is a FIFO, not a regular file").
    QString reason;

    bool ok() const { return failure == Written; }
};

// Empty when path names a regular file (through any symbolic links) or nothing yet;
// otherwise what stands there, as "it is a character device, not a regular file". A
// device, FIFO, socket or folder must never be replaced by a file nor written into.
QString notRegularFileReason(const QString& path);

// Writes csv to path through QSaveFile, in text mode and the locale's encoding (ASCII for
// every field a device reports): the file there is replaced only once all of it is
// written, so a full disk leaves the previous export as it was. A symbolic link is written
// through and stays a link; anything but a regular file is refused untouched.
CsvFileResult writeCsvFile(const QString& path, const QString& csv);

} // namespace corla
