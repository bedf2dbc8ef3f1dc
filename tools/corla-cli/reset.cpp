// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/reset.h"

#include "core/fleet/displaytext.h"
#include "tools/corla-cli/session.h"

#include <QCommandLineParser>

#include <unistd.h>

namespace corla {

namespace {

const char* const Description =
    R"text(Finds the device by an enquiry carrying its MAC address, sends a reset request
and waits --wait ms for its acknowledgement. Without one, an enquiry tells a lost
request (the device still answers: sent again, at most 3 times) from a lost
acknowledgement (the device has gone silent). The device restarts and does not
answer for a while; with --wait-return (the default at a terminal) its return is
watched with an enquiry every 2 s for up to 60 s and reported ("back after 14 s at
10.10.0.15"). A device for which two senders answer differently is not reset
unless --force is given.)text";

} // namespace

ResetCommand::ResetCommand()
    : Command(
          {"reset", "reset MAC", "reset a device", "reset MAC",
           "Reset the device with this MAC address.", Description},
          {CliOption::wait(), CliOption::force(),
           QCommandLineOption("wait-return",
                              "reset: watch for the device's return (the default at a "
                              "terminal)."),
           QCommandLineOption("no-wait-return", "reset: do not watch for the device's return.")},
          {{CliExit::Ok, "the device acknowledged the reset or went silent (and, with "
                         "--wait-return,\ncame back)"},
           {CliExit::Usage, "usage error: bad arguments, a malformed or refused MAC, or an "
                            "unknown\ninterface name"},
           {CliExit::NoAnswer, "no device with this MAC address answered, no acknowledgement "
                               "after 3\nattempts while the device kept answering, or "
                               "(--wait-return) it did not come\nback within 60 s"},
           {CliExit::NoNetwork, "no usable local IPv4 address on the (named) interfaces"},
           {CliExit::Conflicting, "two senders answer differently for the device: nothing "
                                  "was sent (--force\nsends anyway)"}})
{}

QString ResetCommand::parse(const QCommandLineParser& parser, const QStringList& positional,
                            CliRequest* r) const
{
    QString why = CliCheck::oneArgument(positional, "the device's MAC address");
    if (why.isEmpty())
        why = CliCheck::mac(positional.at(1), &r->mac);
    r->force = parser.isSet("force");
    if (parser.isSet("wait-return") && parser.isSet("no-wait-return"))
        why = "--wait-return and --no-wait-return exclude each other";
    else if (parser.isSet("wait-return") || parser.isSet("no-wait-return"))
        r->waitReturn =
            parser.isSet("wait-return") ? CliRequest::WaitReturn::Yes : CliRequest::WaitReturn::No;
    if (why.isEmpty())
        why = CliCheck::milliseconds(parser, "wait", &r->waitMs);
    return why;
}

int ResetCommand::run(CliSession& session, const CliRequest& request) const
{
    session.useInterfaces(request);
    if (const int status = session.requireLocalAddress(request))
        return status;
    session.setTiming(request.waitMs);
    const bool watch =
        request.waitReturn == CliRequest::WaitReturn::Yes ||
        (request.waitReturn == CliRequest::WaitReturn::Auto && isatty(STDOUT_FILENO));
    corla::ResetOperation* reset = session.service().reset(request.mac, watch, request.force);
    const QString mac = DisplayText::mac(request.mac);
    QObject::connect(
        reset, &corla::ResetOperation::restarting, reset, [&](const corla::ResetResult& progress) {
            session.out() << (progress.acknowledged
                                  ? QStringLiteral("%1 acknowledged the reset and is restarting.")
                                  : QStringLiteral("%1 did not acknowledge the reset but went "
                                                   "silent: it is restarting."))
                                 .arg(mac)
                          << Qt::endl;
        });
    const corla::ResetResult result = runToEnd(reset, &corla::ResetOperation::finished);
    switch (result.outcome) {
    case corla::ResetOutcome::Acknowledged:
    case corla::ResetOutcome::WentSilent:
        return CliExit::Ok;
    case corla::ResetOutcome::Back:
        session.out() << QStringLiteral("%1 is %2.").arg(mac, result.outcomeText()) << Qt::endl;
        return CliExit::Ok;
    case corla::ResetOutcome::NotBack:
        return session.fail(CliExit::NoAnswer,
                            QStringLiteral("%1 did not answer again within %2 s of the reset")
                                .arg(mac)
                                .arg(session.service().timing().returnLimitMs / 1000));
    case corla::ResetOutcome::NotFound:
        return session.fail(CliExit::NoAnswer,
                            QStringLiteral("no device with MAC address %1 answered within %2 ms "
                                           "(nothing was sent; a device restarting from an "
                                           "earlier reset is silent for a while)")
                                .arg(mac)
                                .arg(request.waitMs));
    case corla::ResetOutcome::Conflicting:
        return session.fail(CliExit::Conflicting,
                            QStringLiteral("%1: %2 Nothing was sent; --force sends anyway.")
                                .arg(mac, result.conflict ? result.conflict->text() : QString()));
    case corla::ResetOutcome::KeptAnswering:
    case corla::ResetOutcome::NoAnswer:
        break;
    }
    return session.fail(CliExit::NoAnswer, QStringLiteral("%1: %2").arg(mac, result.outcomeText()));
}

} // namespace corla
