// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Acts on modal widgets that code under test opens and runs in their own event loop
// (message boxes, progress dialogs): a timer polls QApplication::activeModalWidget()
// from inside that loop and hands each one of type T to the action. The action must
// close the widget (or it is handed over again at the next poll). Polling stops after
// `limitMs` or when the handler goes.

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace corla {

template <typename T = QMessageBox> class ModalBoxHandler : public QObject
{
public:
    explicit ModalBoxHandler(std::function<void(T*)> action, int limitMs = 10000)
        : m_action(std::move(action)), m_limitMs(limitMs)
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalBoxHandler::poll);
        m_poll.start(5);
        m_deadline.start();
    }

    // How many times the action ran.
    int handled() const { return m_handled; }

private:
    void poll()
    {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            ++m_handled;
            m_action(widget);
        } else if (m_deadline.hasExpired(m_limitMs)) {
            m_poll.stop();
        }
    }

    std::function<void(T*)> m_action;
    QTimer m_poll;
    QElapsedTimer m_deadline;
    int m_limitMs = 0;
    int m_handled = 0;
};

} // namespace corla
