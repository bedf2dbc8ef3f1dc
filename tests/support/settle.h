// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// "Nothing more arrives", without a fixed sleep: delivers everything already queued (queued
// signals, zero timers, deferred deletes) and what that queues in turn, a few rounds deep.
// What still waits on a running timer or a socket is not covered: wait for the object that
// owns it to be gone first (QTRY_VERIFY on a QPointer or on an owner's children).

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
