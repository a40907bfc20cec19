// The bounded list of status lines, where the dialog answers the user. The
// program's other outputs are not here: the debug-output lines of failing
// calls on the device and of the poll timer (dialog/win32_platform.cpp), and
// the message box shown when the dialog cannot be created (dialog/main.cpp).
// The lines live in the dialog's list; the log only counts, deletes and
// appends through the platform.
#pragma once

#include "platform.h"

constexpr int STATUS_LOG_LIMIT = 256;

struct StatusLog {
    const Platform* platform;
};

void statusLogInit(StatusLog* log, const Platform* platform);

// Appends the banner (user_texts.h); the font is the dialog's business.
void statusLogStart(StatusLog* log);

void statusLogAppend(StatusLog* log, const char* line);

// While the list holds STATUS_LOG_LIMIT lines or more, deletes the oldest.
// Called at the start of a command and of a report block only, so a command's
// lines always follow a trim.
void statusLogMakeRoom(StatusLog* log);
