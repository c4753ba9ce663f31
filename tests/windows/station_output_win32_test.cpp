// The station's output files on Windows: tried before the station starts
// (what takes no line refused, nothing left changed or made), a record two
// writers share getting one header and both their lines, its paths kept
// readable and exact.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/system_win32.h"
#include "platform/utf8_path.h"
#include "station/station_output.h"
#include "station/unit_record.h"

namespace fs = std::filesystem;

namespace {

class StationOutputWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("rd_whole_lines_" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    std::string Path(const std::string& name) const { return Utf8FromPath(m_folder / PathFromUtf8(name)); }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(PathFromUtf8(path), std::ios::binary) << text;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream file(PathFromUtf8(path), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path m_folder;
};

}  // namespace

TEST_F(StationOutputWin32, TriedBeforeTheStationStarts) {
    const std::string kept = Path("kept.csv"), made = Path("gemacht für heute.csv");
    Write(kept, "a whole line\n");
    const std::pair<std::string, bool> targets[] = {
        {Utf8FromPath(m_folder), false}, {Path("none\\units.csv"), false}, {kept, true}, {made, true}, {"NUL", true}};
    for (const auto& [path, taken] : targets) {
        StationOutput output;
        std::string reason;
        EXPECT_EQ(output.Open(path, true, &reason), taken) << path;
        EXPECT_EQ(reason.empty(), taken) << path << ": " << reason;
        EXPECT_EQ(output.IsRegular(), taken && path != "NUL") << path;
        output.Discard();
    }
    EXPECT_EQ(Contents(kept), "a whole line\n");
    EXPECT_FALSE(fs::exists(PathFromUtf8(made)));
}

TEST_F(StationOutputWin32, ARecordSharedByTwoWritersHasOneHeaderAndEveryLine) {
    const std::string path = Path("units.csv");
    UnitRecord first, second;
    std::string reason;
    ASSERT_TRUE(first.Open(path, &reason)) << reason;
    ASSERT_TRUE(second.Open(path, &reason)) << reason;
    UnitRecordLine line{std::chrono::system_clock::now(), "COM5", "", {}};
    line.m_outcome.m_strResult = "success";
    ASSERT_TRUE(first.Append(line, &reason)) << reason;
    line.m_strPort = "COM6";
    ASSERT_TRUE(second.Append(line, &reason)) << reason;
    line.m_strPort = "COM5";
    const std::string five = UnitRecord::Format(line);
    line.m_strPort = "COM6";
    EXPECT_EQ(Contents(path), UnitRecord::kHeader + five + UnitRecord::Format(line));
}

// Backslashes doubled only where they would read as an escape; the bytes
// that are escaped everywhere escaped here too.
TEST_F(StationOutputWin32, RecordPathsKeepTheirBackslashes) {
    const std::pair<std::string, std::string> fields[] = {
        {"C:\\fw\\load.cmd", "C:\\fw\\load.cmd"},
        {"C:\\x1b\\xyz\\", "C:\\\\x1b\\xyz\\"},
        {"\\\\server\\share", "\\\\\\server\\share"},
        {"C:\\\x01\x7f", "C:\\\\\\x01\\x7f"},
        {"C:\\fw,1", "\"C:\\fw,1\""}};
    for (const auto& [name, recorded] : fields)
        EXPECT_EQ(UnitRecord::Field(name), recorded) << name;
}
