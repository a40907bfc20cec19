// Kernel-mode stand-in for the ISDN driver. \Device\CAPI201 carries the
// program's two control requests to one simulated exchange; the test-only
// \Device\CAPI201Control resets, configures and inspects it (see
// control_protocol.h). Built for i686 and x86_64.
//
// Set-forwarding requests are decided by the exchange at once but answered
// when the exchange says the network replies: the IRP waits in a table and a
// system thread completes it at its due time. Interrogations are answered in
// the dispatch routine, unless the control device has them held: then they
// wait in the table, never due, until something cancels them. A cancel may
// be honoured late: the cancel routine then leaves the request in the table,
// due that much later, and the completing thread ends it as cancelled.
//
// Two locks. The exchange is reached only from dispatch routines, at
// PASSIVE_LEVEL, under a mutex; a configuration is built in a second
// exchange and takes over by a pointer swap. A spin lock guards the table
// and the counters, which cancel routines and the completing thread reach
// too; nothing bigger than a table slot is copied under it. Order: mutex,
// then spin lock.
//
// Cancellation is handled here rather than by the system's cancel-safe
// queue: Wine 8's ntoskrnl implements IoCsqInitialize only, and its
// IoCsqInsertIrp, IoCsqRemoveIrp and IoCsqRemoveNextIrp are stubs that end
// the driver's host process. A slot whose IRP a cancel routine has taken is
// marked `cancelling`, and whoever must see the table empty waits for those
// routines to finish; one whose cancel is honoured late is `cancelled`, and
// whoever drains the table ends it at once.
//
// What may still use the state holds the I/O manager's remove lock: a
// dispatch routine while it runs, a pended request for its whole life (so
// its cancel routine and its completion run under it), and the driver itself
// from load to unload, which lets go and waits for all the others.
#include <intrin.h>
// wdm.h defines two intrinsics that intrin.h already has; in C++ the second
// definition is an error, so wdm.h's copies get other names.
#define InterlockedBitTestAndSet wdmInterlockedBitTestAndSet
#define InterlockedBitTestAndReset wdmInterlockedBitTestAndReset
#include <ntddk.h>
#undef InterlockedBitTestAndSet
#undef InterlockedBitTestAndReset

#include "driver_model.h"

// Exported by ntoskrnl but declared only in ntifs.h, which does not build
// beside ntddk.h. Only a thread whose object could not be referenced is
// waited for through its handle.
extern "C" NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                                         PLARGE_INTEGER timeout);

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

constexpr ULONG POOL_TAG = 0x31304643; // "CF01"
constexpr ULONG VALUE_BUFFER_SIZE = 4096;
constexpr unsigned COMPLETION_BATCH = 16;
constexpr LONGLONG HUNDRED_NS_PER_MS = 10000;
constexpr uint64_t LONGEST_WAIT_MS = 60000;
// Waits for cancel routines have no limit (they are short); one that lasts
// this many 1 ms pauses says so once.
constexpr unsigned LONG_WAIT_PAUSES = 2000;

struct DeviceNames {
    const WCHAR* device;
    const WCHAR* link;
};
constexpr DeviceNames PROGRAM_NAMES = {L"\\Device\\" CFS_DEVICE_NAME,
                                       L"\\DosDevices\\" CFS_DEVICE_NAME};
constexpr DeviceNames CONTROL_NAMES = {L"\\Device\\" CFS_CONTROL_DEVICE_NAME,
                                       L"\\DosDevices\\" CFS_CONTROL_DEVICE_NAME};

enum DeviceRole : uint32_t { ROLE_PROGRAM = 1, ROLE_CONTROL = 2 };

