// The whole application headless (DownloaderApp, the three dialogs and the
// Connect sequence) over a pseudo-terminal against the simulated receiver:
// each way a run can end, what the operator is told, what reaches the
// receiver, and that the worker threads are gone and the port closed when
// the application ends.
#include "ui/downloader_app.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "link/shared_state.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "res/resource.h"
#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/headless_front_end.h"
#include "support/shared_state_reset.h"
#include "support/temp_folder.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

const std::string kNotice = LoadResString(IDS_STARTUP_NOTICE);
const std::string kEstablished = LoadResString(IDS_CONNECTION_ESTABLISHED);
const std::string kSelect = LoadResString(IDS_SELECT_SCRIPT);
const std::string kSuccess = LoadResString(IDS_DOWNLOAD_COMPLETED);

using Results = std::vector<std::pair<int, int>>;
using Texts = std::vector<std::string>;


// Connect at once; once Connect has returned with the dialog still open
// (Back), Connect again when connectAgain is set, else cancel.
HeadlessFrontEnd::Action ConnectAction(bool connectAgain = false) {
    return [connectAgain](Dialog& d, int round) {
        if (round == 0 || (round == 1 && connectAgain))
            d.OnCommand(IDC_CONNECT);
        else if (!d.IsEnded())
            d.OnCancel();
    };
}

class ConnectSequenceTest : public ::testing::Test {
protected:
    TempFolder m_temp{"connect_sequence_test."};

    void SetUp() override { m_folder = m_temp.Path(); }
    void TearDown() override {
        if (m_sim)
            m_sim->Stop();
    }

    void StartSim(SimOptions options = {}, bool poweredOn = true) {
        options.keepFileData = true;
        std::string reason;
        m_sim = ReceiverSim::CreatePty(options, &reason);
        ASSERT_TRUE(m_sim) << reason;
        if (!poweredOn)
            m_sim->PowerOff();
        m_sim->Start();
    }

    std::string WriteFile(const std::string& name, const void* data, std::size_t size) {
        const fs::path path = m_folder / name;
        std::ofstream file(path, std::ios::binary);
        file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        return path.string();
    }
    std::string WriteScript(const std::string& text) { return WriteFile("load.cmd", text.data(), text.size()); }

    void RunApp() {
        PortSettings settings;
        settings.m_strDevice = m_sim->ToolPath();
        DownloaderApp app(settings);
        EXPECT_EQ(app.InitInstance(m_frontEnd), FALSE);
        EXPECT_FALSE(m_frontEnd.TimedOut());
        for (const std::string& detail : m_frontEnd.Details())
            ADD_FAILURE() << "detail: " << detail;
    }

    // What holds after every run: the workers are gone, the port is closed;
    // each Connect waited for its workers to stop before it closed the port.
    void ExpectCleanEnd() {
        EXPECT_FALSE(m_frontEnd.WorkerWaits().empty());
        for (const HeadlessFrontEnd::WorkerWait& wait : m_frontEnd.WorkerWaits()) {
            EXPECT_FALSE(wait.portClosedBefore);
            EXPECT_TRUE(wait.stopped);
        }
        EXPECT_EQ(RunningWorkerThreads(), 0);
        SerialPort* port = g_hComm.load();
        if (port != nullptr) {
            EXPECT_TRUE(port->IsClosed());
        }
    }

    // The 'E' may or may not have gone out before the run stopped; nothing
    // behind it may have.
    static void ExpectNothingSentAfterTheE(const SimReport& report) {
        EXPECT_TRUE(report.commands.empty() || report.commands == Texts{"E123456"}) << report.Summary();
    }

    // Waits for that many commands; `settle` is the whole wait when fewer
    // are expected, and only a bound when they are.
    SimReport ReportAfterSettling(std::size_t commands, std::chrono::seconds settle = std::chrono::seconds(2)) {
        m_sim->WaitUntil([commands](const SimReport& r) { return r.commands.size() >= commands; }, settle);
        return m_sim->Report();
    }

    SharedStateReset m_reset;
    HeadlessFrontEnd m_frontEnd;
    fs::path m_folder;
    std::unique_ptr<ReceiverSim> m_sim;
};

}  // namespace

