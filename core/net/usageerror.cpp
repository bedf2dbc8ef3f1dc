// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/usageerror.h"

#include <cstdio>
#include <cstdlib>

namespace corla {

QString usageHint(const QString& program, UsageHintStyle style, const QString& topic)
{
    const QString about = topic.isEmpty() ? program : topic;
    if (style == UsageHintStyle::Prefixed)
        return QStringLiteral("%1: try '%2 --help'").arg(program, about);
    return QStringLiteral("Try '%1 --help'.").arg(about);
}

QString usageErrorText(const QString& program, const QString& message, UsageHintStyle style,
                       const QString& topic)
{
    return QStringLiteral("%1: %2\n%3\n").arg(program, message, usageHint(program, style, topic));
}

void printUsageError(const QString& program, const QString& message, UsageHintStyle style,
                     const QString& topic)
{
    std::fputs(usageErrorText(program, message, style, topic).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void exitWithUsageError(const QString& program, const QString& message, int status,
                        UsageHintStyle style, const QString& topic)
{
    printUsageError(program, message, style, topic);
    std::exit(status);
}

} // namespace corla
