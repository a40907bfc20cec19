// Times programs from process creation to their dialog being visible, in one
// run so that both see the same machine and the same Wine. The programs are
// started in turn, round after round; the first round warms the caches and is
// not counted. Prints one line per start and the median per program:
//   start PROGRAM ROUND MS
//   median PROGRAM MS
//   startup_timer ROUNDS TITLE PROGRAM...
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int MAX_PROGRAMS = 4;
constexpr int MAX_ROUNDS = 64;
constexpr DWORD VISIBLE_TIMEOUT_MS = 30000;
constexpr DWORD EXIT_TIMEOUT_MS = 10000;

struct Search {
    DWORD processId;
    const char* title;
    HWND found;
};

BOOL CALLBACK findVisible(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    char text[256];
    GetWindowTextA(window, text, sizeof text);
    if (strcmp(text, search->title) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

double millisecondsSince(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// Starts the program, waits for its dialog and closes it with Cancel.
// Negative on failure.
double timeOneStart(const char* program, const char* title, const LARGE_INTEGER& frequency) {
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", program, GetLastError());
        return -1;
    }
    Search search = {process.dwProcessId, title, nullptr};
    double elapsed = -1;
    for (;;) {
        EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
        double now = millisecondsSince(start, frequency);
        if (search.found != nullptr) {
            elapsed = now;
            break;
        }
        if (now > VISIBLE_TIMEOUT_MS || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            fprintf(stderr, "%s showed no visible \"%s\"\n", program, title);
            break;
        }
        Sleep(1);
    }
    if (search.found != nullptr) {
        PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);
    }
    if (WaitForSingleObject(process.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        fprintf(stderr, "%s did not end; terminating it\n", program);
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, EXIT_TIMEOUT_MS);
        elapsed = -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

int compareDoubles(const void* a, const void* b) {
    double x = *static_cast<const double*>(a);
    double y = *static_cast<const double*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc - 3 > MAX_PROGRAMS) {
        fprintf(stderr, "usage: startup_timer ROUNDS TITLE PROGRAM...\n");
        return 2;
    }
    int rounds = atoi(argv[1]);
    if (rounds < 1 || rounds > MAX_ROUNDS)
        rounds = 5;
    const char* title = argv[2];
    int programs = argc - 3;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);

    static double times[MAX_PROGRAMS][MAX_ROUNDS];
    for (int round = 0; round <= rounds; ++round) {
        for (int p = 0; p < programs; ++p) {
            double ms = timeOneStart(argv[3 + p], title, frequency);
            if (ms < 0)
                return 1;
            if (round == 0)
                continue; // warm-up
            times[p][round - 1] = ms;
            printf("start %s %d %.1f\n", argv[3 + p], round, ms);
        }
    }
    for (int p = 0; p < programs; ++p) {
        qsort(times[p], static_cast<size_t>(rounds), sizeof(double), compareDoubles);
        double median = rounds % 2 ? times[p][rounds / 2]
                                   : (times[p][rounds / 2 - 1] + times[p][rounds / 2]) / 2;
        printf("median %s %.1f\n", argv[3 + p], median);
    }
    fflush(stdout);
    return 0;
}
