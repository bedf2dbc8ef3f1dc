// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli reset: restarts a device by its MAC address, and watches for its return.

#include "tools/corla-cli/command.h"

namespace corla {

class ResetCommand : public Command
{
public:
    ResetCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

} // namespace corla
