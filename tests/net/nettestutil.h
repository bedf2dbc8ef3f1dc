#pragma once
// Helpers shared by the network unit tests.

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <unistd.h>

// True when running in the private network namespace that scripts/netns-run made.
// Only there may a test change namespace-wide settings such as routes and sysctls.
inline bool inPrivateNetns()
{
    char link[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    const QByteArray mark = qgetenv("CORLA_IN_NETNS");
    return n > 0 && !mark.isEmpty() && mark == QByteArray(link, static_cast<int>(n));
}

// Collects the messages written through qDebug() while it lives, from any thread.
class DebugCapture
{
public:
    DebugCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&DebugCapture::handle);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList messages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (!s_current || type != QtDebugMsg)
            return;
        QMutexLocker lock(&s_current->m_mutex);
        s_current->m_messages << text;
    }
    static inline DebugCapture* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_messages;
};
