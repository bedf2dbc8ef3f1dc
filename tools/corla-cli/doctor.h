// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// corla-cli doctor: what on this computer can keep devices from being heard; sends nothing.

#include "tools/corla-cli/command.h"

namespace corla {

class DoctorCommand : public Command
{
public:
    DoctorCommand();
    QString parse(const QCommandLineParser& parser, const QStringList& positional,
                  CliRequest* request) const override;
    int run(CliSession& session, const CliRequest& request) const override;
};

} // namespace corla
