// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Hands each modal widget of type T that code under test runs in its own event loop to the
// action, which must close it; polls for `limitMs` or until the handler goes.

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