struct DriverState {
    KSPIN_LOCK lock;     // pending, statistics, stopping
    KMUTEX exchangeLock; // active and the exchanges, work; held at PASSIVE_LEVEL only
    SimulatedExchange exchanges[2];
    SimulatedExchange* active; // the one in use; a configuration is built in the other
    ExchangeConfig work;
    ExchangeConfig startConfig; // what a reset returns to
    PendingTable pending;
    ControlStatistics statistics;
    uint32_t cancelDelayMs; // under lock: cancel routines read it
    bool holdQueries;       // under exchangeLock: interrogations pend until cancelled
    KEVENT wake;            // a new pending answer, or stop
    bool stopping;          // unload has begun: the completing thread ends, nothing more pends
    PVOID worker;           // the completing thread's object, referenced until it has ended
    LARGE_INTEGER frequency;
    PDRIVER_DISPATCH hostDispatch[IRP_MJ_MAXIMUM_FUNCTION + 1]; // the loader's, put back at unload
    IO_REMOVE_LOCK removeLock; // unload waits until its holders let go
};

struct DeviceHeader {
    DeviceRole role;
    DriverState* state;
};

// The program's device owns the state; the control device points at it.
struct ProgramExtension {
    DeviceHeader header;
    DriverState state;
};

DeviceHeader* headerOf(PDEVICE_OBJECT device) {
    return static_cast<DeviceHeader*>(device->DeviceExtension);
}

uint64_t nowMs(const DriverState* s) {
    const uint64_t ticks = static_cast<uint64_t>(KeQueryPerformanceCounter(nullptr).QuadPart);
    const uint64_t frequency = static_cast<uint64_t>(s->frequency.QuadPart);
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

NTSTATUS finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A set-forwarding request whose answer is due. A failed one has its buffer
// written and its length given all the same: Windows copies a buffered
// request's output back only on success, so its caller must still see what
// it sent, and a system that copied it anyway would show.
NTSTATUS answerSet(PIRP irp, uint16_t resultCode, bool failed, uint32_t bytes) {
    exchangeWriteResultCode(static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer), resultCode);
    return finish(irp, failed ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS, bytes);
}

void lockExchange(DriverState* s) {
    KeWaitForSingleObject(&s->exchangeLock, Executive, KernelMode, FALSE, nullptr);
}

void unlockExchange(DriverState* s) {
    KeReleaseMutex(&s->exchangeLock, FALSE);
}

// A pended request held the remove lock from the table to its completion;
// whoever completed it lets go, after finishing with it.
void releasePended(DriverState* s, PIRP irp) {
    IoReleaseRemoveLock(&s->removeLock, irp);
}

void countOne(DriverState* s, uint32_t ControlStatistics::*counter) {
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    ++(s->statistics.*counter);
    KeReleaseSpinLock(&s->lock, irql);
}

// ---- start configuration --------------------------------------------------

bool queryValue(HANDLE key, const WCHAR* name, KEY_VALUE_PARTIAL_INFORMATION* info) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG length = 0;
    return NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info,
                                      VALUE_BUFFER_SIZE, &length));
}

void readDword(HANDLE key, const WCHAR* name, KEY_VALUE_PARTIAL_INFORMATION* info,
               uint32_t* value) {
    if (queryValue(key, name, info) && info->Type == REG_DWORD && info->DataLength == 4) {
        *value = *reinterpret_cast<const uint32_t*>(info->Data);
    }
}

// Text values: REG_MULTI_SZ, or REG_SZ for a single entry.
bool readText(HANDLE key, const WCHAR* name, KEY_VALUE_PARTIAL_INFORMATION* info) {
    return queryValue(key, name, info) && (info->Type == REG_MULTI_SZ || info->Type == REG_SZ);
}

const uint16_t* textOf(const KEY_VALUE_PARTIAL_INFORMATION* info) {
    return reinterpret_cast<const uint16_t*>(info->Data);
}

