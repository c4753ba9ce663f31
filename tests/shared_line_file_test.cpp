// A file of whole lines shared by many writers: a line the file takes only
// in part (here cut by the process's file size limit, as a full disk would)
// is taken off again, so that the file still ends with the line before.
#include "platform/shared_line_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

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

TEST(SharedLineFileTest, ALineCutShortIsTakenOffAndTheFileGoesOn) {
    TempFolder temp("shared_line_file.");
    const std::string path = (temp.Path() / "units.csv").string();
    const std::string header = "a,b\r\n";
    const std::string first = "1,first\r\n";
    const std::string second = "2,a line that does not fit under the limit\r\n";
    SharedLineFile file;
    std::string reason;
    ASSERT_TRUE(file.Open(path, header, &reason)) << reason;
    ASSERT_TRUE(file.Append(first, &reason)) << reason;
    {
        FileSizeLimit limit(header.size() + first.size() + 10);
        ASSERT_TRUE(limit.Set());
        EXPECT_FALSE(file.Append(second, &reason));
        EXPECT_FALSE(reason.empty());
    }
    EXPECT_EQ(Contents(path), header + first);
    // With room again the next line follows the last whole one.
    ASSERT_TRUE(file.Append(second, &reason)) << reason;
    EXPECT_EQ(Contents(path), header + first + second);
    // A second writer of the same file writes no second header.
    SharedLineFile other;
    ASSERT_TRUE(other.Open(path, header, &reason)) << reason;
    ASSERT_TRUE(other.Append(first, &reason)) << reason;
    EXPECT_EQ(Contents(path), header + first + second + first);
}
