// ScriptReader: the script's byte-stream format, its limits, scripts made on
// Windows, unreadable scripts, and a sweep of random bytes.
#include "upload/script_reader.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// One command as the reader handed it out.
struct Command {
    int result;
    std::string text;  // m_strCommand
    bool operator==(const Command&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Command& command) {
    out << "{" << command.result << ", \"";
    for (unsigned char c : command.text) {
        if (c >= 0x20 && c < 0x7F)
            out << c;
        else
            out << "\\x" << std::hex << static_cast<int>(c) << std::dec;
    }
    return out << "\"}";
}

class ScriptReaderTest : public ::testing::Test {
protected:
    TempFolder m_temp{"script_reader_"};

    void SetUp() override { m_dir = m_temp.Path(); }

    std::string WriteScript(const std::string& bytes, const std::string& name = "load.cmd") {
        fs::path path = m_dir / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    // The script's directory as the reader puts it in front of names.
    std::string Dir() const { return m_dir.string() + "/"; }

    // A file command for name in the script's directory.
    Command FileCommand(const std::string& name) const {
        std::string text = "S" + Dir() + name;
        return {static_cast<int>(text.size()), text};
    }

    // Every command of the script, from GetFirstCommand to the first 0.
    static std::vector<Command> ReadAll(ScriptReader& reader, std::size_t limit = 100000) {
        std::vector<Command> commands;
        for (int result = reader.GetFirstCommand(); result != 0 && commands.size() < limit;
             result = reader.GetNextCommand())
            commands.push_back({result, reader.m_strCommand});
        return commands;
    }

    std::vector<Command> ReadScript(const std::string& bytes) {
        ScriptReader reader(WriteScript(bytes));
        std::vector<Command> commands = ReadAll(reader);
        EXPECT_FALSE(reader.HasFailed()) << static_cast<int>(reader.Fault());
        return commands;
    }

    fs::path m_dir;
};

// ---------------------------------------------------------------------------
// The format, case by case. "@" in an expected text stands for the script's
// directory.

struct FormatCase {
    const char* name;
    std::string script;
    std::vector<Command> expected;
};

class ScriptFormatTest : public ScriptReaderTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ScriptFormatTest, YieldsTheCommands) {
    const FormatCase& c = GetParam();
    std::vector<Command> expected = c.expected;
    for (Command& command : expected) {
        std::size_t at = command.text.find('@');
        if (at != std::string::npos) {
            command.text.replace(at, 1, Dir());
            command.result = static_cast<int>(command.text.size());
        }
    }
    EXPECT_EQ(ReadScript(c.script), expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Script, ScriptFormatTest, ::testing::Values(
    FormatCase{"Empty", "", {}},
    FormatCase{"NoStartingLetter", "abde 123 \t\r\n\x80\xff"s + '\0' + "QEX qex\r\n", {}},
    FormatCase{"ESixCharacters", "CE123456\r\n", {{7, "E123456"}}},
    FormatCase{"ELowerCaseShort", "ce12\r", {{3, "E12"}}},
    FormatCase{"EEmpty", "CE\r", {{1, "E"}}},
    FormatCase{"ETenCharacters", "CE0123456789\r\n", {{11, "E0123456789"}}},
    FormatCase{"EArgumentCaseKept", "cEaBc\r", {{4, "EaBc"}}},
    FormatCase{"EArgumentBlanksAndLetters", "CE CS f\r\nCQ", {{6, "E CS f"}, {1, "Q"}}},
    FormatCase{"EArgumentWithNul", "CEa"s + '\0' + "b\r", {{4, "Ea"s + '\0' + "b"}}},
    FormatCase{"QAndX", "Cq cX", {{1, "Q"}, {1, "X"}}},
    FormatCase{"UnknownLetter", "CZ", {{1, "Z"}}},
    FormatCase{"LetterSIsNoFileCommand", "CS\r\n", {{1, "S"}}},
    FormatCase{"NulLetterIsACommand", "C"s + '\0' + "CQ", {{1, "\0"s}, {1, "Q"}}},
    FormatCase{"UnknownLetterIsNotUpperCased", "Cz", {{1, "z"}}},
    FormatCase{"CAtTheVeryEnd", "CQ\r\nC", {{1, "Q"}}},
    FormatCase{"NothingConsumedAfterQ", "CQ Send\r\n", {{1, "Q"}, {0, "S@end"}}},
    FormatCase{"LettersWithoutCSkipped", "Q E X\r\nCX", {{1, "X"}}},
    FormatCase{"FileCommand", "fdata.bin\r\n", {{0, "S@data.bin"}}},
    FormatCase{"EveryFileLetter", "Fa\rfb\rSc\rsd\r", {{0, "S@a"}, {0, "S@b"}, {0, "S@c"}, {0, "S@d"}}},
    FormatCase{"NameCaseKept", "sDaTa.BiN\r", {{0, "S@DaTa.BiN"}}},
    FormatCase{"NameLeadingBlankKept", "S data.bin\r\n", {{0, "S@ data.bin"}}},
    FormatCase{"EmptyName", "S\r\n", {{0, "S@"}}},
    FormatCase{"CrLfLines", "CE12\r\nCQ\r\nSfile\r\nCX\r\n",
               {{3, "E12"}, {1, "Q"}, {0, "S@file"}, {1, "X"}}},
    FormatCase{"LfEndsE", "CEab\nCQ", {{3, "Eab"}, {1, "Q"}}},
    FormatCase{"LfEndsName", "Sa\nCX\r", {{0, "S@a"}, {1, "X"}}},
    FormatCase{"LfOnlyLines", "CE000001\nCQ\nFcode.lzs\nCX\n",
               {{7, "E000001"}, {1, "Q"}, {0, "S@code.lzs"}, {1, "X"}}},
    FormatCase{"CrOnlyLines", "CE1\rSa\rCX\r", {{2, "E1"}, {0, "S@a"}, {1, "X"}}},
    FormatCase{"LfCrAndBlankLinesSkipped", "CE1\n\r\n\nSa\r\n\r\nCX", {{2, "E1"}, {0, "S@a"}, {1, "X"}}},
    FormatCase{"EmptyEBeforeLf", "CE\nCX", {{1, "E"}, {1, "X"}}},
    FormatCase{"EndInsideE", "CEabc", {{4, "Eabc"}}},
    FormatCase{"EndInsideName", "CQ\r\nSdata.bin", {{1, "Q"}, {0, "S@data.bin"}}},
    FormatCase{"BackslashesAreSeparators", "Sdata\\sub\\FILE.BIN\r\n", {{0, "S@data/sub/FILE.BIN"}}},
    FormatCase{"Utf8ByteOrderMarkSkipped", "\xEF\xBB\xBF" "CE1\r\n", {{2, "E1"}}}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ScriptReaderTest, ShortETextIsZeroFilledToSevenBytes) {
    ScriptReader reader(WriteScript("CE12\r\nCE\r\n"));
    ASSERT_EQ(reader.GetFirstCommand(), 3);
    EXPECT_EQ(std::string(reader.m_szCommand, 7), "E12\0\0\0\0"s);
    std::memset(reader.m_szCommand, 'x', sizeof reader.m_szCommand);  // stale bytes
    ASSERT_EQ(reader.GetNextCommand(), 1);
    EXPECT_EQ(std::string(reader.m_szCommand, 7), "E\0\0\0\0\0\0"s);
}

TEST_F(ScriptReaderTest, NextRequestStartsAfterTheCr) {
    // The LF after the CR is skipped by the next request; a command right
    // after the CR is not.
    EXPECT_EQ(ReadScript("CE1\rCX"), (std::vector<Command>{{2, "E1"}, {1, "X"}}));
    EXPECT_EQ(ReadScript("Sa\rCX"), (std::vector<Command>{FileCommand("a"), {1, "X"}}));
}

TEST_F(ScriptReaderTest, GetFirstCommandStartsOverAndTheEndStaysTheEnd) {
    ScriptReader reader(WriteScript("CQ\r\nCX\r\n"));
    ASSERT_EQ(reader.GetFirstCommand(), 1);
    ASSERT_EQ(reader.GetNextCommand(), 1);
    EXPECT_STREQ(reader.m_szCommand, "X");
    EXPECT_EQ(reader.GetNextCommand(), 0);
    EXPECT_EQ(reader.GetNextCommand(), 0);
    EXPECT_EQ(reader.m_szCommand[0], 0);
    ASSERT_EQ(reader.GetFirstCommand(), 1);
    EXPECT_STREQ(reader.m_szCommand, "Q");
}

TEST_F(ScriptReaderTest, SecondFileCommandUsesTheSameDirectory) {
    ScriptReader reader(WriteScript("Fone.bin\r\nCQ\r\nFtwo.bin\r\n", "jobs/load.cmd"));
    std::vector<Command> commands = ReadAll(reader);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].text, "S" + Dir() + "jobs/one.bin");
    EXPECT_EQ(commands[2].text, "S" + Dir() + "jobs/two.bin");
}

TEST_F(ScriptReaderTest, ScriptPathWithoutDirectoryGivesTheNameAlone) {
    WriteScript("Sdata.bin\r\n");
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    ScriptReader reader("load.cmd");
    int result = reader.GetFirstCommand();
    fs::current_path(before);
    EXPECT_EQ(result, 9);
    EXPECT_STREQ(reader.m_szCommand, "Sdata.bin");
}

TEST_F(ScriptReaderTest, WindowsScriptWithBackslashesAndCrLf) {
    ScriptReader reader(WriteScript("CE000001\r\nCQ\r\nF LZSS\\Code.LZS\r\nFlzss\\boot.lzs\r\nCX\r\n"));
    EXPECT_EQ(ReadAll(reader), (std::vector<Command>{{7, "E000001"},
                                                     {1, "Q"},
                                                     FileCommand(" LZSS/Code.LZS"),
                                                     FileCommand("lzss/boot.lzs"),
                                                     {1, "X"}}));
}

// ---------------------------------------------------------------------------
// Limits: nothing overflows, long texts are consumed to their CR.

TEST_F(ScriptReaderTest, LongEArgumentIsKeptAsFarAsTheBufferGoesAndConsumed) {
    for (std::size_t length : {77u, 78u, 79u, 200u, 5000u}) {
        SCOPED_TRACE(length);
        std::string argument;
        for (std::size_t i = 0; i < length; ++i)
            argument.push_back(static_cast<char>('a' + i % 26));
        ScriptReader reader(WriteScript("CE" + argument + "\r\nCQ\r\n"));
        const std::size_t kept = std::min<std::size_t>(length, 78);
        ASSERT_EQ(reader.GetFirstCommand(), static_cast<int>(1 + kept));
        EXPECT_EQ(reader.m_strCommand, "E" + argument.substr(0, kept));
        EXPECT_EQ(std::string(reader.m_szCommand), "E" + argument.substr(0, kept));
        EXPECT_EQ(reader.GetNextCommand(), 1);
        EXPECT_STREQ(reader.m_szCommand, "Q");
    }
}

TEST_F(ScriptReaderTest, LongFileCommandIsWholeInTheStringAndCutInTheBuffer) {
    for (std::size_t length : {39u, 40u, 100u, 3000u}) {
        SCOPED_TRACE(length);
        std::string name(length, 'n');
        ScriptReader reader(WriteScript("S" + name + "\r\nCX"));
        const std::string full = "S" + Dir() + name;
        ASSERT_EQ(reader.GetFirstCommand(), static_cast<int>(full.size()));
        EXPECT_EQ(reader.m_strCommand, full);
        EXPECT_EQ(std::string(reader.m_szCommand), full.substr(0, ScriptReader::kCommandSize - 1));
        EXPECT_EQ(reader.GetNextCommand(), 1);
        EXPECT_STREQ(reader.m_szCommand, "X");
    }
}

TEST_F(ScriptReaderTest, HugeNameIsCutAboveAnyPathLimitAndConsumed) {
    std::string name(ScriptReader::kMaxNameBytes * 3, 'n');
    ScriptReader reader(WriteScript("S" + name + "\r\nCX"));
    ASSERT_GT(reader.GetFirstCommand(), 0);
    EXPECT_EQ(reader.m_strCommand.size(), 1 + Dir().size() + ScriptReader::kMaxNameBytes);
    EXPECT_EQ(reader.GetNextCommand(), 1);
    EXPECT_STREQ(reader.m_szCommand, "X");
}

TEST_F(ScriptReaderTest, ScriptInADeepDirectoryKeepsTheWholePath) {
    std::string deep;
    for (int i = 0; i < 12; ++i)
        deep += "a_rather_long_directory_name_" + std::to_string(i) + "/";
    ScriptReader reader(WriteScript("Sdata.bin\r\n", deep + "load.cmd"));
    ASSERT_GT(reader.GetFirstCommand(), 0);
    EXPECT_EQ(reader.m_strCommand, "S" + Dir() + deep + "data.bin");
    EXPECT_GT(reader.m_strCommand.size(), 300u);
}

// ---------------------------------------------------------------------------
// Scripts that cannot be read.

// Each yields no command at once (a FIFO without a writer must not hold the
// reader in open()) and says why; "@" stands for the test's folder.
struct UnreadableCase {
    const char* name;
    std::string path;
    UploadFault fault;
    int error;
};

class UnreadableScriptTest : public ScriptReaderTest, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableScriptTest, YieldsNoCommandAndSaysWhy) {
    const UnreadableCase& c = GetParam();
    ASSERT_EQ(::mkfifo((m_dir / "fifo.cmd").c_str(), 0600), 0);
    std::string path = c.path;
    if (path[0] == '@')
        path.replace(0, 1, m_dir.string());
    ScriptReader reader(path);
    EXPECT_EQ(reader.GetFirstCommand(), 0);
    EXPECT_EQ(reader.GetNextCommand(), 0);
    EXPECT_TRUE(reader.HasFailed());
    EXPECT_EQ(reader.Fault(), c.fault);
    EXPECT_EQ(reader.Error(), c.error);
    EXPECT_EQ(reader.Path(), path);
}