TEST_F(ConnectSequenceTest, CompleteDownload) {
    StartSim();
    const auto data = TestFileBytes(5000);
    WriteFile("data.bin", data.data(), data.size());
    m_frontEnd.QueueScriptChoice(WriteScript("CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n"));
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect, kSuccess}));
    EXPECT_EQ(m_frontEnd.Results(), (Results{{IDD_PORT_INIT, IDOK}, {IDD_UPLOAD, IDOK}, {IDD_PORT_SETUP, IDOK}}));
    const auto commands = m_frontEnd.TextsOf(IDC_COMMAND_TEXT);
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0], "Command: E123456");
    EXPECT_EQ(commands[2].rfind("Command: S", 0), 0u);
    for (int position : m_frontEnd.Positions()) {
        EXPECT_GE(position, 0);
        EXPECT_LE(position, 100);
    }
    EXPECT_TRUE(g_bTransferDone.IsSet());
    EXPECT_TRUE(g_bUploadFinished.IsSet());
    ExpectCleanEnd();

    const SimReport report = ReportAfterSettling(3, std::chrono::seconds(30));
    EXPECT_EQ(report.commands, (Texts{"E123456", "Q", "X"}));
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_TRUE(report.files[0].complete);
    EXPECT_EQ(report.files[0].data, data);
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
}

TEST_F(ConnectSequenceTest, CancelDuringTheWait) {
    StartSim({}, /*poweredOn=*/false);
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    m_frontEnd.QueueAction(IDD_PORT_INIT, [](Dialog& d, int round) {
        if (round == 2)
            d.OnCancel();
    });
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kTextConnectionCancelled}));
    EXPECT_EQ(m_frontEnd.Results(), (Results{{IDD_PORT_INIT, IDCANCEL}, {IDD_PORT_SETUP, IDCANCEL}}));
    EXPECT_EQ(m_frontEnd.ScriptChoicesMade(), 0);
    EXPECT_TRUE(g_bAbort.IsSet());
    ExpectCleanEnd();
}

TEST_F(ConnectSequenceTest, BackThenConnectAgain) {
    StartSim({}, /*poweredOn=*/false);
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction(/*connectAgain=*/true));
    m_frontEnd.QueueAction(IDD_PORT_INIT, [](Dialog& d, int round) {
        if (round == 2)
            d.OnCommand(IDC_BACK);
    });
    ReceiverSim* sim = nullptr;
    m_frontEnd.QueueAction(IDD_PORT_INIT, [&sim](Dialog&, int round) {
        // The operator powers the receiver on during the second wait.
        if (round == 0)
            sim->PowerOn();
    });
    m_frontEnd.QueueScriptChoice(std::nullopt);
    sim = m_sim.get();
    RunApp();

    EXPECT_EQ(m_frontEnd.Opened(), (std::vector<int>{IDD_PORT_SETUP, IDD_PORT_INIT, IDD_PORT_INIT}));
    EXPECT_EQ(m_frontEnd.Results(),
              (Results{{IDD_PORT_INIT, IDR_BACK}, {IDD_PORT_INIT, IDOK}, {IDD_PORT_SETUP, IDOK}}));
    // The notice once, also after Back.
    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect}));
    ExpectCleanEnd();
}

TEST_F(ConnectSequenceTest, FileDialogCancelledEndsWithoutUploadAndStopsTheLink) {
    StartSim();
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    m_frontEnd.QueueScriptChoice(std::nullopt);
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect}));
    EXPECT_EQ(m_frontEnd.Opened(), (std::vector<int>{IDD_PORT_SETUP, IDD_PORT_INIT}));
    EXPECT_TRUE(g_bTransferDone.IsSet());
    // Neither the upload's end nor an abort came from the operator: the
    // sequence itself stopped the link before closing the port.
    ExpectCleanEnd();
    EXPECT_TRUE(m_sim->Report().commands.empty());
}

// A chosen script that cannot be run is refused before any upload; a FIFO
// must not hold the sequence in open().
struct RefusedScriptCase {
    const char* name;
    const char* file;  // in the test's folder
    bool regularFileMessage;
};

class RefusedScriptTest : public ConnectSequenceTest, public ::testing::WithParamInterface<RefusedScriptCase> {};

