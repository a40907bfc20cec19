// Reports what the process owning a window holds, for the soak, which reads
// it at the start and at the end:
//   process_stats TITLE
//   -> pid N / handles N / private BYTES / workingset BYTES
// The handles are counted in the system's list of every open handle, which
// Wine fills from its server for any process (its GetProcessHandleCount
// answers 0 for another process, and the per-process list reports the size
// of the handle table rather than the handles in it). Wine leaves the private
// bytes of another process at 0: then "private n/a", and the caller reads the
// host's view of the process.
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

constexpr int SYSTEM_HANDLE_INFORMATION_CLASS = 16;
constexpr LONG STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<LONG>(0xC0000004);

// One open handle of the system's list; the owner's id in the first 32 bits
// as Wine lays it out (Windows puts a 16-bit id and a zero there).
struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};

struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};

bool handleCount(DWORD processId, unsigned long* count) {
    typedef LONG(WINAPI * QuerySystemInformation)(int, void*, ULONG, ULONG*);
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return false;
    for (ULONG size = 1u << 20; size <= (1u << 26); size *= 2) {
        void* buffer = malloc(size);
        if (buffer == nullptr)
            return false;
        ULONG needed = 0;
        LONG status = query(SYSTEM_HANDLE_INFORMATION_CLASS, buffer, size, &needed);
        if (status == STATUS_INFO_LENGTH_MISMATCH_CODE) {
            free(buffer);
            continue;
        }
        bool listed = status == 0;
        if (listed) {
            const HandleList* list = static_cast<const HandleList*>(buffer);
            unsigned long owned = 0;
            for (ULONG i = 0; i < list->count; ++i) {
                if (list->entries[i].ownerProcessId == processId)
                    ++owned;
            }
            *count = owned;
        }
        free(buffer);
        return listed;
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
    if (process != nullptr)
        CloseHandle(process);
    fflush(stdout);
    return 0;
}
