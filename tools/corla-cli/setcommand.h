// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli set: new network settings for a device, found by its MAC address.

#include "tools/corla-cli/command.h"

namespace corla {

class SetCommand : public Command
{
public:
    SetCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

// What `set` sends to a device that reported `reported`: the requested mode and static
// fields, and the reported gateway and DNS server where the request keeps them.
NetworkSettings settingsForSet(const CliRequest& request, const NetworkSettings& reported);

} // namespace corla
