// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The device vocabulary: type codes, reachability, port and status values, and their
// display texts. Plain C++: the wire codec may use the enumerations without pulling in Qt.

#include <cstdint>
#include <map>
#include <string>

namespace corla {

// One signed byte on the wire. Codes without a name (17..64, 67..127, -128..-2)
// are legal values; they display as "Unrecognized Device".
enum class DeviceType : int8_t
{
    Unsupported = -1,
    NoDevice = 0,
    TavioLF = 1,
    NerioLF = 2,
    VRTQ = 3,
    Tavio = 4,
    NerioHF = 5,
    TavioHF = 6,
    NerioAF = 7,
    HostController = 8,
    HostLink = 9,
    Pivlo = 10,
    ExtenderHost = 11,
    LinkBoard = 12,
    BatteryPack = 13,
    ExtenderDevice = 14,
    Dorvi = 15,
    KWT = 16,
    NerioMF = 65, // 'A'
    ZQ = 66,      // 'B'
};

// Reachability of a device from this computer, as the device list knows it.
enum class Reachability : int32_t
{
    Reachable = 0,
    Unreachable = 1,
    NoIp = 2,
    Pending = 3,
    NotFound = 4,
};

// State of one TCP port or connection.
enum class PortState : int32_t
{
    Unknown = 0,
    Unavailable = 1,
    Available = 2,
    Connected = 3,
    ConnectionLost = 4,
};

// A device service, valued as its TCP port number: static_cast<quint16>(port) is
// what to connect to, and static_cast<DevicePort>(n) names any other port.
enum class DevicePort : uint16_t
{
    Ftp = 21,
};

enum class AcquisitionState : uint8_t
{
    Ready = 0,
    AcqNotReady = 1,
    NotReady = 2,
    ConfigFailed = 3,
    BaudRateConfig = 4,
    FilesystemFault = 5,
};

// Lookup tables and text conversions. Every conversion answers with a fixed
// fallback text for a value without an entry instead of failing.
// How a type's record is written to the debug dump: each family has its own banner and lines.
enum class DeviceFamily : uint8_t
{
    Generic,
    Hydrophone,     // Nerio HF, Nerio AF, Dorvi
    HostController, // Host Controller, KWT
    Recorder,       // smart recorders (type 13, shown as "Battery Pack")
};

// What the program knows of a device type beyond its code. A code without an entry is
// Generic, "Unrecognized Device", without a web page.
struct DeviceTypeTraits
{
    DeviceType type;
    const char* name;
    DeviceFamily family;
    bool hasWebPage; // serves its configuration page over HTTP
};
const DeviceTypeTraits& deviceTypeTraits(DeviceType type);

class DeviceTexts
{
public:
    DeviceTexts() = delete;

    static const std::map<DeviceType, std::string> deviceTypeNames;
    static const std::map<Reachability, std::string> networkStatStrings;
    static const std::map<PortState, std::string> portConnStatStrings;
    static const std::map<AcquisitionState, std::string> statusStrings;

    static std::string deviceTypeStr(DeviceType type);         // "Unrecognized Device"
    static std::string networkStatusStr(Reachability stat);    // "Invalid Status"
    static std::string portConnStatusStr(PortState stat);      // "Invalid Status"
    static std::string deviceStatusStr(AcquisitionState stat); // "Invalid Status"
};

} // namespace corla
