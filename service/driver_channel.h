// The program's only contact with the driver: open the device, issue the two
// control requests, close the handle.
#pragma once

#include "forwarding_records.h"
#include "platform.h"

struct DriverChannel {
    const Platform* platform;
    // The one handle slot of the run: PLATFORM_NO_HANDLE or an open device.
    PlatformHandle driverHandle;
    // True while the thread waits for a request the driver holds, or for
    // the cancel of one to be honoured. The wait serves messages sent to the
    // dialog, so commands can arrive meanwhile; none may run until the
    // request has ended.
    bool requestHeld;
};

enum SetForwardingResult {
    SET_FORWARDING_COMPLETED, // the result code is in the request's bytes 0-1
    // No answer to read: the driver refused the request at once, it was never
    // issued (no completion event), it ended in failure after pending, the
    // wait for it failed and it was cancelled, or it succeeded with fewer
    // bytes back than the result code's two. The user sees "failed" in every
    // case.
    SET_FORWARDING_REFUSED,
};

enum InterrogationAnswer {
    // No answer to read, and the poll ends: the driver refused the call (its
    // way of saying that no entry is left, or another refusal), it held the
    // call, which was then cancelled, or no event could be made for it.
    INTERROGATION_FINISHED,
    INTERROGATION_TIMED_OUT,   // exactly one byte: the network did not answer
    INTERROGATION_ENTRY,       // more than one byte: the record holds an entry
    INTERROGATION_NOTHING_YET, // no byte: ask again later
};

void driverChannelInit(DriverChannel* channel, const Platform* platform);

// "\\.\CAPI201" in a zero-filled buffer.
void driverChannelDevicePath(char path[DEVICE_PATH_SIZE]);

// Opens the device afresh. The handle it replaces is closed only after the new
// open succeeded, so a driver that keeps an interrogation's state while a
// handle is open never loses it between polls; a failed open closes the old
// handle and leaves the slot empty. Between commands at most one handle is
// open.
bool driverChannelOpen(DriverChannel* channel);

// Issues the request with its own completion event and, when the driver
// pends it, waits until it has completed, so the buffer outlives the request.
// Without an event nothing is issued and the request counts as refused.
SetForwardingResult driverChannelSetForwarding(DriverChannel* channel, ForwardingRequest* request);

// Asks for the next entry. A request that the driver pends is cancelled and
// waited for before returning, and counts as finished; so does one that
// cannot get an event.
InterrogationAnswer driverChannelInterrogate(DriverChannel* channel, InterrogationRecord* record);

// Closes the handle in the slot, if any, and empties it.
void driverChannelClose(DriverChannel* channel);
