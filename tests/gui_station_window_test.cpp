// The station's window on a display: the real engine and child processes
// (build/receiver-downloader per port) against simulated receivers on
// pseudo-terminals of this process, unit after unit, and what the tiles show
// at the end. With RD_SCREENSHOT_DIR set (scripts/station-screenshots.sh) it
// saves the window before the start, during a run with a failed port, and
// at the summary.
#include "station/wx/station_frame.h"
#include "station/wx/station_setup_panel.h"
#include "station/wx/station_tile_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>

#include "platform/exit_status.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "support/wx_test_environment.h"

using namespace std::chrono_literals;

namespace {

const auto* const kEnvironment =
    testing::AddGlobalTestEnvironment(new WxTestEnvironment("gui_station_window_test"));

void SaveScreenshot(wxWindow& window, const std::string& name) {
    const char* folder = std::getenv("RD_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        return;
    window.Update();
    wxTheApp->SafeYieldFor(nullptr, wxEVT_CATEGORY_UI);
    const wxRect r = window.GetScreenRect();
    const std::string command = "import -window root -crop " + std::to_string(r.GetWidth()) + "x" +
                                std::to_string(r.GetHeight()) + "+" + std::to_string(r.GetX()) + "+" +
                                std::to_string(r.GetY()) + " '" + folder + "/" + name + ".png'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

class StationWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A wx assertion fails the test instead of waiting in a dialog.
        wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                              const wxString& message) {
            ADD_FAILURE() << file << ":" << line << ": " << cond << " " << message;
        });
        std::ofstream(m_temp.Path() / "load.cmd", std::ios::binary) << "CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n";
        const std::vector<std::uint8_t> data = TestFileBytes(6000);
        std::ofstream(m_temp.Path() / "data.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    void TearDown() override {
        for (auto& sim : m_sims)
            sim->Stop();
    }

    // failing: the receivers whose every unit answers the first upload frame with ERROR.
    void AddReceivers(std::size_t count, unsigned units, std::vector<std::size_t> failing = {}) {
        for (std::size_t i = 0; i < count; ++i) {
            SimOptions options;
            options.nextUnitDelayMs = 1000;
            options.units = units;
            options.paced = true;  // a progress bar on its way, for the pictures
            if (std::find(failing.begin(), failing.end(), i) != failing.end()) {
                options.fault = SimFault::Error;
                options.faultAfterUploadFrames = 3;
            }
            std::string reason;
            m_sims.push_back(ReceiverSim::CreatePty(options, &reason));
            ASSERT_TRUE(m_sims.back()) << reason;
            m_sims.back()->Start();
        }
    }

    StationWindowOptions Options(int units) const {
        StationWindowOptions options;
        for (const auto& sim : m_sims)
            options.m_station.m_ports.push_back(sim->ToolPath());
        options.m_station.m_strScript = (m_temp.Path() / "load.cmd").string();
        options.m_station.m_bRepeat = true;
        options.m_station.m_nUnits = units;
        options.m_station.m_nTimeoutSeconds = 60;
        options.m_station.m_strRecordFile = (m_temp.Path() / "units.csv").string();
        options.m_station.m_strProgram = ProgramPath().string();
        options.m_bRemember = false;
        options.m_strProgramName = "gui_station_window_test";
        return options;
    }

    // Runs the event loop until done() holds (checked on each wake-up and
    // every 100 ms) or the bound passes.
    static bool RunUntil(const std::function<bool()>& done, std::chrono::seconds bound = 120s) {
        const auto until = std::chrono::steady_clock::now() + bound;
        wxEventLoop loop;
        wxTimer check;
        check.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            if (done() || std::chrono::steady_clock::now() > until)
                loop.Exit();
        });
        check.Start(100);
        if (!done())
            loop.Run();
        return done();
    }

    TempFolder m_temp{"station-window."};
    std::vector<std::unique_ptr<ReceiverSim>> m_sims;
};

