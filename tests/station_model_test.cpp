// The station window's model, fed with event streams as the station's
// children write them and the engine's unit ends, without a display: each
// tile's phase, progress, counts, colour and reason at the end of a stream.
#include "station/station_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One step of a stream for port m_nPort: an event line as a child wrote it,
// or what the engine says: "run" (a run starts), "ok MESSAGE" / "failed
// MESSAGE" (a counted unit ends; "...+" when the port goes on), "nounit
// MESSAGE" (an uncounted one; "nounit+" when the port goes on), "stop"
// (the operator), "stopall" (the operator, every port).
struct Step {
    std::size_t m_nPort;
    std::string m_strLine;
};

struct TileEnd {
    const char* phase;
    int percent;
    int ok, failed;
    TileColour colour;
    const char* reason;  // a part of it
    const char* timeLeft = "";
};

struct Case {
    const char* name;
    std::size_t ports;
    std::vector<Step> steps;
    std::vector<TileEnd> tiles;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string Started(const std::string& files) {
    return R"({"event":"started","t":0.001,"port":"P","script":"/w/load.cmd","files":[)" + files + R"(],"pid":42})";
}
const std::string kOneFile = Started(R"({"path":"/w/a.bin","size":3000,"sha256":"ab"})");
const std::string kTwoFiles =
    Started(R"({"path":"/w/a.bin","size":1000,"sha256":"ab"},{"path":"/w/b.bin","size":3000,"sha256":"cd"})");
const std::string kNoSizes = Started("");
const std::string kWaiting = R"({"event":"waiting","t":0.01,"port":"P"})";
const std::string kConnected = R"({"event":"connected","t":1.2,"port":"P"})";
const std::string kSendA = R"({"event":"command","t":1.3,"port":"P","text":"Command: S/w/a.bin","command":"S/w/a.bin"})";
const std::string kSendB = R"({"event":"command","t":2.3,"port":"P","text":"Command: S/w/b.bin","command":"S/w/b.bin"})";
const std::string kHalfA = R"({"event":"progress","t":1.5,"port":"P","file":"/w/a.bin","bytes":1500,"total":3000,)"
                           R"("percent":50,"rate":3000,"seconds_left":0.5})";
const std::string kSentA1000 = R"({"event":"file_sent","t":2,"port":"P","file":"/w/a.bin","bytes":1000,"sha256":"ab"})";
const std::string kSentA3000 = R"({"event":"file_sent","t":2,"port":"P","file":"/w/a.bin","bytes":3000,"sha256":"ab"})";
const std::string kHalfB = R"({"event":"progress","t":3,"port":"P","file":"/w/b.bin","bytes":1500,"total":3000,)"
                           R"("percent":50,"rate":1000,"seconds_left":1.5})";
const std::string kSuccess = R"({"event":"end","t":2.1,"port":"P","result":"success","message":"Download )"
                             R"(completed successfully.","exit_status":0,"seconds":2.1,"bytes":3000})";
const std::string kError = R"({"event":"end","t":2.1,"port":"P","result":"error","message":"Communication )"
                           R"(error.\nProgram will exit.","exit_status":1,"seconds":1.9,"bytes":1000})";
const char kOk[] = "ok Download completed successfully.";
const char kOkGoesOn[] = "ok+ Download completed successfully.";
const char kComm[] = "failed Communication error.\nProgram will exit.";

class StationModelTest : public ::testing::TestWithParam<Case> {};

TEST_P(StationModelTest, TilesFollowTheStreams) {
    const Case& c = GetParam();
    std::vector<StationPortName> names;
    for (std::size_t i = 0; i < c.ports; ++i)
        names.push_back({"/dev/ttyUSB" + std::to_string(i), i == 0 ? "FTDI FT232R USB UART" : "", ""});
    StationModel model(names);
    for (const Step& step : c.steps) {
        const std::string& line = step.m_strLine;
        const std::string word = line.substr(0, line.find(' '));
        const std::string message = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
        if (line == "run")
            model.RunStarted(step.m_nPort);
        else if (line == "stop")
            model.StopRequested(step.m_nPort);
        else if (line == "stopall")
            model.StopAllRequested();
        else if (word == "ok" || word == "ok+" || word == "failed" || word == "failed+")
            model.UnitEnded(step.m_nPort, word[0] == 'o', message, true, word.back() == '+');
        else if (word == "nounit" || word == "nounit+")
            model.UnitEnded(step.m_nPort, false, message, false, word.back() == '+');
        else if (const auto event = ParseStationEvent(line))
            model.TakeEvent(step.m_nPort, *event);
        else
            FAIL() << "not a step: " << line;
    }
    ASSERT_EQ(model.Size(), c.tiles.size());
    const std::vector<std::size_t> changed = model.TakeChangedTiles();
    for (std::size_t i = 0; i < c.tiles.size(); ++i) {
        SCOPED_TRACE("port " + std::to_string(i));
        const StationTile& tile = model.Tile(i);
        const TileEnd& want = c.tiles[i];
        EXPECT_EQ(tile.PhaseText(), want.phase);
        EXPECT_EQ(tile.m_nPercent, want.percent);
        EXPECT_EQ(tile.m_nUnitsOk, want.ok);
        EXPECT_EQ(tile.m_nUnitsFailed, want.failed);
        EXPECT_EQ(tile.m_colour, want.colour);
        EXPECT_NE(tile.m_strReason.find(want.reason), std::string::npos) << tile.m_strReason;
        EXPECT_EQ(tile.m_strReason.find('\n'), std::string::npos) << "one line";
        EXPECT_EQ(tile.TimeLeftText(), want.timeLeft);
        // A tile is redrawn when and only when its stream changed it.
        const bool touched = std::any_of(c.steps.begin(), c.steps.end(), [i](const Step& s) { return s.m_nPort == i; });
        EXPECT_EQ(std::count(changed.begin(), changed.end(), i), touched ? 1 : 0);
    }
    EXPECT_TRUE(model.TakeChangedTiles().empty());
    EXPECT_EQ(model.Tile(0).m_strName, "FTDI FT232R USB UART");
}

