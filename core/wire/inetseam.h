// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The one socket-library call the address types need, behind a seam so that the
// POSIX and the Win32 builds each bring their own.
#include <cstdint>

namespace corla {

// Parses dotted IPv4 text (exactly four decimal octets). On success stores the
// address in network byte order, as the platform returns it, and returns true.
bool inetPton4(const char* text, uint32_t* networkOrder);

} // namespace corla
