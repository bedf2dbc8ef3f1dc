// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli discover: the devices that answer an enquiry, optionally with their port 21
// reachability.

#include "tools/corla-cli/command.h"

namespace corla {

class DiscoverCommand : public Command
{
public:
    DiscoverCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

} // namespace corla
