// The probe's shared helpers: output lines flushed at once, the verb's error
// lines, number and duration arguments, text between ANSI and UTF-16.
#include "probe_util.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const char* currentVerb = "";

// Finishes one output line, flushed at once.
void outLine(const char* format, va_list args) {
    vprintf(format, args);
    fputc('\n', stdout);
    fflush(stdout);
}

} // namespace

void setVerb(const char* name) {
    currentVerb = name;
}

void out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    outLine(format, args);
    va_end(args);
}

void fail(const char* format, ...) {
    printf("error %s ", currentVerb);
    va_list args;
    va_start(args, format);
    outLine(format, args);
    va_end(args);
}

bool parseInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 0);
    if (end == text || *end != 0 || errno != 0 || parsed < -2147483647L || parsed > 2147483647L) {
        fail("\"%s\" is not a number", text);
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

bool parseMs(const char* text, DWORD* value) {
    int parsed = 0;
    if (!parseInt(text, &parsed))
        return false;
    if (parsed < 0) {
        fail("\"%s\" is not a duration", text);
        return false;
    }
    *value = static_cast<DWORD>(parsed);
    return true;
}

void toWide(const char* text, WCHAR* wide, int wideSize) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, wideSize) == 0)
        wide[0] = 0;
    wide[wideSize - 1] = 0;
}

void toNarrow(const WCHAR* wide, char* text, int size) {
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) == 0)
        text[0] = 0;
    text[size - 1] = 0;
}
