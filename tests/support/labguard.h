// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Tests that may send packets fail (never skip) outside scripts/netns-run or the lab
// (CORLA_REQUIRE_PRIVATE_NETNS()); lab tests outside the lab's host side (CORLA_REQUIRE_LAB()).

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace corla {

inline bool corlaInPrivateNetns(QString* why)
{
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    const QByteArray mark = qgetenv("CORLA_IN_NETNS");
    if (n > 0 && !mark.isEmpty() && mark == QByteArray(link, static_cast<int>(n)))
        return true;
    *why = "this test may send packets: run it through scripts/netns-run (make test does) or "
           "the lab, never in the machine's own network namespace";
    return false;
}

inline bool inPrivateNetns()
{
    QString why;
    return corlaInPrivateNetns(&why);
}

inline bool corlaInLab(QString* why)
{
    if (!corlaInPrivateNetns(why))
        return false;
    const QByteArray mark = qgetenv("CORLA_LAB_NETNS");
    struct stat st;
    const unsigned long long own = ::stat("/proc/self/ns/net", &st) == 0 ? st.st_ino : 0;
    if (mark.isEmpty()) {
        *why = "not inside the lab (CORLA_LAB_NETNS is not set): this test sends packets and "
               "runs only through scripts/lab (ctest does that)";
        return false;
    }
    bool ok = false;
    if (own == 0 || mark.toULongLong(&ok) != own || !ok) {
        *why = QStringLiteral("not on the lab's host side: CORLA_LAB_NETNS is %1, this "
                              "process's network namespace is %2; refusing to send packets")
                   .arg(QString::fromLatin1(mark))
                   .arg(own);
        return false;
    }
    return true;
}

#define CORLA_REQUIRE_PRIVATE_NETNS()                                                              \
    do {                                                                                           \
        QString corlaNetnsWhy_;                                                                    \
        if (!corlaInPrivateNetns(&corlaNetnsWhy_))                                                 \
            QFAIL(qPrintable(corlaNetnsWhy_));                                                     \
    } while (false)

#define CORLA_REQUIRE_LAB()                                                                        \
    do {                                                                                           \
        QString corlaLabWhy_;                                                                      \
        if (!corlaInLab(&corlaLabWhy_))                                                            \
            QFAIL(qPrintable(corlaLabWhy_));                                                       \
    } while (false)

inline QString corlaLabEnv(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

inline QStringList corlaLabList(const char* name)
{
    return corlaLabEnv(name).split(' ', Qt::SkipEmptyParts);
}

// One more simulator on the lab's device side (--manage-addresses), stopped when it goes.
class CorlaLabSim
{
public:
    CorlaLabSim() = default;
    CorlaLabSim(const CorlaLabSim&) = delete;
    CorlaLabSim& operator=(const CorlaLabSim&) = delete;
    ~CorlaLabSim() { stop(); }

    QString startOrWhy(const QStringList& args)
    {
        QString why;
        return start(args, &why) ? QString() : why;
    }

    // Waits for the ready line; false with the reason and output if none comes.
    bool start(const QStringList& args, QString* why, int timeoutMs = 30000)
    {
        stop();
        m_output.clear();
        const QString sim = corlaLabEnv("CORLA_SIM");
        const QString devns = corlaLabEnv("CORLA_LAB_DEVNS");
        if (sim.isEmpty() || devns.isEmpty()) {
            *why = "CORLA_SIM or CORLA_LAB_DEVNS is not set: not inside the lab";
            return false;
        }
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("nsenter", QStringList{"--net=" + devns, sim, "--manage-addresses"} + args);
        QDeadlineTimer deadline(timeoutMs);
        while (!m_output.contains("corla-sim: ready")) {
            if (m_process.state() == QProcess::NotRunning ||
                !m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
                if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
                    m_output += m_process.readAll();
                    *why = "the simulator did not get ready: " + QString::fromLocal8Bit(m_output);
                    stop();
                    return false;
                }
            }
            m_output += m_process.readAll();
        }
        return true;
    }

    // False after a crash or a sanitizer report: only status 0 on SIGTERM is a clean end.
    bool stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
            m_output += m_process.readAll();
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    // Everything it printed so far, also what still sits in the pipe.
    QString output()
    {
        while (m_process.state() != QProcess::NotRunning && m_process.waitForReadyRead(20))
            m_output += m_process.readAll();
        m_output += m_process.readAll();
        return QString::fromLocal8Bit(m_output);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace corla
