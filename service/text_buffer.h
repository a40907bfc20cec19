// Bounded text helpers for fixed-size buffers: every write stops one byte
// short of the end and leaves the buffer terminated.
#pragma once

#include <stddef.h>

// Length of text, looking at most at maxLength bytes.
size_t textLength(const char* text, size_t maxLength);

// Copies at most maxLength characters of source and a terminator into
// destination, which holds at least maxLength + 1 bytes.
void textCopy(char* destination, const char* source, size_t maxLength);

// Appends source to the text in buffer (bufferSize bytes), cutting what does
// not fit.
void textAppend(char* buffer, size_t bufferSize, const char* source);
