// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/doctor.h"

#include "core/net/hostreport.h"
#include "tools/corla-cli/session.h"

namespace corla {

namespace {

const char* const Description =
    R"text(Tells what on this computer can keep devices from being heard, without root
and without sending anything: the interfaces that are up and their IPv4
addresses (an interface without one, or with only a link-local 169.254.x.x
address), and whether a host firewall is active that drops the devices'
answers (UDP from port 62726): ufw, firewalld, or an nftables or iptables input
policy of drop. Where something is found, the command that lets the answers in
is printed. Rulesets that only root may read are reported as "could not check".
Devices behind a router cannot be found by broadcast at all.)text";

} // namespace

DoctorCommand::DoctorCommand()
    : Command({"doctor", "doctor", "tell what on this computer can keep devices from being heard",
               "doctor", "Tell what on this computer can keep devices from being heard.",
               Description},
              {},
              {{CliExit::Ok, "nothing found that keeps devices from being heard"},
               {CliExit::Usage, "usage error: bad arguments"},
               {CliExit::HostProblem,
                "something was found (each finding is printed with what to do about it)"}})
{}

QString DoctorCommand::parse(const QCommandLineParser&, const QStringList& positional,
                             CliRequest*) const
{
    return CliCheck::noArgument(positional);
}

int DoctorCommand::run(CliSession& session, const CliRequest&) const
{
    // Reads this computer only: works without addresses, and sends nothing.
    const corla::HostReport report = corla::readHostReport();
    for (const QString& line : corla::hostReportLines(report))
        session.out() << line << Qt::endl;
    return report.problemFound ? CliExit::HostProblem : CliExit::Ok;
}

} // namespace corla
