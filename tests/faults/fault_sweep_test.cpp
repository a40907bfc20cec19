// Every command sequence of the table is run once cleanly, then once more for
// every operation it performed and every way that operation can fail. Each
// run must end with the line owed for the fault, open the driver once per
// command, leave no event or extra handle open between commands, leave no
// request running on a released buffer, and close everything when the dialog
// ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "command_routing.h"
#include "fake_platform.h"
#include "fault_platform.h"
#include "forwarding_session.h"
#include "session_invariants.h"

namespace {

// The dialog's commands and lines, as the user knows them.
constexpr uint32_t CANCEL = 2, BUSY = 1021, NO_REPLY = 1022, DEACTIVATE = 1031, ACTIVATE = 1032,
                   CHECK = 1033;
const char FAILED_TO_OPEN[] = "Failed to Open Driver";
const char NEED_SERVED[] = "Need to fill Transferd Number!";
const char NEED_FORWARDED_TO[] = "Need to fill Forward-To Number!";
const char FINISHED[] = "Interrogation is finished";
const char TIME_OUT[] = "Interrogation is time-out";

// --- the table ----------------------------------------------------------

enum StepKind {
    STEP_FIELDS,
    STEP_PRESS,
    STEP_TICK,
    STEP_POLL_UNTIL_DONE,
    STEP_FILL_LOG,
    STEP_DRIVER
};

struct Step {
    StepKind kind;
    uint32_t value; // the command pressed, the lines to fill, the driver present or not
    std::string served;
    std::string forwardedTo;
};

Step fields(const std::string& served, const std::string& forwardedTo) {
    return {STEP_FIELDS, 0, served, forwardedTo};
}
Step press(uint32_t command) {
    return {STEP_PRESS, command, "", ""};
}
Step tick() {
    return {STEP_TICK, 0, "", ""};
}
Step pollUntilDone() {
    return {STEP_POLL_UNTIL_DONE, 0, "", ""};
}
Step fillLog(uint32_t count) {
    return {STEP_FILL_LOG, count, "", ""};
}
Step driver(bool present) {
    return {STEP_DRIVER, present, "", ""};
}

FakeAnswer setAnswer(uint16_t code, IoStart start = IO_COMPLETED) {
    FakeAnswer a;
    a.start = start;
    a.writes = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
    a.bytesReturned = 53;
    return a;
}

FakeAnswer interrogationBytes(uint32_t count) {
    FakeAnswer a;
    a.bytesReturned = count;
    return a;
}

FakeAnswer interrogationEntry(uint8_t procedure, uint8_t service, const char* served,
                              const char* forwardedTo) {
    FakeAnswer a;
    a.bytesReturned = 54;
    a.writes.assign(54, 0);
    a.writes[0] = procedure;
    a.writes[1] = service;
    std::memcpy(a.writes.data() + 2, served, std::strlen(served));
    std::memcpy(a.writes.data() + 28, forwardedTo, std::strlen(forwardedTo));
    return a;
}

FakeAnswer interrogationFinished() {
    FakeAnswer a;
    a.start = IO_REFUSED;
    return a;
}

const char SEPARATOR[] = "---------------------------------";

std::vector<std::string> block(const std::string& cfBy, const std::string& from,
                               const std::string& to) {
    return {SEPARATOR, "CF by " + cfBy, "From: " + from, "To:   " + to, SEPARATOR};
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Sequence {
    const char* name;
    std::function<void(FakePlatform&)> script; // the device's answers
    std::vector<Step> steps;
    std::vector<std::string> cleanLines; // what the commands log without a fault
};

std::vector<Sequence> sequences() {
    const auto busySpeech = block("Busy (Speech)", "821", "739");
    const auto noReplyData = block("No reply (Data call)", "821", "5550100");
    return {
        {"activate answered at once",
         [](FakePlatform& f) { f.setAnswers = {setAnswer(0)}; },
         {fields("821", "739"), press(ACTIVATE)},
         {"Activation is successful"}},
        {"activate answered later",
         [](FakePlatform& f) { f.setAnswers = {setAnswer(0, IO_PENDING)}; },
         {fields("821", "739"), press(ACTIVATE)},
         {"Activation is successful"}},
        {"busy, deactivate, network refuses",
         [](FakePlatform& f) { f.setAnswers = {setAnswer(0x3301, IO_PENDING)}; },
         {fields("821", "739"), press(BUSY), press(DEACTIVATE)},
         {"Deactivation is failed (3301)"}},
        {"no reply, activate twice",
         [](FakePlatform& f) {
             f.setAnswers = {setAnswer(0x3303), setAnswer(0, IO_PENDING)};
         },
         {fields("821", "739"), press(NO_REPLY), press(ACTIVATE), press(ACTIVATE)},
         {"Activation is time out", "Activation is successful"}},
        {"missing numbers",
         [](FakePlatform&) {},
         {fields("", ""), press(ACTIVATE), fields("821", ""), press(DEACTIVATE), fields("", "739"),
          press(CHECK)},
         {NEED_SERVED, NEED_FORWARDED_TO, NEED_SERVED}},
        {"poll until finished, nothing found",
         [](FakePlatform& f) { f.interrogationAnswers = {interrogationFinished()}; },
         {fields("821", ""), pollUntilDone()},
         {FINISHED}},
        {"poll with entries",
         [](FakePlatform& f) {
             f.interrogationAnswers = {
                 interrogationBytes(0), interrogationEntry(1, 1, "821", "739"),
                 interrogationBytes(0), interrogationEntry(2, 2, "821", "5550100"),
                 interrogationFinished()};
         },
         {fields("821", ""), pollUntilDone()},
         join({busySpeech, noReplyData, {FINISHED}})},
        {"poll ends in a time-out",
         [](FakePlatform& f) {
             f.interrogationAnswers = {interrogationEntry(1, 1, "821", "739"),
                                       interrogationBytes(1)};
         },
         {fields("821", ""), pollUntilDone()},
         join({busySpeech, {TIME_OUT}})},
        {"button pressed again while polling",
         [](FakePlatform& f) {
             f.interrogationAnswers = {interrogationBytes(0),
                                       interrogationEntry(1, 1, "821", "739"),
                                       interrogationBytes(0), interrogationFinished()};
         },
         {fields("821", ""), press(CHECK), press(CHECK), tick(), tick(), tick()},
         join({busySpeech, {FINISHED}})},
        {"activations between poll ticks",
         [](FakePlatform& f) {
             f.setAnswers = {setAnswer(0, IO_PENDING), setAnswer(0), setAnswer(0x00ab, IO_PENDING)};
             f.interrogationAnswers = {interrogationBytes(0),
                                       interrogationEntry(1, 1, "821", "739"),
                                       interrogationFinished()};
         },
         {fields("821", "739"), press(CHECK), press(ACTIVATE), tick(), press(BUSY),
          press(DEACTIVATE), tick(), press(ACTIVATE)},
         join({{"Activation is successful"},
               busySpeech,
               {"Deactivation is successful", FINISHED, "Activation is failed (00ab)"}})},
        {"full list",
         [](FakePlatform& f) {
             f.setAnswers = {setAnswer(0)};
             f.interrogationAnswers = {interrogationEntry(1, 1, "821", "739"),
                                       interrogationEntry(2, 2, "821", "5550100"),
                                       interrogationFinished()};
         },
         {fillLog(300), fields("821", "739"), press(ACTIVATE), pollUntilDone()},
         join({{"Activation is successful"}, busySpeech, noReplyData, {FINISHED}})},
        {"field emptied while polling",
         [](FakePlatform& f) {
             f.interrogationAnswers = {interrogationBytes(0),
                                       interrogationEntry(1, 1, "821", "739"),
                                       interrogationFinished()};
         },
         {fields("821", ""), press(CHECK), fields("", ""), tick(), fields("821", ""), tick(),
          tick()},
         join({{NEED_SERVED}, busySpeech, {FINISHED}})},
        {"driver gone while polling",
         [](FakePlatform& f) {
             f.interrogationAnswers = {interrogationBytes(0), interrogationFinished()};
         },
         {fields("821", ""), press(CHECK), driver(false), tick(), driver(true), tick()},
         {FAILED_TO_OPEN, FINISHED}},
    };
}

// --- one run ------------------------------------------------------------

// What one routed command did.
struct Dispatch {
    uint32_t command;
    std::vector<std::string> lines;
    bool faulted; // the injected fault struck during this command
};

struct SweepRun {
    FakePlatform fake;
    FaultPlatform faults;
    ForwardingSession session{};
    std::vector<Dispatch> dispatches;
    std::vector<std::string> violations;

    SweepRun(const Sequence& sequence, int failAt, FaultKind kind) {
        sequence.script(fake);
        faults.failAt = failAt;
        faults.kind = kind;
        Platform platform = faults.platform(fake.platform());
        forwardingSessionInit(&session, &platform);
        statusLogStart(&session.log);
        for (const Step& step : sequence.steps) {
            perform(step);
        }
        commandRoutingDispatch(&session, CANCEL);
        if (!fake.openDevices.empty() || !fake.openEvents.empty()) {
            violations.push_back("handles left open after the dialog ended");
        }
        if (session.channel.driverHandle != PLATFORM_NO_HANDLE) {
            violations.push_back("the slot still holds a handle after the dialog ended");
        }
    }

    void perform(const Step& step) {
        switch (step.kind) {
        case STEP_FIELDS:
            fake.servedUserNumber = step.served;
            fake.forwardedToNumber = step.forwardedTo;
            break;
        case STEP_PRESS:
            dispatch(step.value);
            break;
        case STEP_TICK:
            // The platform delivers ticks only while the timer runs.
            if (fake.timerArmed) {
                dispatch(CHECK);
            }
            break;
        case STEP_POLL_UNTIL_DONE:
            dispatch(CHECK);
            for (int ticks = 0; fake.timerArmed && ticks < 50; ++ticks) {
                dispatch(CHECK);
            }
            if (fake.timerArmed) {
                violations.push_back("polling did not end");
            }
            break;
        case STEP_FILL_LOG:
            for (uint32_t i = 0; i < step.value; ++i) {
                fake.lines.push_back("old line " + std::to_string(i));
            }
            break;
        case STEP_DRIVER:
            fake.driverPresent = step.value != 0;
            break;
        }
    }

    void dispatch(uint32_t command) {
        CommandWatch watch = watchCommand(fake);
        bool firedBefore = faults.fired;
        bool timerBefore = fake.timerArmed;
        size_t opensBefore = opens();
        commandRoutingDispatch(&session, command);
        Dispatch d{command, appendedLines(fake, watch), faults.fired && !firedBefore};
        std::string where = "command " + std::to_string(command) + " (#" +
                            std::to_string(dispatches.size()) + "): ";
        for (const char* problem :
             {checkBetweenCommands(fake, session), checkCommandLines(command, fake, watch),
              faults.holding ? "a request held by the driver was left running" : nullptr}) {
            if (problem != nullptr) {
                violations.push_back(where + problem);
            }
        }
        // The three buttons (each tick included) open the driver exactly once,
        // whatever fails before or during the command; nothing else opens it.
        bool button = command == ACTIVATE || command == DEACTIVATE || command == CHECK;
        if (opens() - opensBefore != (button ? 1u : 0u)) {
            violations.push_back(where + "opened the driver " +
                                 std::to_string(opens() - opensBefore) + " times");
        }
        if (d.faulted) {
            checkOwed(d, timerBefore, where);
        }
        dispatches.push_back(d);
    }

    size_t opens() const {
        return static_cast<size_t>(
            std::count(faults.operations.begin(), faults.operations.end(), OPERATION_OPEN));
    }

    // The lines the system owes for the fault, where they do not depend on
    // what the device would have answered.
    void checkOwed(const Dispatch& d, bool timerBefore, const std::string& where) {
        bool poll = d.command == CHECK;
        std::string failedLine = poll                    ? FINISHED
                                 : d.command == ACTIVATE ? "Activation is failed"
                                                         : "Deactivation is failed";
        std::vector<std::string> owed;
        switch (faults.kind) {
        case FAULT_OPEN_FAILS:
            owed = {FAILED_TO_OPEN};
            if (session.channel.driverHandle != PLATFORM_NO_HANDLE || !fake.openDevices.empty()) {
                violations.push_back(where + "a failed open left a handle behind");
            }
            if (poll && fake.timerArmed != timerBefore) {
                violations.push_back(where + "a failed open changed the poll timer");
            }
            break;
        case FAULT_PENDING:
            if (!poll) {
                return; // completes later with the device's own answer: compared with the clean run
            }
            [[fallthrough]];
        case FAULT_EVENT_FAILS:
        case FAULT_REFUSED:
        case FAULT_PENDING_WAIT_FAILS:
        case FAULT_WAIT_FAILS:
            owed = {failedLine};
            // An interrogation that cannot be completed ends the poll.
            if (poll && fake.timerArmed) {
                violations.push_back(where + "the poll timer still runs after the poll ended");
            }
            break;
        case FAULT_ARM_FAILS:
        case FAULT_NONE:
            return; // compared with the clean run
        }
        if (d.lines != owed) {
            std::string got;
            for (const auto& line : d.lines) {
                got += "'" + line + "' ";
            }
            violations.push_back(where + "logged " + got + "instead of '" + owed[0] + "'");
        }
    }
};

size_t sweptPoints = 0;
size_t sweptSequences = 0;

class SweepSummary : public ::testing::Environment {
  public:
    void TearDown() override {
        std::printf("fault sweep: %zu fault points over %zu command sequences\n", sweptPoints,
                    sweptSequences);
    }
};

const ::testing::Environment* const summary = ::testing::AddGlobalTestEnvironment(new SweepSummary);

std::string describe(const std::vector<std::string>& lines) {
    std::ostringstream out;
    for (const auto& line : lines) {
        out << "  '" << line << "'\n";
    }
    return out.str();
}

std::vector<std::string> allLines(const SweepRun& run) {
    std::vector<std::string> lines;
    for (const Dispatch& d : run.dispatches) {
        lines.insert(lines.end(), d.lines.begin(), d.lines.end());
    }
    return lines;
}

class FaultSweep : public ::testing::TestWithParam<size_t> {};

} // namespace

TEST_P(FaultSweep, EveryOperationFailingInEveryWay) {
    const Sequence sequence = sequences()[GetParam()];
    SCOPED_TRACE(sequence.name);

    SweepRun clean(sequence, 0, FAULT_NONE);
    ASSERT_TRUE(clean.violations.empty()) << describe(clean.violations);
    ASSERT_EQ(sequence.cleanLines, allLines(clean)) << "logged:\n" << describe(allLines(clean));
    ASSERT_FALSE(clean.faults.operations.empty());

    size_t points = 0;
    for (size_t n = 1; n <= clean.faults.operations.size(); ++n) {
        FaultOperation operation = clean.faults.operations[n - 1];
        for (FaultKind kind : faultsFor(operation)) {
            SweepRun run(sequence, static_cast<int>(n), kind);
            ++points;
            std::string context = std::string("operation ") + std::to_string(n) + " (" +
                                  faultOperationName(operation) + "): " + faultKindName(kind);
            ASSERT_TRUE(run.faults.fired) << context << ": the operation was never reached";
            EXPECT_TRUE(run.violations.empty()) << context << "\n" << describe(run.violations);

            // Up to the faulted command the run is the clean one, and a fault
            // that changes no answer changes no line of that command either.
            size_t faulted = 0;
            while (faulted < run.dispatches.size() && !run.dispatches[faulted].faulted) {
                ++faulted;
            }
            ASSERT_LT(faulted, run.dispatches.size()) << context;
            ASSERT_LE(faulted, clean.dispatches.size()) << context;
            for (size_t i = 0; i < faulted; ++i) {
                EXPECT_EQ(clean.dispatches[i].lines, run.dispatches[i].lines) << context;
            }
            bool sameAnswer =
                kind == FAULT_ARM_FAILS || (kind == FAULT_PENDING && operation == OPERATION_SET);
            if (sameAnswer) {
                EXPECT_EQ(clean.dispatches[faulted].lines, run.dispatches[faulted].lines)
                    << context;
            }
            if (kind == FAULT_ARM_FAILS) {
                EXPECT_FALSE(run.fake.timerArmed) << context;
            }
        }
    }
    sweptPoints += points;
    ++sweptSequences;
}

INSTANTIATE_TEST_SUITE_P(Table, FaultSweep, ::testing::Range<size_t>(0, sequences().size()),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                             std::string name = sequences()[param.param].name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });
