// CheckScript: every fault of a script and its data files found in one walk,
// without sending anything, and the data files listed as they would go out.
#include "upload/script_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "support/temp_folder.h"
#include "term/script_precheck.h"

namespace {

struct Fault {
    UploadFault code;
    std::size_t command;
    std::string name;  // the file's name in the test's folder
    int error = 0;
    std::size_t line = 0;
};

struct CheckCase {
    const char* name;
    std::string script;  // written to load.cmd ("" leaves it missing)
    std::vector<Fault> faults;
    std::vector<std::string> dataFiles;  // names of the files that pass, in order
    std::vector<Fault> warnings = {};
    std::uint64_t wireBytes = 0;         // both directions, every command
    std::vector<std::string> printed = {};  // lines --check must print
};

class ScriptCheckTest : public ::testing::TestWithParam<CheckCase> {
protected:
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_dir + name, std::ios::binary) << bytes;
    }
    void ExpectFindings(const std::vector<UploadFaultReport>& found, const std::vector<Fault>& expected) {
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("finding " + std::to_string(i));
            EXPECT_EQ(found[i].m_code, expected[i].code);
            EXPECT_EQ(found[i].m_nCommand, expected[i].command);
            EXPECT_EQ(found[i].m_strPath, m_dir + expected[i].name);
            EXPECT_EQ(found[i].m_nError, expected[i].error);
            EXPECT_EQ(found[i].m_nLine, expected[i].line);
        }
    }
    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }
    TempFolder m_temp{"script_check_"};
    std::string m_dir = m_temp.Slash();
};

TEST_P(ScriptCheckTest, FindsEveryFault) {
    const CheckCase& c = GetParam();
    Write("good.bin", "123456789");
    Write("Other.BIN", "abcdef");
    Write("tiny.bin", "12345");
    Write("seventy.bin", std::string(70, 's'));
    ASSERT_EQ(::mkfifo((m_dir + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (m_dir + "zero").c_str()), 0);
    ASSERT_EQ(::mkdir((m_dir + "dir").c_str(), 0700), 0);
    if (!c.script.empty())
        Write("load.cmd", c.script);

    const ScriptCheckResult result = CheckScript(m_dir + "load.cmd");
    ExpectFindings(result.m_faults, c.faults);
    ExpectFindings(result.m_warnings, c.warnings);
    EXPECT_EQ(result.WireBytes(), c.wireBytes);
    std::vector<std::string> files;
    for (const ScriptDataFile& file : result.m_dataFiles)
        files.push_back(file.m_strPath.substr(m_dir.size()));
    EXPECT_EQ(files, c.dataFiles);
    EXPECT_EQ(result.Passed(), c.faults.empty());

    // --check prints every data file's path and every finding, and fails
    // on any of them.
    std::FILE* out = std::tmpfile();
    const int status = ReportScriptCheck(m_dir + "load.cmd", out);
    EXPECT_EQ(status, c.faults.empty() && c.warnings.empty() ? 0 : 1);
    std::string report(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    report.resize(std::fread(report.data(), 1, report.size(), out));
    std::fclose(out);
    for (const std::string& name : files)
        EXPECT_NE(report.find(m_dir + name), std::string::npos) << report;
    std::size_t atCommands = c.warnings.size();
    for (const Fault& fault : c.faults)
        atCommands += fault.command != 0;
    EXPECT_EQ(Count(report, "\n  command ") + Count(report, "\n  line "), atCommands) << report;
    for (const std::string& line : c.printed)
        EXPECT_NE(report.find("\n  " + line + "\n"), std::string::npos) << report;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, ScriptCheckTest, ::testing::Values(
    // E 26 + Q 20 + good.bin (header 25, one 3-byte chunk 23) + X 20 bytes on the line.
    CheckCase{"Passes", "CE000001\r\nCQ\r\nSgood.bin\r\nCX\r\n", {}, {"good.bin"}, {}, 114},
    // 70 bytes: header 25, one full chunk 84.
    CheckCase{"FullChunkCounted", "Sseventy.bin\r\n", {}, {"seventy.bin"}, {}, 109},
    CheckCase{"LfOnlyAndCaseOnlyMatch", "CE1\nSgood.bin\nSOTHER.bin\nCX\n", {}, {"good.bin", "Other.BIN"},
              {{UploadFault::DataFileCaseDiffers, 3, "Other.BIN"}}, 26 + 48 + 25 + 20},
    CheckCase{"EveryFaultInOrder",
              "CE1\r\nSmissing.bin\r\nCZ\r\nStiny.bin\r\nSfifo\r\nSzero\r\nSdir\r\nS" + std::string(5000, 'n') +
                  "\r\nSgood.bin\r\nCX\r\n",
              {{UploadFault::DataFileMissing, 2, "missing.bin"},
               {UploadFault::UnknownCommand, 3, "load.cmd"},
               {UploadFault::DataFileTooShort, 4, "tiny.bin"},
               {UploadFault::DataFileNotRegular, 5, "fifo"},
               {UploadFault::DataFileNotRegular, 6, "zero"},
               {UploadFault::DataFileIsFolder, 7, "dir"},
               {UploadFault::DataFileNameTooLong, 8, std::string(5000, 'n'), ENAMETOOLONG}},
              {"good.bin"}, {}, 26 + 48 + 20},
    CheckCase{"CommandsAfterRestartAndLongE", "CE1234567\r\nCX\r\nCQ\r\nSgood.bin\r\n", {}, {"good.bin"},
              {{UploadFault::EArgumentCut, 1, "load.cmd"},
               {UploadFault::CommandAfterRestart, 3, "load.cmd"},
               {UploadFault::CommandAfterRestart, 4, "load.cmd"}},
              26 + 20 + 20 + 48},
    CheckCase{"NoCommand", "hello world\r\n", {{UploadFault::NoCommand, 0, "load.cmd"}}, {},
              {{UploadFault::TextNotACommand, 0, "load.cmd", 0, 1}}},
    // Lines the reader skips whole although they hold text; text after a
    // command on its line, blanks and control bytes are not reported.
    CheckCase{"TextThatIsNoCommand", "CE1\r\nX\r\n  q \r\nE12\r\n\r\nhello world\r\n\t \x01\r\nX now\r\nCQ trailing\nCX\n",
              {}, {},
              {{UploadFault::CommandWithoutC, 0, "load.cmd", 0, 2}, {UploadFault::CommandWithoutC, 0, "load.cmd", 0, 3},
               {UploadFault::CommandWithoutC, 0, "load.cmd", 0, 4}, {UploadFault::TextNotACommand, 0, "load.cmd", 0, 6},
               {UploadFault::TextNotACommand, 0, "load.cmd", 0, 8}},
              26 + 20 + 20,
              {"line 2: 'X' is skipped: a command needs C in front (CX)",
               "line 4: 'E12' is skipped: a command needs C in front (CE12)",
               "line 6: 'hello world' is skipped: not a command"}},
    CheckCase{"MissingScript", "", {{UploadFault::ScriptUnopenable, 0, "load.cmd", ENOENT}}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
