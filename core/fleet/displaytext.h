// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Text from outside the program (a plan's cells, a file name) made safe to show on a
// terminal or in a message: control characters would move the cursor, change colours or
// retitle the window, so each is shown by its code instead.

#include <QString>

namespace corla {

// Replaces every control character (U+0000-U+001F, U+007F and U+0080-U+009F) by "\xHH",
// lower-case hex: an ESC becomes "\x1b", a tab "\x09". Everything else, letters of any
// script and a backslash included, stays as it is.
QString escapedForDisplay(const QString& text);

} // namespace corla
