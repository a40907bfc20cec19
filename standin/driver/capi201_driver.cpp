// Kernel-mode stand-in for the ISDN driver. \Device\CAPI201 carries the
// program's two control requests to one simulated exchange; the test-only
// \Device\CAPI201Control resets, configures and inspects it (see
// control_protocol.h). Built for i686 and x86_64.
//
// Set-forwarding requests are decided by the exchange at once but answered
// when the exchange says the network replies: the IRP waits in a table and a
// system thread completes it at its due time. Interrogations are answered in
// the dispatch routine. One spin lock guards the exchange, the table and the
// counters.
//
// Cancellation is handled here rather than by the system's cancel-safe
// queue: Wine 8's ntoskrnl implements IoCsqInitialize only, and its
// IoCsqInsertIrp, IoCsqRemoveIrp and IoCsqRemoveNextIrp are stubs that end
// the driver's host process. A slot whose IRP a cancel routine has taken is
// marked `cancelling`, and whoever must see the table empty waits for those
// routines to finish.
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
// beside ntddk.h.
extern "C" NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                                         PLARGE_INTEGER timeout);

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

constexpr ULONG POOL_TAG = 0x31304643; // "CF01"
constexpr ULONG VALUE_BUFFER_SIZE = 4096;
constexpr unsigned COMPLETION_BATCH = 16;
constexpr LONGLONG HUNDRED_NS_PER_MS = 10000;
constexpr uint64_t LONGEST_WAIT_MS = 60000;
constexpr unsigned DRAIN_ATTEMPTS = 2000; // 1 ms each

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
    KSPIN_LOCK lock;
    SimulatedExchange exchange;
    SimulatedExchange scratch; // a configured exchange is built here, then copied
    ExchangeConfig work;
    ExchangeConfig startConfig; // what a reset returns to
    PendingTable pending;
    ControlStatistics statistics;
    KEVENT wake; // a new pending answer, or stop
    bool stopping;
    HANDLE worker;
    LARGE_INTEGER frequency;
    PDRIVER_DISPATCH hostDispatch[IRP_MJ_MAXIMUM_FUNCTION + 1]; // the loader's, put back at unload
    volatile LONG dispatching; // requests inside this driver's dispatch code now
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

void pauseOneMs() {
    LARGE_INTEGER pause;
    pause.QuadPart = -HUNDRED_NS_PER_MS;
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
}

// Takes irp out of the table as cancelled, under the lock; false when it was
// not there. The caller completes it after releasing the lock.
bool dropCancelled(DriverState* s, PIRP irp) {
    if (!pendingRemove(&s->pending, irp)) {
        return false;
    }
    ++s->statistics.setCancelled;
    --s->statistics.setPendingNow;
    return true;
}

DRIVER_CANCEL cancelPendingAnswer;

VOID NTAPI cancelPendingAnswer(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    DriverState* s = headerOf(device)->state;
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    const bool found = dropCancelled(s, irp);
    KeReleaseSpinLock(&s->lock, irql);
    if (found) {
        finish(irp, STATUS_CANCELLED, 0);
    }
}

// Cancels the pending answers of owner (all when null) and returns once none
// is left, including those whose cancel routine is running elsewhere; after
// DRAIN_ATTEMPTS pauses it gives up and says so.
void cancelPendingOf(DriverState* s, const void* owner) {
    for (unsigned attempt = 0;;) {
        PIRP taken = nullptr;
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        while (PendingAnswer* slot = pendingAnyOf(&s->pending, owner)) {
            PIRP irp = static_cast<PIRP>(slot->request);
            if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
                slot->cancelling = true; // IoCancelIrp got there first
                continue;
            }
            dropCancelled(s, irp);
            taken = irp;
            break;
        }
        const unsigned left = pendingCountOf(&s->pending, owner);
        KeReleaseSpinLock(&s->lock, irql);
        if (taken != nullptr) {
            finish(taken, STATUS_CANCELLED, 0);
            continue;
        }
        if (left == 0) {
            return;
        }
        if (attempt == DRAIN_ATTEMPTS) {
            DbgPrint("capi201: gave up waiting for %u cancel routines after %u ms\n", left,
                     DRAIN_ATTEMPTS);
            return;
        }
        pauseOneMs();
        ++attempt;
    }
}

