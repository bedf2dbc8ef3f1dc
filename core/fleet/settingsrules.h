// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The rules for new network settings given as text, as corla-cli takes them: which
// address texts are acceptable, what a change request carries and when the
// duplicate-address echo comes first. Addresses and masks are judged by the value rules
// of addresses.h, which the settings pane applies to what is typed into it.

#include "core/wire/addresses.h"

#include <QString>

namespace corla {

// Each returns an empty string when the text is acceptable, else why not; `what` names
// the field. *out is set only for an acceptable text.
QString checkIpText(const QString& text, const QString& what, Ipv4Address* out);
QString checkHostAddressText(const QString& text, const QString& what, Ipv4Address* out);
// `what` names the field in the message: an option of the command line, a plan's column.
QString checkMaskText(const QString& text, const QString& what, Ipv4Address* out);
QString checkMacText(const QString& text, MacAddress* out);
// A static address as `set --static` takes it: "10.10.0.50", or with the length of its
// network prefix, "10.10.0.50/24" (1 to 31), which gives *mask; without one *mask is 0.
QString checkStaticText(const QString& text, const QString& what, Ipv4Address* ip,
                        Ipv4Address* mask);

// The settings a change request carries when only the mode and, for static settings, the
// four addresses are asked for: DHCP keeps the reported address fields and switches the
// mode; static replaces address, mask, gateway and DNS server. The MAC is the device's.
NetworkSettings settingsToSend(const NetworkSettings& reported, const NetworkSettings& requested);
// Whether static settings need the duplicate-address echo first: not for DHCP, and not
// for the device's own current address, at which the device itself would answer.
bool needsDuplicateCheck(const NetworkSettings& reported, const NetworkSettings& toSend);

} // namespace corla
