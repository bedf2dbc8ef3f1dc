// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// How each of our programs answers a command line it cannot take: one line saying what is
// wrong, with the program's name before it, and a line pointing to the help.

#include <QString>

namespace corla {

enum class UsageHintStyle
{
    Sentence, // "Try 'corla-cli set --help'."
    Prefixed, // "corla-sim: try 'corla-sim --help'"
};

// The line pointing to the help, without its line end. `topic` is what comes before --help:
// the program (when empty), or the program and one of its commands ("corla-cli set").
QString usageHint(const QString& program, UsageHintStyle style = UsageHintStyle::Sentence,
                  const QString& topic = QString());

// "PROGRAM: MESSAGE" and the hint, each on a line of its own.
QString usageErrorText(const QString& program, const QString& message,
                       UsageHintStyle style = UsageHintStyle::Sentence,
                       const QString& topic = QString());

// Writes usageErrorText() to stderr.
void printUsageError(const QString& program, const QString& message,
                     UsageHintStyle style = UsageHintStyle::Sentence,
                     const QString& topic = QString());

// Writes usageErrorText() to stderr and ends the process with `status`.
[[noreturn]] void exitWithUsageError(const QString& program, const QString& message, int status,
                                     UsageHintStyle style = UsageHintStyle::Sentence,
                                     const QString& topic = QString());

} // namespace corla