struct ReadyAnswer {
    PIRP irp;
    uint32_t bytesReturned;
    uint16_t resultCode;
};

// The completing thread: answers every due request, then sleeps until the
// next one is due or a new one arrives.
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
            if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
                slot->cancelling = true; // its cancel routine completes it
                continue;
            }
            ready[readyCount++] = ReadyAnswer{irp, slot->bytesReturned, slot->resultCode};
            pendingRemove(&s->pending, irp);
            ++s->statistics.setCompleted;
            --s->statistics.setPendingNow;
        }
        const uint64_t wakeAt = pendingWakeAt(&s->pending);
        KeReleaseSpinLock(&s->lock, irql);

        for (unsigned i = 0; i < readyCount; ++i) {
            PIRP irp = ready[i].irp;
            exchangeWriteResultCode(static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer),
                                    ready[i].resultCode);
            finish(irp, STATUS_SUCCESS, ready[i].bytesReturned);
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

NTSTATUS programDeviceControl(DriverState* s, PIRP irp, PIO_STACK_LOCATION stack) {
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);

    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    if (code == IOCTL_CF_SET && s->pending.count == PENDING_CAPACITY) {
        ++s->statistics.rejected;
        KeReleaseSpinLock(&s->lock, irql);
        return finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    const uint64_t now = nowMs(s);
    const ExchangeAnswer answer =
        exchangeSubmit(&s->exchange, code, buffer, inLength, outLength, now);

    if (answer.status == EXCHANGE_DUE && answer.dueAtMs > now) {
        pendingAdd(&s->pending, irp, stack->FileObject, answer);
        ++s->statistics.setPended;
        ++s->statistics.setPendingNow;
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, cancelPendingAnswer);
        PIRP cancelledAlready = nullptr;
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            dropCancelled(s, irp);
            cancelledAlready = irp;
        }
        KeReleaseSpinLock(&s->lock, irql);
        if (cancelledAlready != nullptr) {
            finish(cancelledAlready, STATUS_CANCELLED, 0);
        } else {
            KeSetEvent(&s->wake, IO_NO_INCREMENT, FALSE);
        }
        return STATUS_PENDING;
    }

    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    switch (answer.status) {
    case EXCHANGE_DUE: // due now: answered at once
        exchangeWriteResultCode(buffer, answer.resultCode);
        information = answer.bytesReturned;
        ++s->statistics.setCompleted;
        break;
    case EXCHANGE_COMPLETED:
        information = answer.bytesReturned;
        ++s->statistics.interrogations;
        break;
    case EXCHANGE_FINISHED:
        status = STATUS_NO_MORE_ENTRIES;
        ++s->statistics.interrogations;
        break;
    case EXCHANGE_BUFFER_TOO_SMALL:
        status = STATUS_BUFFER_TOO_SMALL;
        ++s->statistics.rejected;
        break;
    case EXCHANGE_INVALID_PARAMETER:
        status = STATUS_INVALID_PARAMETER;
        ++s->statistics.rejected;
        break;
    case EXCHANGE_UNKNOWN_REQUEST:
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        ++s->statistics.rejected;
        break;
    }
    KeReleaseSpinLock(&s->lock, irql);
    return finish(irp, status, information);
}

// ---- the control device ---------------------------------------------------

void resetDriver(DriverState* s) {
    cancelPendingOf(s, nullptr);
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    exchangeInit(&s->exchange, &s->startConfig);
    const uint32_t openHandles = s->statistics.openHandles;
    __builtin_memset(&s->statistics, 0, sizeof s->statistics);
    s->statistics.openHandles = openHandles;
    s->statistics.setPendingNow = s->pending.count;
    KeReleaseSpinLock(&s->lock, irql);
}

