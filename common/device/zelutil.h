// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The device vocabulary: type codes, reachability, port and status values, and their
// display texts. Plain C++: the wire codec may use the enumerations without pulling in Qt.

#include <cstdint>
#include <map>
#include <string>

// One signed byte on the wire. Codes without a name (17..64, 67..127, -128..-2)
// are legal values; they display as "Unrecognized Device".
enum class ZelDeviceType : int8_t
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
enum class ZelNetworkStatus : int32_t
{
    Reachable = 0,
    Unreachable = 1,
    NoIp = 2,
    Pending = 3,
    NotFound = 4,
};

// State of one TCP port or connection.
enum class ZelPortConnStatus : int32_t
{
    Unknown = 0,
    Unavailable = 1,
    Available = 2,
    Connected = 3,
    ConnectionLost = 4,
};

// A device service, valued as its TCP port number: static_cast<quint16>(port) is
// what to connect to, and static_cast<ZelPort>(n) names any other port.
enum class ZelPort : uint16_t
{
    Ftp = 21,
};

enum class ZelDeviceStatus : uint8_t
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
class ZelUtil
{
public:
    ZelUtil() = delete;

    static const std::map<ZelDeviceType, std::string> deviceTypeNames;
    static const std::map<ZelNetworkStatus, std::string> networkStatStrings;
    static const std::map<ZelPortConnStatus, std::string> portConnStatStrings;
    static const std::map<ZelDeviceStatus, std::string> statusStrings;

    static std::string deviceTypeStr(ZelDeviceType type);         // "Unrecognized Device"
    static std::string networkStatusStr(ZelNetworkStatus stat);   // "Invalid Status"
    static std::string portConnStatusStr(ZelPortConnStatus stat); // "Invalid Status"
    static std::string deviceStatusStr(ZelDeviceStatus stat);     // "Invalid Status"
};
