// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// What this computer can tell about why no device answers a discovery, read without root
// and without sending anything: the local interfaces and their IPv4 addresses, whether a
// host firewall is active, and what to do about each finding. The window's empty list and
// `corla-cli doctor` show the same lines.
//
// Everything is read through a HostProbe, so that tests feed the outputs of ufw, nft and
// the rest without root; readHostReport() uses the system's.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corla {

struct HostInterface
{
    QString name;
    bool up = false;
    bool running = false; // has a link (carrier)
    bool loopback = false;
    QStringList ipv4; // "10.10.0.1/24", each with its prefix length
};

struct HostCommandOutput
{
    bool found = false; // the program is installed
    bool ran = false;   // it started and ended within its time limit
    int exitCode = -1;
    QString output; // standard output and error together
};

struct HostProbe
{
    std::function<QList<HostInterface>()> interfaces;
    // The file's bytes, or none when it cannot be read.
    std::function<std::optional<QByteArray>(const QString& path)> readFile;
    // Runs a program (by name, looked up in PATH and the sbin folders) in the C locale.
    std::function<HostCommandOutput(const QString& program, const QStringList& arguments)> run;

    // The system's own: QNetworkInterface, QFile and QProcess (each command at most 3 s).
    static HostProbe system();
};

struct HostReport
{
    QStringList lines;         // for a person, in order
    bool problemFound = false; // something here can keep devices from being heard
    // Each finding that can keep devices from being heard, as its line says it.
    QStringList problems;
};

// Blocks while the commands run (a few seconds at most when one hangs).
HostReport readHostReport();
HostReport readHostReport(const HostProbe& probe);

// The report as lines for a person.
QStringList hostReportLines(const HostReport& report);

} // namespace corla
