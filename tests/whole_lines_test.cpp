// A file of whole lines: a line the file takes only in part (here cut by
// the process's file size limit, as a full disk would) is taken off again,
// so that the file still ends with the line before; a file emptied for a
// new stream gets its next line at its start.
#include "platform/whole_lines.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "support/temp_folder.h"

namespace {

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Lowers the file size limit for the life of the object (a write past it
// is cut short; SIGXFSZ ignored, so that it is an error instead).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_bSet = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool Set() const { return m_bSet; }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_bSet = false;
};

}  // namespace

// Closes the descriptor at the end of the test.
struct Descriptor {
    int m_nFd;
    ~Descriptor() {
        if (m_nFd >= 0)
            close(m_nFd);
    }
};

TEST(WholeLinesTest, ALineCutShortIsTakenOffAndTheFileGoesOn) {
    TempFolder temp("whole_lines.");
    const std::string path = (temp.Path() / "units.csv").string();
    const std::string first = "a,b\r\n1,first\r\n";
    const std::string second = "2,a line that does not fit under the limit\r\n";
    bool created = false, regular = false;
    std::string reason;
    const Descriptor file{OpenWholeLinesFile(path, true, &created, &reason)};
    ASSERT_GE(file.m_nFd, 0) << reason;
    EXPECT_TRUE(created);
    ASSERT_TRUE(AppendWholeLine(file.m_nFd, first, &reason, true)) << reason;
    {
        FileSizeLimit limit(first.size() + 10);
        ASSERT_TRUE(limit.Set());
        EXPECT_FALSE(AppendWholeLine(file.m_nFd, second, &reason, true));
        EXPECT_FALSE(reason.empty());
        // Under the limit the try of a longer line is refused too.
        reason.clear();
        EXPECT_FALSE(TryWholeLines(file.m_nFd, second.size(), &regular, &reason));
        EXPECT_FALSE(reason.empty());
    }
    EXPECT_EQ(Contents(path), first);
    // With room again the next line follows the last whole one.
    ASSERT_TRUE(AppendWholeLine(file.m_nFd, second, &reason, true)) << reason;
    EXPECT_EQ(Contents(path), first + second);
}

// A stream of events started anew in a file that held an earlier one: the
// file tried, emptied, and its first line at its start (no gap before it).
TEST(WholeLinesTest, AnEmptiedFileStartsAtItsStart) {
    TempFolder temp("whole_lines.");
    const std::string path = (temp.Path() / "events.jsonl").string();
    std::ofstream(path) << "{\"event\":\"an earlier run\"}\n";
    bool created = true, regular = false;
    std::string reason;
    const Descriptor file{OpenWholeLinesFile(path, false, &created, &reason)};
    ASSERT_GE(file.m_nFd, 0) << reason;
    EXPECT_FALSE(created);
    ASSERT_TRUE(TryWholeLines(file.m_nFd, 512, &regular, &reason)) << reason;
    EXPECT_TRUE(regular);
    ASSERT_TRUE(CutWholeLinesFile(file.m_nFd, 0, &reason)) << reason;
    ASSERT_TRUE(AppendWholeLine(file.m_nFd, "{}\n", &reason)) << reason;
    EXPECT_EQ(Contents(path), "{}\n");
}
