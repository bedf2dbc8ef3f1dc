// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once

namespace corla {

// State machine whose states are member functions of the derived class. Each
// dispatch() runs the current state once; a state that calls transition() just
// returns, and the next dispatch() runs the new state.
//
// Derived states take `const StateEvent*` and downcast to their own event type
// inside: converting a member pointer of the derived class to the base's State
// type is then a plain static_cast, and calling through it is well defined.

class StateEvent
{
public:
    virtual ~StateEvent();
};

class FiniteStateMachine
{
public:
    using State = void (FiniteStateMachine::*)(const StateEvent*);

    // States left unset: call transition() and addEndState() before dispatching.
    FiniteStateMachine() = default;
    explicit FiniteStateMachine(State initial) : m_current(initial) {}

    // There is one end-state slot; a second call replaces the first.
    void addEndState(State s) { m_end = s; }
    // Runs the current state once. Does nothing while no state is set.
    void dispatch(const StateEvent* event);
    void transition(State s) { m_current = s; }

    bool isAtEndState() const { return m_current == m_end; }
    bool isEndState(State s) const { return s == m_end; }
    State state() const { return m_current; }

    template <class Derived> static State asState(void (Derived::*handler)(const StateEvent*))
    {
        return static_cast<State>(handler);
    }

private:
    State m_current = nullptr;
    State m_end = nullptr;
};

} // namespace corla
