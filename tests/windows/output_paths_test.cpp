// Windows' own paths: full paths built by the system (long-path, device and
// network prefixes kept), and the guard over output files by the files'
// identity, whatever spelling names them: existing outputs are written
// again, the script, a data file and the port (COM7, com7, \\.\COM7, COM7:)
// are refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/output_guard.h"
#include "platform/utf8_path.h"

namespace {

namespace fs = std::filesystem;

TEST(FullPaths, KeepTheirPrefixes) {
    const std::pair<std::string, std::string> cases[] = {
        {"\\\\?\\Z:\\jobs\\job.cmd", "\\\\?\\Z:\\jobs\\job.cmd"},
        {"\\\\.\\Z:\\jobs\\job.cmd", "\\\\.\\Z:\\jobs\\job.cmd"},
        {"\\\\server\\share\\jobs\\job.cmd", "\\\\server\\share\\jobs\\job.cmd"},
        {"\\\\server\\share\\jobs\\..\\job.cmd", "\\\\server\\share\\job.cmd"},
        {"Z:\\jobs\\.\\old\\..\\job.cmd", "Z:\\jobs\\job.cmd"},
        {"COM7", "\\\\.\\COM7"},
    };
    for (const auto& [path, full] : cases)
        EXPECT_EQ(AbsoluteUtf8Path(path), full) << path;
    const std::string relative = AbsoluteUtf8Path("job.cmd");
    EXPECT_EQ(relative, Utf8FromPath(fs::current_path() / "job.cmd"));
}

class OutputGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("output_guard_" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(m_folder);
        m_script = Write("job.cmd", "CE000001\r\nScode.lzs\r\nCX\r\n");
        m_data = Write("code.lzs", "0123456789");
        Write("old.log", "an earlier trace\n");
        Write("empty.log", "");
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
        return Path(name);
    }
    std::string Path(const std::string& name) const { return Utf8FromPath(m_folder / name); }

    fs::path m_folder;
    std::string m_script, m_data;
};

TEST_F(OutputGuardTest, RefusesOnlyTheRunsOwnFiles) {
    struct Case {
        std::string output;
        std::string refusal;  // what the refusal names; "" when the output is accepted
    };
    const Case cases[] = {
        {Path("old.log"), ""},
        {Path("empty.log"), ""},
        {Path("new.log"), ""},
        {Path("JOB.CMD"), "names the script"},
        {"\\\\?\\" + Path("job.cmd"), "names the script"},
        {Path("code.lzs"), "names a data file"},
        {Path("CODE.LZS"), "names a data file"},
        {"COM7", "names the serial port"},
        {"com7", "names the serial port"},
        {"\\\\.\\COM7", "names the serial port"},
        {"COM7:", "names the serial port"},
    };
    for (const Case& c : cases) {
        std::vector<NamedFile> inputs{{"the serial port", "\\\\.\\COM7"}};
        const std::vector<NamedFile> script = ScriptFiles(m_script);
        inputs.insert(inputs.end(), script.begin(), script.end());
        const std::string clash = FindOutputClash({{"--trace", {"the trace file", c.output}}}, inputs);
        if (c.refusal.empty())
            EXPECT_EQ(clash, "") << c.output;
        else
            EXPECT_NE(clash.find(c.refusal), std::string::npos) << c.output << ": " << clash;
    }
}

}  // namespace
