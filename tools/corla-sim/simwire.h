// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The device's half of the discovery protocol: requests as a device reads them and
// answers as a device writes them, both through the program's codec, and the device's
// verdict on new network settings.

#include "core/wire/refusal.h"
#include "tools/corla-sim/simfleet.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

namespace corla {

struct SimRequest
{
    uint8_t code = 0;
    int8_t type = 0;
    uint16_t serial = 0;
    MacAddress mac;
    uint16_t responsePort = 0;
    NetworkSettings requested; // change requests: the settings asked for (MAC included)
};

// Reads the request layout of `code` (enquiry 11 bytes, change 28 bytes, reset text
// "MAC=<mac>;PORT=<port>"). False, with a reason, for an unknown code or a payload that
// does not fit its layout.
bool decodeRequest(uint8_t code, const std::vector<uint8_t>& payload, SimRequest* request,
                   QString* why);

// Whole answer frames. The enquiry answer is 26 bytes of payload, 22 without DNS; the
// change answer carries the error code where the request has its port, then the settings
// the device now holds; the reset answer is "MAC=" and the MAC in upper-case hex pairs.
QByteArray enquiryAnswer(const SimDevice& device, bool withoutDns);
QByteArray changeAnswer(const SimDevice& device, Refusal error);
QByteArray resetAnswer(const MacAddress& mac);
QByteArray corlaFrame(uint8_t code, const QByteArray& payload);

// Ways to misbehave on the wire, each as a switch of the simulator.
struct SimFaults
{
    bool duplicate = false;    // every answer datagram goes out twice
    QByteArray stray;          // bytes ahead of every answer frame
    int splitAt = 0;           // > 0: every answer datagram goes out as two, cut there
    int framesPerDatagram = 1; // consecutive answers to one request share a datagram
    int unknownCode = -1;      // >= 0: a frame with this code ahead of every answer frame
    bool shortAnswers = false; // enquiry answers end before their DNS field (22 bytes)
};

// The datagrams that carry `frames` (the answers to one request, in order) under `faults`:
// per frame the stray bytes, the unknown frame and the frame; grouped; cut; doubled.
QList<QByteArray> shapeAnswers(const QList<QByteArray>& frames, const SimFaults& faults);

// What --rogue-sender sends ahead of the answers to every enquiry, from a socket of its
// own: a header announcing 16000 bytes, 65507 bytes of 0x2A (the largest UDP payload),
// the enquiry answer of `device` without its CRC, three answers no one asked for (a change
// refused with 4, a change accepted at x.y.z.222, a reset) and a header announcing 100
// bytes that never come. Every answer in it names `device`; none invents another.
QList<QByteArray> rogueDatagrams(const SimDevice& device);

// A forging sender, another host on the device segment (--forge): it answers requests
// ahead of the devices, with answers of its own making.
struct SimForge
{
    bool accept = false; // every change request: "accepted", echoing the requested settings
    bool refuse = false; // every change request: refused with ForgedRefusal
    int ackFlood = 0;    // > 0: every reset acknowledged and every change refused this often
    // Not null: every enquiry that reaches this device gets a second answer for it.
    MacAddress enquiryMac;
    // > 0: every enquiry also gets this many answers for devices that do not exist, each
    // with a MAC address of its own (forgedDeviceAnswer).
    int macs = 0;

    bool isActive() const
    {
        return accept || refuse || ackFlood > 0 || !enquiryMac.isNull() || macs > 0;
    }
};

// The most devices --forge macs:N invents per enquiry.
constexpr int MaxForgedMacs = 300000;

// The forger's refusal code, and the gateway and DNS server its enquiry answers claim.
constexpr Refusal ForgedRefusal = Refusal::InvalidAddress;
constexpr uint32_t ForgedRouter = 0x0A0A0042u; // 10.10.0.66

// What the forger sends ahead of the devices' answers to `request`, one frame per datagram.
// `device` is the simulated device that the request concerns, or null: for a change or a
// reset the device it names, for an enquiry the one --forge enquiry:MAC names when the
// request reaches it. Forged answers are built from copies: no device changes.
QList<QByteArray> forgedAnswers(const SimForge& forge, const SimRequest& request,
                                const SimDevice* device);

// The enquiry answer of the forger's invented device number `index` (0 up to
// MaxForgedMacs): MAC address 02:ff and the index in four octets, static address 10.128.0.0
// plus index + 1 in 10.128.0.0/9. Made one at a time as they go out, so that hundreds of
// thousands of them never sit in memory together.
QByteArray forgedDeviceAnswer(int index);

// What a device answers to a change request: its configured refusal if it has one, else
// the first fault found in the order mode (6), mask (2), address (1), broadcast (4),
// unchanged static address (5), gateway (3); else 0. DHCP requests carry no settings to
// judge. A DHCP device asked to keep its present address statically is not "unchanged".
Refusal judgeChange(const SimDevice& device, const NetworkSettings& requested);

} // namespace corla
