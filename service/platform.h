// The narrow interface through which the core reaches the dialog and the
// device: a plain record of function pointers and a context, filled with
// Win32 calls by the dialog and with fakes by the tests. The core includes no
// system header and calls nothing else.
#pragma once

#include <stdint.h>

// An operating-system handle as the core sees it. PLATFORM_NO_HANDLE is the
// one failure value of every operation that makes a handle; a platform whose
// system has other failure values (Windows' invalid-handle value) maps them to
// it, so the core never meets a second sentinel.
typedef uintptr_t PlatformHandle;
constexpr PlatformHandle PLATFORM_NO_HANDLE = 0;

// How a device-control request started.
enum IoStart {
    IO_COMPLETED, // the call succeeded: the answer is in the buffer
    IO_PENDING,   // the driver holds it; it ends by signalling the event
    IO_REFUSED,   // the call failed with any error other than "pending"
};

// How a pending request ended, once waited for.
enum IoEnd {
    IO_ENDED_SUCCEEDED, // success: the answer is in the buffer
    // An error or a warning status: the request did not succeed, so the
    // buffer holds no answer to read. After an error nothing was copied back
    // and the buffer still holds what was sent; after a warning (a buffer
    // overflow, say) the driver's bytes may have been copied back, but the
    // call still failed.
    IO_ENDED_FAILED,
    IO_WAIT_FAILED, // the wait itself failed: the request may still be running
};

// Fill one with a single aggregate initialiser, every operation in order, so
// that the compiler rejects a record that lacks one.
struct Platform {
    void* context;

    // --- the dialog ---
    // Copies the text of a number field into buffer, at most bufferSize - 1
    // characters, always terminated. Returns the characters copied.
    unsigned (*readNumberField)(void* context, int controlId, char* buffer, unsigned bufferSize);
    // The status list.
    int (*countStatusLines)(void* context);
    void (*deleteFirstStatusLine)(void* context);
    void (*appendStatusLine)(void* context, const char* line);
    // Checks checkId and unchecks the other buttons of firstId..lastId.
    void (*checkRadioButton)(void* context, int firstId, int lastId, int checkId);
    // The poll timer; arming reports whether the timer now runs.
    bool (*armTimer)(void* context, unsigned timerId, unsigned intervalMs);
    void (*killTimer)(void* context, unsigned timerId);

    // --- the device ---
    // Opens the device for overlapped use; PLATFORM_NO_HANDLE on failure.
    PlatformHandle (*openDevice)(void* context, const char* path);
    // A manual-reset event, not signalled; PLATFORM_NO_HANDLE on failure.
    PlatformHandle (*createEvent)(void* context);
    // Starts a device-control request with buffer as input and output. At
    // most one request is in flight, so the platform keeps one overlapped
    // record for the run, which carries the given event. On IO_COMPLETED
    // *bytesReturned holds the byte count.
    IoStart (*deviceControl)(void* context, PlatformHandle device, uint32_t controlCode,
                             uint8_t* buffer, uint32_t bufferSize, PlatformHandle event,
                             uint32_t* bytesReturned);
    // Waits without limit for the event of the pending request, then reads
    // how it ended without waiting; on IO_ENDED_SUCCEEDED *bytesReturned
    // holds the byte count. The window stays alive meanwhile: the platform
    // serves messages sent to the dialog, repaints it and lets its frame be
    // used, so commands can reach the core during the wait (it refuses
    // them); the user's presses on the dialog (mouse buttons, keys, touch)
    // are dropped, the releases that end a press begun before the wait still
    // reach it, and posted and timer messages stay queued until the wait is
    // over, but for the system menu's commands, which run at once. Not
    // covered: a modal loop the user starts during the wait (a drag of the
    // title bar, the system menu and its Move, the scroll bar's thumb) runs
    // the whole queue until it ends, so a tick reaches the core, which
    // refuses it.
    IoEnd (*waitForRequest)(void* context, PlatformHandle device, uint32_t* bytesReturned);
    // Cancels the device's pending request and returns only once it has
    // ended, so its buffer may be released. A driver may take its time to
    // honour the cancel: the window stays alive meanwhile, as in the wait.
    void (*cancelRequest)(void* context, PlatformHandle device);
    void (*closeHandle)(void* context, PlatformHandle handle);
};
