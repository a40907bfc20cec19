// What must hold around every command the dialog routes to the core, however
// the device and the fields behaved. Shared by the fault sweep (which turns a
// violation into a test failure) and the fuzz targets (which abort on it), so
// the checks read the fake in place and allocate nothing: each returns nullptr
// when it holds, else what broke. The texts and numbers they hold the lines to
// are the contract's, written out here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "forwarding_session.h"

// The longest line each kind of buffer can hold: an outcome line lives in 256
// bytes, a report line in 64.
constexpr size_t OUTCOME_LINE_MAX = 255;
constexpr size_t REPORT_LINE_MAX = 63;
// A report block of five lines may follow a command's trim down to 255.
constexpr size_t STATUS_LINES_AFTER_COMMAND_MAX = 260;

// Between two commands: the fake saw no breach of the contract, no event
// open, at most the one driver handle open and it is the one in the slot, no
// request still running on a buffer that is gone, the poll flag telling the
// truth about the timer, no handle closed twice or never opened.
const char* checkBetweenCommands(const FakePlatform& fake, const ForwardingSession& session);

// Snapshot taken before a command, so that what it appended can be judged.
struct CommandWatch {
    size_t appendsBefore;
    size_t linesBefore;
};
CommandWatch watchCommand(const FakePlatform& fake);

// Index of the first line the command appended: they are the newest lines of
// the list, from there to its end.
size_t firstAppended(const FakePlatform& fake, const CommandWatch& watch);

// The same lines as a list, for reports.
std::vector<std::string> appendedLines(const FakePlatform& fake, const CommandWatch& watch);

// The lines one routed command appended are lines it may write: at most one
// line for a forwarding command, worded as the outcome table says, and for a
// poll nothing, one closing or complaint line or one well-formed report
// block; every line within its buffer; a trim before the first of them, and
// so at most 260 lines once the command is done.
const char* checkCommandLines(uint32_t commandWord, const FakePlatform& fake,
                              const CommandWatch& watch);