// A control record read: fill(Record*) runs under the lock.
template <typename Record, typename Fill>
NTSTATUS readRecord(DriverState* s, PIRP irp, ULONG outLength, Fill fill) {
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    if (buffer == nullptr || outLength < sizeof(Record)) {
        return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    fill(static_cast<Record*>(buffer));
    KeReleaseSpinLock(&s->lock, irql);
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

    case CONTROL_IOCTL_CONFIGURE: {
        if (buffer == nullptr || inLength < sizeof(ControlConfiguration)) {
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        }
        KIRQL irql;
        KeAcquireSpinLock(&s->lock, &irql);
        const bool built = buildConfigured(
            &s->exchange, static_cast<const ControlConfiguration*>(buffer), &s->work, &s->scratch);
        if (built) {
            __builtin_memcpy(&s->exchange, &s->scratch, sizeof s->exchange);
        }
        KeReleaseSpinLock(&s->lock, irql);
        return finish(irp, built ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0);
    }

    case CONTROL_IOCTL_READ_LOG:
        return readRecord<ControlReceivedLog>(s, irp, outLength, [s](ControlReceivedLog* log) {
            fillReceivedLog(&s->exchange, log);
        });

    case CONTROL_IOCTL_STATISTICS:
        return readRecord<ControlStatistics>(s, irp, outLength, [s](ControlStatistics* out) {
            s->statistics.forwardingCount = s->exchange.forwardingCount;
            __builtin_memcpy(out, &s->statistics, sizeof *out);
        });

    case CONTROL_IOCTL_READ_FORWARDINGS:
        return readRecord<ControlForwardingTable>(
            s, irp, outLength,
            [s](ControlForwardingTable* table) { fillForwardingTable(&s->exchange, table); });

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
    InterlockedIncrement(&s->dispatching);
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
    InterlockedDecrement(&s->dispatching);
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

void stopWorker(DriverState* s) {
    KIRQL irql;
    KeAcquireSpinLock(&s->lock, &irql);
    s->stopping = true;
    KeReleaseSpinLock(&s->lock, irql);
    KeSetEvent(&s->wake, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(s->worker, FALSE, nullptr);
    ZwClose(s->worker);
    s->worker = nullptr;
}

// Wine unloads at once, with handles still open, and unmaps the image while
// their close requests may still come: hand those to the loader's default
// handler and let requests already inside this driver leave first.
void detachDispatch(PDRIVER_OBJECT driver, DriverState* s) {
    for (unsigned i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = s->hostDispatch[i];
    }
    for (unsigned attempt = 0; s->dispatching != 0; ++attempt) {
        if (attempt == DRAIN_ATTEMPTS) {
            DbgPrint("capi201: unloading with %ld requests still in dispatch after %u ms\n",
                     s->dispatching, DRAIN_ATTEMPTS);
            return;
        }
        pauseOneMs();
    }
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
    detachDispatch(driver, s);
    stopWorker(s);
    cancelPendingOf(s, nullptr);
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
    KeInitializeEvent(&s->wake, SynchronizationEvent, FALSE);
    KeQueryPerformanceCounter(&s->frequency);
    pendingInit(&s->pending);
    readStartConfig(registryPath, &s->startConfig);
    if (!exchangeInit(&s->exchange, &s->startConfig)) {
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

    PDEVICE_OBJECT control = nullptr;
    status =
        createDevice(driver, CONTROL_NAMES, sizeof(DeviceHeader), CONTROL_DEVICE_TYPE, &control);
    if (!NT_SUCCESS(status)) {
        removeDevice(program, PROGRAM_NAMES);
        return failedLoad("the control device", status);
    }
    *headerOf(control) = DeviceHeader{ROLE_CONTROL, s};

    status = PsCreateSystemThread(&s->worker, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                  completeDueAnswers, s);
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
             s->exchange.forwardingCount);
    program->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    control->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}
