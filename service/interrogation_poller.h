// "Check Current Setting": one poll per press and per timer tick, until the
// interrogation ends, finished or timed out. It ends as finished when the
// driver refuses a question (no entry left, or another refusal), holds one
// (it is cancelled) or when a question cannot be issued at all.
#pragma once

#include "forwarding_session.h"

constexpr unsigned POLL_TIMER_ID = 1;
constexpr unsigned POLL_INTERVAL_MS = 500;

constexpr unsigned REPORT_LINE_SIZE = 64;

// One poll: reads the served user number afresh, makes room, opens the
// driver, asks for the next entry and logs what came.
void interrogationPollerPoll(ForwardingSession* session);

// Whether the poll timer is armed, that is, whether a check is polling.
bool interrogationPollerTimerArmed(const ForwardingSession* session);
