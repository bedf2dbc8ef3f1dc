// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli ping: one ICMP echo request, and why no reply came.

#include "tools/corla-cli/command.h"

namespace corla {

class PingCommand : public Command
{
public:
    PingCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

} // namespace corla