// Values under the service key, each optional:
//   NetworkDelayMs, TimeOutMs, QueryIdleMs   REG_DWORD
//   UnreachableNumbers                       REG_MULTI_SZ, one number a string
//   Forwardings                              REG_MULTI_SZ, "SERVED,TO,PROC[,SERVICE]"
void readStartConfig(PUNICODE_STRING registryPath, ExchangeConfig* config) {
    exchangeDefaultConfig(config);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        DbgPrint("capi201: no service key, defaults in force\n");
        return;
    }
    auto* info = static_cast<KEY_VALUE_PARTIAL_INFORMATION*>(
        ExAllocatePoolWithTag(PagedPool, VALUE_BUFFER_SIZE, POOL_TAG));
    if (info != nullptr) {
        readDword(key, L"NetworkDelayMs", info, &config->delayMs);
        readDword(key, L"TimeOutMs", info, &config->timeOutMs);
        readDword(key, L"QueryIdleMs", info, &config->queryIdleMs);
        unsigned refused = 0;
        if (readText(key, L"UnreachableNumbers", info)) {
            refused += parseUnreachableNumbers(textOf(info), info->DataLength / 2, config);
        }
        if (readText(key, L"Forwardings", info)) {
            refused += parseForwardings(textOf(info), info->DataLength / 2, config);
        }
        if (refused != 0) {
            DbgPrint("capi201: %u registry entries refused\n", refused);
        }
        ExFreePoolWithTag(info, POOL_TAG);
    }
    ZwClose(key);
}

// ---- pending answers ------------------------------------------------------

// One pause of a wait without limit; the pause that makes it long says so.
void pauseOneMs(unsigned* paused, const char* waitingFor, long count) {
    if (++*paused == LONG_WAIT_PAUSES) {
        DbgPrint("capi201: still waiting for %ld %s after %u ms\n", count, waitingFor,
                 LONG_WAIT_PAUSES);
    }
    LARGE_INTEGER pause;
    pause.QuadPart = -HUNDRED_NS_PER_MS;
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
}

// Takes slot out of the table, counted as answered or cancelled, under the
// lock; the caller completes its IRP after releasing the lock.
PIRP takeSlot(DriverState* s, PendingAnswer* slot, bool cancelled) {
    PIRP irp = static_cast<PIRP>(slot->request);
    if (slot->held) {
        --s->statistics.queriesHeldNow;
    } else {
        if (cancelled) {
            ++s->statistics.setCancelled;
        } else {
            ++s->statistics.setCompleted;
        }
        --s->statistics.setPendingNow;
    }
    pendingRemove(&s->pending, irp);
    return irp;
}

// Under the lock, for a cancel that has reached irp: true when irp has left
// the table for the caller to complete now. With a cancel delay it stays,
// due that much later, for the completing thread, woken here rather than
// after the lock: once the lock is free a drain may end the request, and
// unload free the state.
bool honourCancel(DriverState* s, PIRP irp) {
    PendingAnswer* slot = pendingFind(&s->pending, irp);
    if (slot == nullptr) {
        return false;
    }
    if (s->cancelDelayMs == 0) {
        takeSlot(s, slot, true);
        return true;
    }
    pendingCancelLater(&s->pending, irp, nowMs(s) + s->cancelDelayMs);
    KeSetEvent(&s->wake, IO_NO_INCREMENT, FALSE);
    return false;
}

DRIVER_CANCEL cancelPendingAnswer;

VOID NTAPI cancelPendingAnswer(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    // The request still holds the remove lock, so unload waits for this
    // routine until it lets go at the end; one that honours the cancel late
    // touches no state once the spin lock is free.
    DriverState* s = headerOf(device)->state;
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    const bool now = honourCancel(s, irp);
    KeReleaseSpinLock(&s->lock, irql);
    if (now) {
        finish(irp, STATUS_CANCELLED, 0);
        releasePended(s, irp);
    }
}

// Cancels the pending requests of owner (all when null) and returns once none
// is left, including those whose cancel routine is running elsewhere,
// however long that takes; a cancel honoured late ends now.
void cancelPendingOf(DriverState* s, const void* owner) {
    for (unsigned paused = 0;;) {
        PIRP taken = nullptr;
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        while (PendingAnswer* slot = pendingAnyOf(&s->pending, owner)) {
            PIRP irp = static_cast<PIRP>(slot->request);
            if (!slot->cancelled && IoSetCancelRoutine(irp, nullptr) == nullptr) {
                slot->cancelling = true; // IoCancelIrp got there first
                continue;
            }
            taken = takeSlot(s, slot, true);
            break;
        }
        const unsigned left = pendingCountOf(&s->pending, owner);
        KeReleaseSpinLock(&s->lock, irql);
        if (taken != nullptr) {
            finish(taken, STATUS_CANCELLED, 0);
            releasePended(s, taken);
            continue;
        }
        if (left == 0) {
            return;
        }
        pauseOneMs(&paused, "cancel routines", static_cast<long>(left));
    }
}

