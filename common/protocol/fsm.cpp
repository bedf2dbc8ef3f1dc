#include "fsm.h"

StateEvent::~StateEvent() = default;

void FiniteStateMachine::dispatch(const StateEvent* event)
{
    if (m_current)
        (this->*m_current)(event);
}
