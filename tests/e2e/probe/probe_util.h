// Output, failure reporting and argument parsing shared by the probe's verbs.
#pragma once

#include <windows.h>

// One output line on stdout, flushed at once so that a harness that gives up
// on a hung run still sees what came before.
void out(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "error <verb> <why>" on stdout.
void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void setVerb(const char* name);

bool parseInt(const char* text, int* value);
bool parseMs(const char* text, DWORD* value);

void toWide(const char* text, WCHAR* wide, int wideSize);
void toNarrow(const WCHAR* wide, char* text, int size);