TEST_P(RefusedScriptTest, EndsWithItsMessage) {
    StartSim();
    ASSERT_EQ(::mkfifo((m_folder / "fifo.cmd").c_str(), 0600), 0);
    const std::string path = (m_folder / GetParam().file).string();
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    m_frontEnd.QueueScriptChoice(path);
    RunApp();

    const std::string message = GetParam().regularFileMessage
                                    ? LoadResString(IDS_SCRIPT_NOT_REGULAR) + "\n\n" + path
                                    : std::string(kTextFileDoesNotExist);
    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect, message}));
    EXPECT_EQ(m_frontEnd.Opened(), (std::vector<int>{IDD_PORT_SETUP, IDD_PORT_INIT}));
    EXPECT_EQ(m_frontEnd.Results().back(), (std::pair<int, int>{IDD_PORT_SETUP, IDOK}));
    ExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Scripts, RefusedScriptTest,
                         ::testing::Values(RefusedScriptCase{"DoesNotExist", "missing.cmd", false},
                                           RefusedScriptCase{"Fifo", "fifo.cmd", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailedUploadCase {
    const char* name;
    const char* script;
    UINT messageId;
};

class FailedUploadTest : public ConnectSequenceTest, public ::testing::WithParamInterface<FailedUploadCase> {};

// After the failure is reported nothing more reaches the receiver: the 'X'
// behind the failing command is never sent.
TEST_P(FailedUploadTest, ReportsTheFailureAndSendsNothingMore) {
    StartSim();
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    m_frontEnd.QueueScriptChoice(WriteScript(GetParam().script));
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect, LoadResString(GetParam().messageId)}));
    EXPECT_EQ(m_frontEnd.Results(), (Results{{IDD_PORT_INIT, IDOK}, {IDD_UPLOAD, IDCANCEL}, {IDD_PORT_SETUP, IDOK}}));
    ExpectCleanEnd();
    ExpectNothingSentAfterTheE(ReportAfterSettling(2));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedUploadTest,
    ::testing::Values(FailedUploadCase{"DataFileMissing", "CE123456\r\nSnothere.bin\r\nCX\r\n",
                                       IDS_LZSS_FILE_NOT_FOUND},
                      FailedUploadCase{"UnknownCommand", "CE123456\r\nCZ\r\nCX\r\n", IDS_UNKNOWN_COMMAND}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectSequenceTest, CancelDuringTheUpload) {
    SimOptions options;
    options.paced = true;  // a real line's pace, so that the upload is still running
    StartSim(options);
    const auto data = TestFileBytes(20000);
    WriteFile("data.bin", data.data(), data.size());
    m_frontEnd.QueueScriptChoice(WriteScript("CE123456\r\nSdata.bin\r\nCX\r\n"));
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    HeadlessFrontEnd* frontEnd = &m_frontEnd;
    m_frontEnd.QueueAction(IDD_UPLOAD, [frontEnd](Dialog& d, int) {
        const auto commands = frontEnd->TextsOf(IDC_COMMAND_TEXT);
        if (!commands.empty() && commands.back().rfind("Command: S", 0) == 0)
            d.OnCancel();
    });
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(), (Texts{kNotice, kEstablished, kSelect}));
    EXPECT_EQ(m_frontEnd.Results(), (Results{{IDD_PORT_INIT, IDOK}, {IDD_UPLOAD, IDCANCEL}, {IDD_PORT_SETUP, IDOK}}));
    EXPECT_TRUE(g_bAbort.IsSet());
    ExpectCleanEnd();
    const SimReport report = ReportAfterSettling(2);
    ExpectNothingSentAfterTheE(report);
    for (const SimFile& file : report.files)
        EXPECT_FALSE(file.complete && file.data == data);
}

TEST_F(ConnectSequenceTest, ErrorFromTheReceiverDuringTheUpload) {
    SimOptions options;
    options.fault = SimFault::Error;
    options.faultAfterUploadFrames = 30;  // well into the data file's chunks
    StartSim(options);
    const auto data = TestFileBytes(20000);
    WriteFile("data.bin", data.data(), data.size());
    m_frontEnd.QueueScriptChoice(WriteScript("CE123456\r\nSdata.bin\r\nCX\r\n"));
    m_frontEnd.QueueAction(IDD_PORT_SETUP, ConnectAction());
    RunApp();

    EXPECT_EQ(m_frontEnd.Messages(),
              (Texts{kNotice, kEstablished, kSelect, LoadResString(IDS_COMMUNICATION_ERROR)}));
    EXPECT_EQ(m_frontEnd.Results(), (Results{{IDD_PORT_INIT, IDOK}, {IDD_UPLOAD, IDOK}, {IDD_PORT_SETUP, IDOK}}));
    ExpectCleanEnd();
    ExpectNothingSentAfterTheE(ReportAfterSettling(2));
}
