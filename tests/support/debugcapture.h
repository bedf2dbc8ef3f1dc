// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace corla {

// Turns the debug lines on and collects them while it lives, from any thread.
class DebugCapture
{
public:
    DebugCapture()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("corla.*.debug=true"));
        s_current = this;
        m_previous = qInstallMessageHandler(&DebugCapture::handle);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        QLoggingCategory::setFilterRules(QString());
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

} // namespace corla