struct ReadyAnswer {
    PIRP irp;
    uint32_t bytesReturned;
    uint16_t resultCode;
    bool failed;
    bool cancelled; // a cancel honoured late
};

// The completing thread: answers every due request and ends every cancel
// honoured late, then sleeps until the next one is due or a new one arrives.
KSTART_ROUTINE completeDueAnswers;

VOID NTAPI completeDueAnswers(PVOID context) {
    DriverState* s = static_cast<DriverState*>(context);
    for (;;) {
        ReadyAnswer ready[COMPLETION_BATCH];
        unsigned readyCount = 0;
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        if (s->stopping) {
            KeReleaseSpinLock(&s->lock, irql);
            break;
        }
        const uint64_t now = nowMs(s);
        while (readyCount < COMPLETION_BATCH) {
            PendingAnswer* slot = pendingNextDue(&s->pending, now);
            if (slot == nullptr) {
                break;
            }
            PIRP irp = static_cast<PIRP>(slot->request);
            if (!slot->cancelled && IoSetCancelRoutine(irp, nullptr) == nullptr) {
                slot->cancelling = true; // its cancel routine completes it
                continue;
            }
            ready[readyCount++] = ReadyAnswer{irp, slot->bytesReturned, slot->resultCode,
                                              slot->failed, slot->cancelled};
            takeSlot(s, slot, slot->cancelled);
        }
        const uint64_t wakeAt = pendingWakeAt(&s->pending);
        KeReleaseSpinLock(&s->lock, irql);

        for (unsigned i = 0; i < readyCount; ++i) {
            if (ready[i].cancelled) {
                finish(ready[i].irp, STATUS_CANCELLED, 0);
            } else {
                answerSet(ready[i].irp, ready[i].resultCode, ready[i].failed,
                          ready[i].bytesReturned);
            }
            releasePended(s, ready[i].irp);
        }
        if (readyCount == COMPLETION_BATCH) {
            continue; // more may be due already
        }
        LARGE_INTEGER timeout;
        PLARGE_INTEGER limit = nullptr;
        if (wakeAt != UINT64_MAX) {
            const uint64_t later = nowMs(s);
            uint64_t waitMs = wakeAt > later ? wakeAt - later : 0;
            if (waitMs > LONGEST_WAIT_MS) {
                waitMs = LONGEST_WAIT_MS;
            }
            timeout.QuadPart = -static_cast<LONGLONG>(waitMs) * HUNDRED_NS_PER_MS;
            limit = &timeout;
        }
        KeWaitForSingleObject(&s->wake, Executive, KernelMode, FALSE, limit);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

// ---- the program's device -------------------------------------------------

// Puts irp in the table with its cancel routine armed, holding the remove
// lock until it ends: a set-forwarding request's answer, or with no answer
// an interrogation held. One cancelled meanwhile is honoured here.
NTSTATUS pend(DriverState* s, PIRP irp, void* owner, const ExchangeAnswer* answer) {
    const NTSTATUS held = IoAcquireRemoveLock(&s->removeLock, irp);
    if (!NT_SUCCESS(held)) {
        return finish(irp, held, 0);
    }
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    if (answer != nullptr) {
        pendingAdd(&s->pending, irp, owner, *answer);
        ++s->statistics.setPended;
        ++s->statistics.setPendingNow;
    } else {
        pendingHold(&s->pending, irp, owner);
        ++s->statistics.queriesHeld;
        ++s->statistics.queriesHeldNow;
    }
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, cancelPendingAnswer);
    const bool cancelledAlready =
        irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr && honourCancel(s, irp);
    KeReleaseSpinLock(&s->lock, irql);
    if (cancelledAlready) {
        finish(irp, STATUS_CANCELLED, 0);
        releasePended(s, irp);
    } else {
        KeSetEvent(&s->wake, IO_NO_INCREMENT, FALSE);
    }
    return STATUS_PENDING;
}

// Whether a request that pends may go on to the exchange: not once unload
// has begun, since it would outlive the table, and not without room to pend
// it.
NTSTATUS admit(DriverState* s) {
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    NTSTATUS status = STATUS_SUCCESS;
    if (s->stopping) {
        status = STATUS_DELETE_PENDING;
    } else if (s->pending.count == PENDING_CAPACITY) {
        status = STATUS_INSUFFICIENT_RESOURCES;
        ++s->statistics.rejected;
    }
    KeReleaseSpinLock(&s->lock, irql);
    return status;
}

NTSTATUS programDeviceControl(DriverState* s, PIRP irp, PIO_STACK_LOCATION stack) {
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);

    // Held from the admission to the table: only requests here add to it,
    // and unload stops them under it too, so a request admitted keeps its
    // room and reaches the table before unload ends what pends; the exchange
    // never acts on one refused.
    lockExchange(s);
    const bool hold = code == IOCTL_CF_INTERROGATE && s->holdQueries;
    if (code == IOCTL_CF_SET || hold) {
        const NTSTATUS admitted = admit(s);
        if (admitted != STATUS_SUCCESS) {
            unlockExchange(s);
            return finish(irp, admitted, 0);
        }
    }
    const uint64_t now = nowMs(s);
    const ExchangeAnswer answer = exchangeSubmit(s->active, code, buffer, inLength, outLength, now);
    if (answer.status == EXCHANGE_DUE && answer.dueAtMs > now) {
        const NTSTATUS pended = pend(s, irp, stack->FileObject, &answer);
        unlockExchange(s);
        return pended;
    }
    // A held interrogation: the exchange took it as asked, as it takes a
    // set-forwarding request; only its answer is withheld. Malformed ones
    // are refused as ever.
    if (hold && (answer.status == EXCHANGE_COMPLETED || answer.status == EXCHANGE_FINISHED)) {
        const NTSTATUS pended = pend(s, irp, stack->FileObject, nullptr);
        unlockExchange(s);
        return pended;
    }
    unlockExchange(s);

    if (answer.status == EXCHANGE_DUE) { // due now: answered at once
        countOne(s, &ControlStatistics::setCompleted);
        return answerSet(irp, answer.resultCode, answer.failed, answer.bytesReturned);
    }
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    uint32_t ControlStatistics::*counter = &ControlStatistics::rejected;
    switch (answer.status) {
    case EXCHANGE_COMPLETED:
        information = answer.bytesReturned;
        counter = &ControlStatistics::interrogations;
        break;
    case EXCHANGE_FINISHED:
        status = STATUS_NO_MORE_ENTRIES;
        counter = &ControlStatistics::interrogations;
        break;
    case EXCHANGE_BUFFER_TOO_SMALL:
        status = STATUS_BUFFER_TOO_SMALL;
        break;
    case EXCHANGE_INVALID_PARAMETER:
        status = STATUS_INVALID_PARAMETER;
        break;
    case EXCHANGE_UNKNOWN_REQUEST:
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    countOne(s, counter);
    return finish(irp, status, information);
}

// ---- the control device ---------------------------------------------------

// With the exchange held, no program request slips in between.
void resetDriver(DriverState* s) {
    lockExchange(s);
    cancelPendingOf(s, nullptr);
    exchangeInit(s->active, &s->startConfig);
    s->holdQueries = false;
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    s->cancelDelayMs = 0;
    const uint32_t openHandles = s->statistics.openHandles;
    __builtin_memset(&s->statistics, 0, sizeof s->statistics);
    s->statistics.openHandles = openHandles;
    s->statistics.setPendingNow = s->pending.count;
    KeReleaseSpinLock(&s->lock, irql);
    unlockExchange(s);
}

// Builds the configured exchange in the one not in use, then swaps; the
// driver's own settings change with it or not at all.
bool configure(DriverState* s, const ControlConfiguration* request) {
    lockExchange(s);
    SimulatedExchange* next = s->active == &s->exchanges[0] ? &s->exchanges[1] : &s->exchanges[0];
    const bool built = buildConfigured(s->active, request, &s->work, next);
    if (built) {
        s->active = next;
        if ((request->fields & CONTROL_SET_PEND_INTERROGATIONS) != 0) {
            s->holdQueries = request->pendInterrogations != 0;
        }
        if ((request->fields & CONTROL_SET_CANCEL_DELAY) != 0) {
            KIRQL irql;
            KeAcquireSpinLock(&s->lock, &irql);
            s->cancelDelayMs = request->cancelDelayMs;
            KeReleaseSpinLock(&s->lock, irql);
        }
    }
    unlockExchange(s);
    return built;
}

// A control record read: fill(Record*) runs with the exchange held.
template <typename Record, typename Fill>
NTSTATUS readRecord(DriverState* s, PIRP irp, ULONG outLength, Fill fill) {
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    if (buffer == nullptr || outLength < sizeof(Record)) {
        return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    lockExchange(s);
    fill(static_cast<Record*>(buffer));
    unlockExchange(s);
    return finish(irp, STATUS_SUCCESS, sizeof(Record));
}

NTSTATUS controlDeviceControl(DriverState* s, PIRP irp, PIO_STACK_LOCATION stack) {
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;

    switch (code) {
    case CONTROL_IOCTL_RESET:
        resetDriver(s);
        return finish(irp, STATUS_SUCCESS, 0);

    case CONTROL_IOCTL_CONFIGURE:
        if (buffer == nullptr || inLength < sizeof(ControlConfiguration)) {
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        }
        return finish(irp,
                      configure(s, static_cast<const ControlConfiguration*>(buffer))
                          ? STATUS_SUCCESS
                          : STATUS_INVALID_PARAMETER,
                      0);

    case CONTROL_IOCTL_READ_LOG:
        return readRecord<ControlReceivedLog>(
            s, irp, outLength, [s](ControlReceivedLog* log) { fillReceivedLog(s->active, log); });

    case CONTROL_IOCTL_STATISTICS:
        return readRecord<ControlStatistics>(s, irp, outLength, [s](ControlStatistics* out) {
            KIRQL irql;
            KeAcquireSpinLock(&s->lock, &irql);
            __builtin_memcpy(out, &s->statistics, sizeof *out);
            KeReleaseSpinLock(&s->lock, irql);
            out->forwardingCount = s->active->forwardingCount;
        });

    case CONTROL_IOCTL_READ_FORWARDINGS:
        return readRecord<ControlForwardingTable>(
            s, irp, outLength,
            [s](ControlForwardingTable* table) { fillForwardingTable(s->active, table); });

    default:
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

// ---- dispatch -------------------------------------------------------------

NTSTATUS dispatchCreate(DeviceHeader* header, PIRP irp) {
    if (header->role == ROLE_PROGRAM) {
        DriverState* s = header->state;
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        ++s->statistics.openHandles;
        ++s->statistics.totalOpens;
        KeReleaseSpinLock(&s->lock, irql);
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

// Windows ends a handle's requests at cleanup; Wine sends no cleanup and
// closes even while a request on the handle waits, so close ends them too.
NTSTATUS dispatchCleanup(DeviceHeader* header, PIRP irp, PIO_STACK_LOCATION stack) {
    if (header->role == ROLE_PROGRAM) {
        cancelPendingOf(header->state, stack->FileObject);
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

NTSTATUS dispatchClose(DeviceHeader* header, PIRP irp, PIO_STACK_LOCATION stack) {
    if (header->role == ROLE_PROGRAM) {
        DriverState* s = header->state;
        cancelPendingOf(s, stack->FileObject);
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        if (s->statistics.openHandles > 0) {
            --s->statistics.openHandles;
        }
        ++s->statistics.totalCloses;
        KeReleaseSpinLock(&s->lock, irql);
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

DRIVER_DISPATCH dispatch;

NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp) {
    DeviceHeader* header = headerOf(device);
    DriverState* s = header->state;
    // Held while this routine runs; refused once unload waits for the holders.
    const NTSTATUS held = IoAcquireRemoveLock(&s->removeLock, irp);
    if (!NT_SUCCESS(held)) {
        return finish(irp, held, 0);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        status = dispatchCreate(header, irp);
        break;
    case IRP_MJ_CLEANUP:
        status = dispatchCleanup(header, irp, stack);
        break;
    case IRP_MJ_CLOSE:
        status = dispatchClose(header, irp, stack);
        break;
    case IRP_MJ_DEVICE_CONTROL:
        status = header->role == ROLE_PROGRAM ? programDeviceControl(s, irp, stack)
                                              : controlDeviceControl(s, irp, stack);
        break;
    default:
        status = finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        break;
    }
    IoReleaseRemoveLock(&s->removeLock, irp);
    return status;
}

// ---- load and unload ------------------------------------------------------

// The device and its symbolic link, or neither.
NTSTATUS createDevice(PDRIVER_OBJECT driver, const DeviceNames& names, ULONG extensionSize,
                      ULONG deviceType, PDEVICE_OBJECT* device) {
    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&deviceName, names.device);
    RtlInitUnicodeString(&linkName, names.link);
    NTSTATUS status = IoCreateDevice(driver, extensionSize, &deviceName, deviceType,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, device);
    if (!NT_SUCCESS(status)) {
        *device = nullptr;
        return status;
    }
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = nullptr;
    }
    return status;
}

void removeDevice(PDEVICE_OBJECT device, const DeviceNames& names) {
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, names.link);
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(device);
}

// The thread object type. ntoskrnl exports PsThreadType as a variable that
// holds it. The DDK header declares that variable as a POBJECT_TYPE* import
// for the usual `*PsThreadType`, which needs an import library that binds the
// name to the import slot; with this toolchain's imports the name is the
// variable itself, and `*PsThreadType` would read one pointer too far (into
// the type object, as Wine's host shows by faulting).
POBJECT_TYPE threadObjectType() {
    return reinterpret_cast<POBJECT_TYPE>(PsThreadType);
}

void askWorkerToStop(DriverState* s) {
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    s->stopping = true;
    KeReleaseSpinLock(&s->lock, irql);
    KeSetEvent(&s->wake, IO_NO_INCREMENT, FALSE);
}

// The completing thread, held by its object: the handle is closed at once,
// and stopWorker waits on the object.
NTSTATUS startWorker(DriverState* s) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE thread = nullptr;
    NTSTATUS status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, &attributes, nullptr,
                                           nullptr, completeDueAnswers, s);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = ObReferenceObjectByHandle(thread, SYNCHRONIZE, threadObjectType(), KernelMode,
                                       &s->worker, nullptr);
    if (!NT_SUCCESS(status)) {
        // It runs all the same: stop it through the handle, which still works.
        s->worker = nullptr;
        askWorkerToStop(s);
        ZwWaitForSingleObject(thread, FALSE, nullptr);
    }
    ZwClose(thread);
    return status;
}

void stopWorker(DriverState* s) {
    askWorkerToStop(s);
    KeWaitForSingleObject(s->worker, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(s->worker);
    s->worker = nullptr;
}

// What unload does for Wine, and only for Wine. Windows calls the unload
// routine once no file object refers to the devices any more, when no
// request can be pending or inside this driver. Wine unloads at once, with
// handles still open and their requests pending (it never sends
// IRP_MJ_CLEANUP), and unmaps the image while their close requests may still
// come. So: hand later requests to the loader's default handler, let
// nothing more pend and end what still pends, then let go of the driver's
// own hold on the remove lock and wait for those still inside this driver
// to leave, the cancel routines that end requests included. Each wait lasts
// as long as it takes, since the state they use goes with the program's
// device.
void quiesceForEarlyUnload(PDRIVER_OBJECT driver, DriverState* s) {
    for (unsigned i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = s->hostDispatch[i];
    }
    lockExchange(s);    // no request between its admission and the table
    askWorkerToStop(s); // and admits no more
    cancelPendingOf(s, nullptr);
    unlockExchange(s);
    IoReleaseRemoveLockAndWait(&s->removeLock, driver);
}

DRIVER_UNLOAD unloadDriver;

VOID NTAPI unloadDriver(PDRIVER_OBJECT driver) {
    PDEVICE_OBJECT program = nullptr;
    PDEVICE_OBJECT control = nullptr;
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr;
         device = device->NextDevice) {
        if (headerOf(device)->role == ROLE_PROGRAM) {
            program = device;
        } else {
            control = device;
        }
    }
    if (program == nullptr) {
        return;
    }
    DriverState* s = headerOf(program)->state;
    quiesceForEarlyUnload(driver, s);
    stopWorker(s);
    if (control != nullptr) {
        removeDevice(control, CONTROL_NAMES);
    }
    removeDevice(program, PROGRAM_NAMES); // the state goes with it
}

// The state in the program's device's extension, from the service's
// registry values.
DriverState* initState(PDEVICE_OBJECT program, PUNICODE_STRING registryPath) {
    auto* extension = static_cast<ProgramExtension*>(program->DeviceExtension);
    __builtin_memset(extension, 0, sizeof *extension);
    DriverState* s = &extension->state;
    extension->header = DeviceHeader{ROLE_PROGRAM, s};
    KeInitializeSpinLock(&s->lock);
    KeInitializeMutex(&s->exchangeLock, 0);
    KeInitializeEvent(&s->wake, SynchronizationEvent, FALSE);
    KeQueryPerformanceCounter(&s->frequency);
    pendingInit(&s->pending);
    readStartConfig(registryPath, &s->startConfig);
    s->active = &s->exchanges[0];
    if (!exchangeInit(s->active, &s->startConfig)) {
        DbgPrint("capi201: some start forwardings refused\n");
    }
    return s;
}

NTSTATUS failedLoad(const char* step, NTSTATUS status) {
    DbgPrint("capi201: not loaded, %s failed (status 0x%08lx)\n", step,
             static_cast<unsigned long>(status));
    return status;
}

} // namespace

// Each failing step undoes the ones before it.
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    PDEVICE_OBJECT program = nullptr;
    NTSTATUS status =
        createDevice(driver, PROGRAM_NAMES, sizeof(ProgramExtension), CF_DEVICE_TYPE, &program);
    if (!NT_SUCCESS(status)) {
        return failedLoad("the program's device", status);
    }
    DriverState* s = initState(program, registryPath);
    // The driver's own hold, let go of at unload. Taken here rather than left
    // to the lock's initial count, which Windows starts at one but Wine at
    // zero; IoReleaseRemoveLockAndWait lets go of one its caller took on both.
    IoInitializeRemoveLock(&s->removeLock, POOL_TAG, 0, 0);
    IoAcquireRemoveLock(&s->removeLock, driver);

    PDEVICE_OBJECT control = nullptr;
    status =
        createDevice(driver, CONTROL_NAMES, sizeof(DeviceHeader), CONTROL_DEVICE_TYPE, &control);
    if (!NT_SUCCESS(status)) {
        removeDevice(program, PROGRAM_NAMES);
        return failedLoad("the control device", status);
    }
    *headerOf(control) = DeviceHeader{ROLE_CONTROL, s};

    status = startWorker(s);
    if (!NT_SUCCESS(status)) {
        removeDevice(control, CONTROL_NAMES);
        removeDevice(program, PROGRAM_NAMES);
        return failedLoad("the completing thread", status);
    }

    for (unsigned i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        s->hostDispatch[i] = driver->MajorFunction[i];
    }
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch;
    driver->DriverUnload = unloadDriver;
    DbgPrint("capi201: loaded; delay %u ms, time-out %u ms, %u unreachable, %u forwardings\n",
             s->startConfig.delayMs, s->startConfig.timeOutMs, s->startConfig.unreachableCount,
             s->active->forwardingCount);
    program->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    control->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}
