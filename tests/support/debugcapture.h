// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The debug lines that code under test writes, for the tests that judge what it logs.

#include <QByteArray>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace corla {

// Collects the messages written through qDebug() while it lives, from any thread.
class DebugCapture
{
public:
    // The debug lines are off unless asked for: a capture asks for them while it lives.
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
