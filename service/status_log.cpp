// The status log: the banner at start, each line appended to the dialog's
// list, and the room made before each command by dropping the oldest lines.
#include "status_log.h"

#include "user_texts.h"

void statusLogInit(StatusLog* log, const Platform* platform) {
    log->platform = platform;
}

void statusLogStart(StatusLog* log) {
    statusLogAppend(log, BANNER_TEXT);
}

void statusLogAppend(StatusLog* log, const char* line) {
    log->platform->appendStatusLine(log->platform->context, line);
}

void statusLogMakeRoom(StatusLog* log) {
    const Platform* p = log->platform;
    int count = p->countStatusLines(p->context);
    while (count >= STATUS_LOG_LIMIT) {
        p->deleteFirstStatusLine(p->context);
        int after = p->countStatusLines(p->context);
        if (after >= count) {
            break; // the list refused to shrink; never spin on it
        }
        count = after;
    }
}
