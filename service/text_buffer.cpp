// Bounded copies and appends for the fixed-size text buffers.
#include "text_buffer.h"

size_t textLength(const char* text, size_t maxLength) {
    size_t length = 0;
    while (length < maxLength && text[length] != '\0') {
        ++length;
    }
    return length;
}

void textCopy(char* destination, const char* source, size_t maxLength) {
    size_t length = textLength(source, maxLength);
    for (size_t i = 0; i < length; ++i) {
        destination[i] = source[i];
    }
    destination[length] = '\0';
}

void textAppend(char* buffer, size_t bufferSize, const char* source) {
    if (bufferSize == 0) {
        return;
    }
    size_t used = textLength(buffer, bufferSize - 1);
    textCopy(buffer + used, source, bufferSize - 1 - used);
}