// Four receivers, two units each: every tile ends done and green with two
// units ok, and the summary and the record say the same.
TEST_F(StationWindowTest, FourPortsTwoUnitsEachEndGreen) {
    AddReceivers(4, 2);
    auto* frame = new StationFrame(Options(2));
    frame->Show();
    ASSERT_TRUE(frame->Start());
    ASSERT_TRUE(RunUntil([&] { return frame->Model()->IsFinished() && !frame->Running(); }));
    const StationModel& model = *frame->Model();
    EXPECT_EQ(model.ExitStatus(), kExitSuccess) << model.SummaryHeading();
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("port " + std::to_string(i));
        const StationTile& shown = frame->TileWindow(i)->Tile();  // what the tile drew
        EXPECT_EQ(shown.PhaseText(), "done");
        EXPECT_EQ(shown.m_nUnitsOk, 2);
        EXPECT_EQ(shown.m_nUnitsFailed, 0);
        EXPECT_EQ(shown.m_colour, TileColour::Ok);
        EXPECT_EQ(StationTileWindow::ResultColour(shown.m_colour), wxColour(46, 125, 50));
        EXPECT_EQ(model.Summary()[i].m_strResult, "ok");
    }
    std::ifstream record(m_temp.Path() / "units.csv");
    std::size_t lines = 0;
    for (std::string line; std::getline(record, line);)
        ++lines;
    EXPECT_EQ(lines, 1u + 8u);
    frame->Destroy();
}

// One receiver fails each unit: its tile turns red with the reason while
// the others go on; stopping its port ends its wait for the next unit, the
// station ends by itself, and the summary shows the port failed. Pictures of the three stages when asked for.
TEST_F(StationWindowTest, FailedPortRedThenStopPortSummary) {
    AddReceivers(4, 2, {2});
    StationWindowOptions options = Options(2);
    auto* frame = new StationFrame(options);
    frame->SetSize(1120, 760);
    frame->Show();
    RunUntil([] { return false; }, 1s);
    SaveScreenshot(*frame, "station-1-before-start");
    ASSERT_TRUE(frame->Start());
    const StationModel& model = *frame->Model();
    ASSERT_TRUE(RunUntil([&] {
        return model.Tile(2).m_colour == TileColour::Failed && model.Tile(0).m_nPercent > 20 &&
               model.Tile(0).m_nPercent < 90;
    }));
    RunUntil([] { return false; }, 1s);  // the next redraw
    SaveScreenshot(*frame, "station-2-running-one-failed");
    EXPECT_NE(frame->TileWindow(2)->Tile().m_strReason.find("Communication error"), std::string::npos)
        << frame->TileWindow(2)->Tile().m_strReason;
    EXPECT_NE(StationTileWindow::HoverText(frame->TileWindow(2)->Tile()).find("FAILED"), std::string::npos);
    // The others finish their units; the failed one waits for a unit that never comes.
    ASSERT_TRUE(RunUntil([&] { return model.Tile(0).m_nUnitsOk + model.Tile(1).m_nUnitsOk + model.Tile(3).m_nUnitsOk == 6; }));
    frame->StopPort(2);
    // At once: well before the run's own 60 s wait for a unit would end it.
    ASSERT_TRUE(RunUntil([&] { return model.IsFinished() && !frame->Running(); }, 30s));
    RunUntil([] { return false; }, 1s);  // laid out again
    SaveScreenshot(*frame, "station-3-summary");
    EXPECT_EQ(model.ExitStatus(), kExitFailure);
    EXPECT_EQ(frame->TileWindow(2)->Tile().PhaseText(), "stopped");
    EXPECT_EQ(frame->TileWindow(0)->Tile().PhaseText(), "done");
    EXPECT_EQ(model.Summary()[2].m_strResult, "FAILED");
    EXPECT_EQ(model.Summary()[0].m_strResult, "ok");
    EXPECT_EQ(frame->TileWindow(2)->Tile().m_colour, TileColour::Failed);
    EXPECT_EQ(frame->TileWindow(2)->Tile().m_nUnitsFailed, 1);
    frame->Destroy();
}

}  // namespace
