// FindFileIgnoringCase: names from scripts written on Windows find their
// files whatever the letter case.
#include "upload/case_insensitive_path.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class CaseInsensitivePathTest : public ::testing::Test {
protected:
    TempFolder m_temp{"case_path_"};

    void SetUp() override {
        m_dir = m_temp.Slash();
        Touch("Code.LZS");
        Touch("Sub Dir/Boot.Bin");
        Touch("exact/Twin.bin");
        Touch("exact/TWIN.BIN");
        Touch("exact/twin.bin");
    }

    void Touch(const std::string& name) {
        fs::create_directories(fs::path(m_dir + name).parent_path());
        std::ofstream(m_dir + name) << name;
    }

    std::string m_dir;
};

struct LookupCase {
    const char* asked;
    const char* found;  // relative to the test directory
};

class CaseInsensitiveLookupTest : public CaseInsensitivePathTest,
                                  public ::testing::WithParamInterface<LookupCase> {};

TEST_P(CaseInsensitiveLookupTest, FindsTheFile) {
    EXPECT_EQ(FindFileIgnoringCase(m_dir + GetParam().asked), m_dir + GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(Names, CaseInsensitiveLookupTest,
                         ::testing::Values(LookupCase{"Code.LZS", "Code.LZS"},       // as written
                                           LookupCase{"CODE.LZS", "Code.LZS"},       // upper case
                                           LookupCase{"code.lzs", "Code.LZS"},       // lower case
                                           LookupCase{"sub dir/BOOT.BIN", "Sub Dir/Boot.Bin"},  // every component
                                           LookupCase{"SUB DIR/", "Sub Dir/"},       // a directory
                                           LookupCase{"exact/twin.bin", "exact/twin.bin"},  // exact match wins
                                           LookupCase{"exact/Twin.Bin", "exact/TWIN.BIN"},  // first in byte order
                                           LookupCase{"missing.bin", "missing.bin"},  // no match: unchanged
                                           LookupCase{"SUB DIR/missing.bin", "SUB DIR/missing.bin"}));

TEST_F(CaseInsensitivePathTest, RelativePathsAreLookedUpFromTheWorkingDirectory) {
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    std::string found = FindFileIgnoringCase("SUB DIR/boot.bin");
    fs::current_path(before);
    EXPECT_EQ(found, "Sub Dir/Boot.Bin");
}

TEST_F(CaseInsensitivePathTest, EmptyPathStaysEmpty) { EXPECT_EQ(FindFileIgnoringCase(""), ""); }

}  // namespace
