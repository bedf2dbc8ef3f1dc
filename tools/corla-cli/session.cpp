// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tools/corla-cli/session.h"

#include "core/fleet/devicelist.h"
#include "core/fleet/displaytext.h"

#include <QElapsedTimer>

namespace corla {

EventWait::EventWait(int ms)
{
    m_timer.setSingleShot(true);
    // A coarse timer may end a wait up to 5 % early; --wait promises the whole time.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(ms);
    QObject::connect(&m_timer, &QTimer::timeout, &m_loop, &QEventLoop::quit);
}

void EventWait::finish()
{
    m_finished = true;
    m_loop.quit();
}

void EventWait::shorten(int ms)
{
    if (m_timer.isActive() && m_timer.remainingTime() > ms)
        m_timer.start(ms);
}

bool EventWait::exec()
{
    if (!m_finished) {
        m_timer.start();
        m_loop.exec();
    }
    return m_finished;
}

CliSession::CliSession(QTextStream* out, QTextStream* err)
    : m_out(*out), m_err(*err), m_service(&m_adapter), m_log(ChangeLog::defaultPath())
{
    m_service.setChangeLog(&m_log, QStringLiteral("corla-cli"));
    // What discovery could not do (a send that failed, an interface gone) is said as it
    // happens; the adapter says each cause once a request.
    QObject::connect(
        &m_adapter, &DiscoveryClient::warning, &m_adapter, [this](const QString& text) {
            m_err << QStringLiteral("corla-cli: warning: ") << escapedForDisplay(text) << Qt::endl;
        });
    // The change goes ahead; the log's failure is said once.
    QObject::connect(&m_service, &corla::CommissioningService::logFailed, &m_service,
                     [this](const QString& path, const QString& why) {
                         if (m_logFailed)
                             return;
                         m_logFailed = true;
                         m_err << QStringLiteral("corla-cli: warning: the change log %1 was not "
                                                 "written: %2")
                                      .arg(escapedForDisplay(path), why)
                               << Qt::endl;
                     });
}

int CliSession::fail(int status, const QString& message)
{
    m_err << QStringLiteral("corla-cli: ") << message << Qt::endl;
    return status;
}

void CliSession::useInterfaces(const CliRequest& request)
{
    m_adapter.setInterfaceFilter(request.interfaces);
}

int CliSession::requireLocalAddress(const CliRequest& request)
{
    if (!m_adapter.localAddresses().isEmpty())
        return CliExit::Ok;
    if (request.interfaces.isEmpty())
        return fail(
            CliExit::NoNetwork,
            QStringLiteral("no interface is up with an IPv4 address: nothing to send from"));
    return fail(
        CliExit::NoNetwork,
        QStringLiteral("no usable IPv4 address on %1 (the interface must be up and running)")
            .arg(request.interfaces.join(QStringLiteral(", "))));
}

void CliSession::setTiming(int waitMs)
{
    corla::Timing& timing = m_service.timing();
    timing.answerMs = waitMs;
    timing.lookupMs = waitMs;
}

void CliSession::collect(DeviceList* list, int waitMs, int settleMs)
{
    QObject context;
    list->beginRound();
    QObject::connect(&m_adapter, &DiscoveryClient::deviceFound, &context,
                     [list](std::shared_ptr<Device> device) { list->merge(device); });
    EventWait wait(waitMs);
    // Settled: no new device for settleMs, counted from the enquiry's latest copy or from
    // the last new device, whichever came later. Each copy restarts the count, for the
    // devices that missed the ones before it; the copies are then stopped.
    QElapsedTimer clock;
    qint64 lastNewMs = 0;
    const auto latestCopyMs = [waitMs](qint64 now) {
        qint64 latest = 0;
        for (const int at : DiscoveryClient::kEnquiryRepeatsMs) {
            if (at <= now && at < waitMs)
                latest = at;
        }
        return latest;
    };
    QTimer settle;
    settle.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    QObject::connect(list, &DeviceList::appended, &context,
                     [&](int) { lastNewMs = clock.elapsed(); });
    QObject::connect(&settle, &QTimer::timeout, &context, [&]() {
        const qint64 now = clock.elapsed();
        const qint64 left = qMax(latestCopyMs(now), lastNewMs) + settleMs - now;
        if (left > 0)
            settle.start(int(left));
        else
            wait.finish();
    });
    clock.start();
    const quint64 enquiry = m_adapter.netEnquire(Device());
    if (settleMs > 0)
        settle.start(settleMs);
    wait.exec();
    m_adapter.endRequest(enquiry);
    if (list->ignoredAnswers() > 0)
        m_err << QStringLiteral("corla-cli: warning: %1 further answers ignored: more devices "
                                "than corla-cli lists at once (%2)")
                     .arg(list->ignoredAnswers())
                     .arg(list->capacity())
              << Qt::endl;
}

} // namespace corla
