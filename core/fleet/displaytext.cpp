// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/displaytext.h"

namespace corla {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

} // namespace

QString escapedForDisplay(const QString& text)
{
    static const char Hex[] = "0123456789abcdef";
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!isControl(u)) {
            shown += c;
            continue;
        }
        shown += QLatin1String("\\x");
        shown += QLatin1Char(Hex[u >> 4]);
        shown += QLatin1Char(Hex[u & 0xf]);
    }
    return shown;
}

} // namespace corla
