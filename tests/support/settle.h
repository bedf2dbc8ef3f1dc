// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Delivers what is already queued (signals, zero timers, deferred deletes) and what that
// queues, a few rounds deep; not what waits on a running timer or a socket.

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

namespace corla {

inline void settle(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace corla
