// Check Current Setting: one question to the driver per press and per tick,
// the five-line block of each entry, and the end of polling.
#include "interrogation_poller.h"

#include "command_ids.h"
#include "text_buffer.h"
#include "user_texts.h"

namespace {

void logLine(StatusLog* log, const char* first, const char* second, const char* third) {
    char line[REPORT_LINE_SIZE] = {};
    textAppend(line, sizeof line, first);
    textAppend(line, sizeof line, second);
    textAppend(line, sizeof line, third);
    statusLogAppend(log, line);
}

void stopPolling(ForwardingSession* session, const char* line) {
    const Platform* p = &session->platform;
    statusLogAppend(&session->log, line);
    p->killTimer(p->context, POLL_TIMER_ID); // harmless when not armed
    session->poller.pollTimerArmed = false;
}

// The five lines of one forwarding entry, read from the record as it stands.
void reportBlockLog(StatusLog* log, const InterrogationRecord* record) {
    ForwardingEntry entry;
    forwardingEntryRead(record, &entry);
    statusLogMakeRoom(log);
    logLine(log, REPORT_SEPARATOR, "", "");
    logLine(log, REPORT_CF_BY, procedureText(entry.procedure),
            basicServiceText(entry.basicService));
    logLine(log, REPORT_FROM, entry.servedUserNumber, "");
    logLine(log, REPORT_TO, entry.forwardedToNumber, "");
    logLine(log, REPORT_SEPARATOR, "", "");
}

} // namespace

void interrogationPollerPoll(ForwardingSession* session) {
    const Platform* p = &session->platform;
    char servedUserNumber[NUMBER_FIELD_SIZE];
    p->readNumberField(p->context, IDC_SERVED_USER_NUMBER, servedUserNumber, NUMBER_FIELD_SIZE);
    servedUserNumber[NUMBER_FIELD_SIZE - 1] = '\0';

    statusLogMakeRoom(&session->log);

    // A complaint never stops a running poll: the timer is left as it is.
    if (!forwardingSessionOpenDriver(session)) {
        return;
    }
    if (servedUserNumber[0] == '\0') {
        statusLogAppend(&session->log, TEXT_NEED_SERVED_USER_NUMBER);
        return;
    }

    InterrogationRecord record;
    interrogationRecordBuild(&record, servedUserNumber);
    switch (driverChannelInterrogate(&session->channel, &record)) {
    case INTERROGATION_FINISHED:
        stopPolling(session, TEXT_INTERROGATION_FINISHED);
        return;
    case INTERROGATION_TIMED_OUT:
        stopPolling(session, TEXT_INTERROGATION_TIME_OUT);
        return;
    case INTERROGATION_ENTRY:
        reportBlockLog(&session->log, &record);
        break;
    case INTERROGATION_NOTHING_YET:
        break;
    }
    if (!session->poller.pollTimerArmed) {
        session->poller.pollTimerArmed = p->armTimer(p->context, POLL_TIMER_ID, POLL_INTERVAL_MS);
    }
}

bool interrogationPollerTimerArmed(const ForwardingSession* session) {
    return session->poller.pollTimerArmed;
}
