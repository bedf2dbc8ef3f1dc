// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli apply: give the devices of a commissioning plan their planned settings.

#include "tools/corla-cli/command.h"

namespace corla {

class ApplyCommand : public Command
{
public:
    ApplyCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

} // namespace corla
