// Reads a fuzz input front to back. Past its end every read gives zeros, so
// any byte string is a valid program of steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Inputs longer than this are not run: every path of either target is
// reached well within it, and longer inputs only repeat commands more slowly.
// scripts/fuzz.sh passes the same bound to libFuzzer as -max_len.
constexpr size_t FUZZ_INPUT_MAX = 256;

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    FuzzInput(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}

    bool more() const { return at < size; }

    uint8_t byte() { return at < size ? data[at++] : 0; }

    uint16_t u16() {
        unsigned low = byte();
        return static_cast<uint16_t>(low | (static_cast<unsigned>(byte()) << 8));
    }

    uint32_t u32() {
        uint32_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }

    // Up to count bytes, fewer when the input runs out.
    std::string_view bytes(size_t count) {
        size_t n = count < size - at ? count : size - at;
        std::string_view taken(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return taken;
    }
};

// A violated invariant: say which and stop, so the fuzzer keeps the input.
[[noreturn]] inline void violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

inline void require(const char* problem) {
    if (problem != nullptr) {
        violated(problem);
    }
}