INSTANTIATE_TEST_SUITE_P(Scripts, UnreadableScriptTest, ::testing::Values(
    UnreadableCase{"Missing", "@/nowhere.cmd", UploadFault::ScriptUnopenable, ENOENT},
    UnreadableCase{"Directory", "@", UploadFault::ScriptNotRegular, 0},
    UnreadableCase{"Fifo", "@/fifo.cmd", UploadFault::ScriptNotRegular, 0},
    UnreadableCase{"DevZero", "/dev/zero", UploadFault::ScriptNotRegular, 0},
    // Opens, but every read fails with an I/O error.
    UnreadableCase{"ReadError", "/proc/self/mem", UploadFault::ScriptUnreadable, EIO}),
    [](const ::testing::TestParamInfo<UnreadableCase>& info) { return std::string(info.param.name); });

TEST_F(ScriptReaderTest, UnreadableScriptSaysWhy) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const std::string path = WriteScript("CQ\r\n");
    fs::permissions(path, fs::perms::none);
    ScriptReader reader(path);
    EXPECT_EQ(reader.GetFirstCommand(), 0);
    EXPECT_EQ(reader.Fault(), UploadFault::ScriptUnopenable);
    EXPECT_EQ(reader.Error(), EACCES);
}

TEST_F(ScriptReaderTest, ReadableScriptReportsNoFailure) {
    ScriptReader reader(WriteScript("CQ"));
    ReadAll(reader);
    EXPECT_FALSE(reader.HasFailed());
    EXPECT_EQ(reader.Fault(), UploadFault::None);
}