const auto kNeutral = TileColour::Neutral, kGreen = TileColour::Ok, kRed = TileColour::Failed;

INSTANTIATE_TEST_SUITE_P(
    Streams, StationModelTest,
    ::testing::Values(
        Case{"TwoUnitsOnePortThenDone",
             1,
             {{0, "run"}, {0, kOneFile}, {0, kWaiting}, {0, kConnected}, {0, kSendA}, {0, kHalfA}, {0, kSentA3000},
              {0, kSuccess}, {0, kOkGoesOn}, {0, "run"}, {0, kOneFile}, {0, kWaiting}, {0, kConnected}, {0, kSendA},
              {0, kSentA3000}, {0, kSuccess}, {0, kOk}},
             {{"done", -1, 2, 0, kGreen, "completed"}}},
        Case{"SecondFileHalfwayCountsTheUnitsBytes",
             1,
             {{0, "run"}, {0, kTwoFiles}, {0, kWaiting}, {0, kConnected}, {0, kSendA}, {0, kSentA1000}, {0, kSendB},
              {0, kHalfB}},
             {{"loading file 2 of 2", 62, 0, 0, kNeutral, "", "0:02 left"}}},
        Case{"SizesNotAnnouncedShowsTheFilesOwnFigures",
             1,
             {{0, "run"}, {0, kNoSizes}, {0, kConnected}, {0, kSendA}, {0, kHalfA}},
             {{"loading file 1 of 1", 50, 0, 0, kNeutral, "", "0:01 left"}}},
        Case{"FailureStaysRedWhileTheNextUnitWaits",
             1,
             {{0, "run"}, {0, kOneFile}, {0, kConnected}, {0, kError}, {0, std::string(kComm) + "+"}, {0, "run"},
              {0, kOneFile}, {0, kWaiting}},
             {{"waiting for power-on", -1, 0, 1, kRed, "Communication error. Program will exit."}}},
        Case{"FourPortsMixed",
             4,
             {{0, "run"}, {1, "run"}, {2, "run"}, {0, kOneFile}, {1, kOneFile}, {2, kOneFile}, {0, kWaiting},
              {1, kWaiting}, {2, kWaiting}, {0, kConnected}, {1, kConnected}, {0, kSendA}, {1, kSendA},
              {1, kError}, {1, kComm}, {0, kHalfA}, {2, "nounit+ No connection within 5 seconds"}, {2, "run"},
              {2, kOneFile}, {2, kWaiting}},
             {{"loading file 1 of 1", 50, 0, 0, kNeutral, "", "0:01 left"},
              {"done", -1, 0, 1, kRed, "Communication error"},
              {"waiting for power-on", -1, 0, 0, kNeutral, ""},
              {"not started", -1, 0, 0, kNeutral, ""}}},
        Case{"StoppedWhileWaiting",
             2,
             {{0, "run"}, {0, kOneFile}, {0, kWaiting}, {0, "stop"}, {0, kWaiting},
              {0, "nounit Connection Cancelled"}, {1, "run"}, {1, "stop"}, {1, kOneFile}},
             {{"stopped", -1, 0, 0, kNeutral, ""}, {"stopping", -1, 0, 0, kNeutral, ""}}},
        Case{"StopAllLeavesAFinishedPortDone",
             2,
             {{0, "run"}, {0, kOneFile}, {0, kConnected}, {0, kSuccess}, {0, kOk}, {1, "run"}, {1, kOneFile},
              {1, kWaiting}, {1, "stopall"}},
             {{"done", -1, 1, 0, kGreen, "completed"}, {"stopping", -1, 0, 0, kNeutral, ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The grid: as large tiles as fit, scrolling down only when they would come
// out smaller than their least size.
TEST(StationModelGrid, ColumnsFitTheArea) {
    struct Fit {
        std::size_t tiles;
        int width, height, columns;
    };
    for (const Fit& fit : {Fit{0, 800, 600, 1}, Fit{1, 800, 600, 1}, Fit{4, 1000, 500, 2}, Fit{3, 1200, 200, 3},
                           Fit{16, 1200, 600, 4}, Fit{64, 1900, 900, 8}, Fit{64, 1240, 560, 8}, Fit{64, 600, 300, 4},
                           Fit{5, 100, 100, 1}})
        EXPECT_EQ(StationModel::GridColumns(fit.tiles, fit.width, fit.height, 150, 84), fit.columns)
            << fit.tiles << " tiles in " << fit.width << "x" << fit.height;
}

}  // namespace
