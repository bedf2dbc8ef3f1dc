// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/statemachine.h"

namespace corla {

StateEvent::~StateEvent() = default;

void FiniteStateMachine::dispatch(const StateEvent* event)
{
    if (m_current)
        (this->*m_current)(event);
}

} // namespace corla