// ---------------------------------------------------------------------------
// Random bytes: the reader must end, never overflow, and keep its contract.

TEST_F(ScriptReaderTest, RandomScriptsKeepTheContract) {
    // Bytes that mean something to the reader come often; the rest at random.
    const std::string meaningful = "CcEeQqXxFfSs\r\n\\ \0"s;
    const std::string path = (m_dir / "fuzz.cmd").string();
    std::size_t commandsSeen = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        std::mt19937 random(seed);
        const std::size_t size = random() % 400;
        std::string script;
        for (std::size_t i = 0; i < size; ++i)
            script.push_back(random() % 2 ? meaningful[random() % meaningful.size()]
                                          : static_cast<char>(random() % 256));
        if (seed % 100 == 0)  // now and then a long argument or name
            script.insert(script.size() / 2, random() % 2 ? "CE" : "S").append(std::string(300, 'z'));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << script;

        ScriptReader reader(path);
        std::size_t count = 0;
        for (int result = reader.GetFirstCommand(); result != 0; result = reader.GetNextCommand()) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            ASSERT_LE(++count, script.size()) << "more commands than bytes";
            ASSERT_GT(result, 0);
            ASSERT_EQ(static_cast<std::size_t>(result), reader.m_strCommand.size());
            const void* nul = std::memchr(reader.m_szCommand, 0, sizeof reader.m_szCommand);
            ASSERT_NE(nul, nullptr) << "m_szCommand not terminated";
            const std::size_t kept = std::min(reader.m_strCommand.size(), ScriptReader::kCommandSize - 1);
            ASSERT_EQ(std::memcmp(reader.m_szCommand, reader.m_strCommand.data(), kept), 0);
            const char letter = reader.m_strCommand[0];
            ASSERT_TRUE(letter != 'e' && letter != 'q' && letter != 'x') << "letter not upper-cased";
            if (letter == 'E') {
                ASSERT_LE(reader.m_strCommand.size(), ScriptReader::kCommandSize - 1);
                ASSERT_EQ(reader.m_strCommand.find_first_of("\r\n"), std::string::npos) << "line end in E";
                for (std::size_t i = reader.m_strCommand.size(); i < 7; ++i)
                    ASSERT_EQ(reader.m_szCommand[i], 0) << "E text not zero-filled";
            } else if (letter == 'S' && reader.m_strCommand.size() > 1) {
                ASSERT_EQ(reader.m_strCommand.compare(0, 1 + Dir().size(), "S" + Dir()), 0);
                ASSERT_EQ(reader.m_strCommand.find('\\'), std::string::npos);
                ASSERT_EQ(reader.m_strCommand.find('\r'), std::string::npos);
                ASSERT_EQ(reader.m_strCommand.find('\n'), std::string::npos);
            } else {
                ASSERT_EQ(reader.m_strCommand.size(), 1u);
            }
        }
        ASSERT_FALSE(reader.HasFailed());
        ASSERT_EQ(reader.GetNextCommand(), 0);
        commandsSeen += count;
    }
    EXPECT_GT(commandsSeen, 3000u);  // the sweep did exercise the commands
}

}  // namespace
