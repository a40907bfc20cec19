// Reports what the process owning a window holds, for the soak, which reads
// it at the start and at the end:
//   process_stats TITLE
//   -> pid N / handles N / private BYTES / workingset BYTES
// The handle count comes from the system's process list, which Wine fills
// from its server for any process (its GetProcessHandleCount answers 0 for
// another process). Wine leaves the private bytes of another process at 0:
// then "private n/a", and the caller reads the host's view of the process.
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <winternl.h>

namespace {

constexpr int SYSTEM_PROCESS_INFORMATION_CLASS = 5;

bool handleCount(DWORD processId, unsigned long* count) {
    typedef LONG(WINAPI * QuerySystemInformation)(int, void*, ULONG, ULONG*);
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                               "NtQuerySystemInformation")));
    if (query == nullptr) return false;
    ULONG size = 1u << 20;
    for (int attempt = 0; attempt < 4; ++attempt, size *= 2) {
        void* buffer = malloc(size);
        if (buffer == nullptr) return false;
        ULONG needed = 0;
        if (query(SYSTEM_PROCESS_INFORMATION_CLASS, buffer, size, &needed) != 0) {
            free(buffer);
            continue; // too small: try a larger buffer
        }
        bool found = false;
        const BYTE* at = static_cast<const BYTE*>(buffer);
        for (;;) {
            const SYSTEM_PROCESS_INFORMATION* info =
                reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(at);
            if (reinterpret_cast<ULONG_PTR>(info->UniqueProcessId) == processId) {
                *count = info->HandleCount;
                found = true;
                break;
            }
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
        free(buffer);
        return found;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: process_stats TITLE\n");
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[1]);
    if (window == nullptr) {
        printf("error no window titled \"%s\"\n", argv[1]);
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    printf("pid %lu\n", processId);

    unsigned long handles = 0;
    if (handleCount(processId, &handles)) {
        printf("handles %lu\n", handles);
    } else {
        printf("handles n/a\n");
    }

    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    if (process != nullptr &&
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
        if (memory.PrivateUsage != 0) {
            printf("private %lu\n", static_cast<unsigned long>(memory.PrivateUsage));
        } else {
            printf("private n/a\n");
        }
        printf("workingset %lu\n", static_cast<unsigned long>(memory.WorkingSetSize));
    } else {
        printf("private n/a\nworkingset n/a\n");
    }
    if (process != nullptr) CloseHandle(process);
    fflush(stdout);
    return 0;
}
