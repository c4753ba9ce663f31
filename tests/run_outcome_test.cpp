// RunOutcome: the exit status that follows from what a run showed.
#include "ui/run_outcome.h"

#include <gtest/gtest.h>

#include <csignal>
// Windows' C library has no SIGHUP: a closed console counts as signal 1 there.
#ifndef SIGHUP
#define SIGHUP 1
#endif

#include "res/strings.h"

namespace {

struct OutcomeCase {
    const char* name;
    std::vector<OperatorMessage> messages;
    bool cancelled;
    bool failed;
    int expected;
};

OperatorMessage Message(UINT id) { return {id, LoadResString(id)}; }

const OperatorMessage kNotice = Message(IDS_STARTUP_NOTICE);
const OperatorMessage kEstablished = Message(IDS_CONNECTION_ESTABLISHED);
const OperatorMessage kSelect = Message(IDS_SELECT_SCRIPT);
const OperatorMessage kSuccess = Message(IDS_DOWNLOAD_COMPLETED);

class RunOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

}  // namespace

TEST_P(RunOutcomeTest, ExitStatus) {
    RunOutcome outcome;
    for (const OperatorMessage& message : GetParam().messages)
        outcome.NoteMessage(message);
    if (GetParam().cancelled)
        outcome.NoteCancelled();
    if (GetParam().failed)
        outcome.NoteFailure();
    EXPECT_EQ(outcome.ExitStatus(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunOutcomeTest,
    ::testing::Values(
        OutcomeCase{"Success", {kNotice, kEstablished, kSelect, kSuccess}, false, false, kExitSuccess},
        OutcomeCase{"NoDownload", {kNotice, kEstablished, kSelect}, false, false, kExitFailure},
        OutcomeCase{"PortError", {kNotice, Message(IDS_UNABLE_TO_OPEN_PORT)}, false, false, kExitFailure},
        OutcomeCase{"ReceiverError",
                    {kNotice, kEstablished, kSelect, Message(IDS_COMMUNICATION_ERROR)}, false, false,
                    kExitFailure},
        // A failure text of the upload's own, even if success followed it.
        OutcomeCase{"UploadFailureText", {kNotice, {IDS_LZSS_UNREADABLE, "Cannot read the data file"}, kSuccess},
                    false, false, kExitFailure},
        OutcomeCase{"FileDoesNotExist",
                    {kNotice, kEstablished, kSelect, {IDT_FILE_DOES_NOT_EXIST, kTextFileDoesNotExist}}, false, false,
                    kExitFailure},
        OutcomeCase{"TimedOut", {kNotice}, false, true, kExitFailure},
        OutcomeCase{"Cancelled", {kNotice, {IDT_CONNECTION_CANCELLED, kTextConnectionCancelled}}, true, false,
                    kExitCancelled},
        OutcomeCase{"CancelledAfterAnError", {kNotice, Message(IDS_COMMUNICATION_ERROR)}, true, false,
                    kExitCancelled}),
    [](const auto& info) { return std::string(info.param.name); });

// A signal's cancel gives 128 + its number; the first cancel decides.
TEST(RunOutcomeSignalTest, ExitStatusFollowsTheFirstCancel) {
    // SIGHUP's number, which Windows' C library does not name (its closed
    // console counts as one).
    constexpr int kHangUp = 1;
    for (const auto& [first, second, status] : std::vector<std::tuple<int, int, int>>{
             {SIGTERM, 0, 143}, {kHangUp, 0, 129}, {SIGINT, 0, 130}, {0, kHangUp, 130}, {SIGTERM, SIGINT, 143}}) {
        RunOutcome outcome;
        outcome.NoteMessage(kSuccess);
        outcome.NoteCancelled(first);
        outcome.NoteCancelled(second);
        EXPECT_EQ(outcome.ExitStatus(), status) << first << " " << second;
    }
}
