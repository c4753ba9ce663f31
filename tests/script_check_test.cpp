// CheckScript: every fault of a script and its data files found in one walk,
// without sending anything, and the data files listed as they would go out.
#include "upload/script_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "support/temp_folder.h"

namespace {

struct Fault {
    UploadFault code;
    std::size_t command;
    std::string name;  // the file's name in the test's folder
    int error = 0;
};

struct CheckCase {
    const char* name;
    std::string script;  // written to load.cmd ("" leaves it missing)
    std::vector<Fault> faults;
    std::vector<std::string> dataFiles;  // names of the files that pass, in order
};

class ScriptCheckTest : public ::testing::TestWithParam<CheckCase> {
protected:
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_dir + name, std::ios::binary) << bytes;
    }
    TempFolder m_temp{"script_check_"};
    std::string m_dir = m_temp.Slash();
};

TEST_P(ScriptCheckTest, FindsEveryFault) {
    const CheckCase& c = GetParam();
    Write("good.bin", "123456789");
    Write("Other.BIN", "abcdef");
    Write("tiny.bin", "12345");
    ASSERT_EQ(::mkfifo((m_dir + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (m_dir + "zero").c_str()), 0);
    ASSERT_EQ(::mkdir((m_dir + "dir").c_str(), 0700), 0);
    if (!c.script.empty())
        Write("load.cmd", c.script);

    const ScriptCheckResult result = CheckScript(m_dir + "load.cmd");
    ASSERT_EQ(result.m_faults.size(), c.faults.size());
    for (std::size_t i = 0; i < c.faults.size(); ++i) {
        SCOPED_TRACE("fault " + std::to_string(i));
        const UploadFaultReport& found = result.m_faults[i];
        EXPECT_EQ(found.m_code, c.faults[i].code);
        EXPECT_EQ(found.m_nCommand, c.faults[i].command);
        EXPECT_EQ(found.m_strPath, m_dir + c.faults[i].name);
        EXPECT_EQ(found.m_nError, c.faults[i].error);
    }
    std::vector<std::string> files;
    for (const ScriptDataFile& file : result.m_dataFiles)
        files.push_back(file.m_strPath.substr(m_dir.size()));
    EXPECT_EQ(files, c.dataFiles);
    EXPECT_EQ(result.Passed(), c.faults.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scripts, ScriptCheckTest, ::testing::Values(
    CheckCase{"Passes", "CE000001\r\nCQ\r\nSgood.bin\r\nCX\r\n", {}, {"good.bin"}},
    CheckCase{"LfOnlyAndCaseResolved", "CE1\nSgood.bin\nSOTHER.bin\nCX\n", {}, {"good.bin", "Other.BIN"}},
    CheckCase{"EveryFaultInOrder",
              "CE1\r\nSmissing.bin\r\nCZ\r\nStiny.bin\r\nSfifo\r\nSzero\r\nSdir\r\nSgood.bin\r\nCX\r\n",
              {{UploadFault::DataFileMissing, 2, "missing.bin"},
               {UploadFault::UnknownCommand, 3, "load.cmd"},
               {UploadFault::DataFileTooShort, 4, "tiny.bin"},
               {UploadFault::DataFileNotRegular, 5, "fifo"},
               {UploadFault::DataFileNotRegular, 6, "zero"},
               {UploadFault::DataFileMissing, 7, "dir"}},
              {"good.bin"}},
    CheckCase{"NoCommand", "hello world\r\n", {{UploadFault::NoCommand, 0, "load.cmd"}}, {}},
    CheckCase{"MissingScript", "", {{UploadFault::ScriptUnopenable, 0, "load.cmd", ENOENT}}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
