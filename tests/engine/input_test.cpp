// input_test.cpp - what the command line takes from files: files that are not text refused with a
// reason; output written whole or not at all.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/text_file.h"

namespace quorin_test {
namespace {

class TextFiles : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    }
    // One folder per test: ctest runs the cases as parallel processes, and one's TearDown would
    // otherwise remove what another has just written.
    const std::string dir = ::testing::TempDir() + "quorin_text_files_" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(TextFiles, RefuseWhatIsNotATextFileWithItsReason)
{
    const struct { std::string path; const char* reason; const char* fault; } cases[] = {
        {dir, "is a directory", "a directory read as an empty sheet"},
        {dir + "/absent.csv", "no such file", "a missing file"},
        {Write("zero_byte.csv", std::string("1,\0\n", 4)), "binary content", "NUL bytes read as text"},
        {Write("latin1.csv", "caf\xE9\n"), "not UTF-8", "another encoding read as UTF-8"},
        {Write("overlong.csv", "\xC0\xAF"), "not UTF-8", "an overlong form let through"},
        {Write("surrogate.csv", "\xED\xA0\x80"), "not UTF-8", "a surrogate let through"},
        {Write("cut.csv", "a\xE2\x82"), "not UTF-8", "a sequence cut at the end of the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string text, error;
        EXPECT_FALSE(quorin_host::ReadTextFile(c.path, &text, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    std::string text, error;
    const std::string utf8 = "\xEF\xBB\xBF" "\xE2\x82\xAC,\xF0\x9F\x98\x80\r\n";
    EXPECT_TRUE(quorin_host::ReadTextFile(Write("utf8.csv", utf8), &text, &error)) << "well-formed UTF-8 refused: " << error;
    EXPECT_EQ(text, utf8);
}

TEST_F(TextFiles, WriteWholeOrLeaveWhatWasThere)
{
    const std::string path = Write("out.svg", "old");
    std::string error, text;
    ASSERT_TRUE(quorin_host::WriteFileWhole(path, "new", &error)) << "an existing file not replaced: " << error;
    ASSERT_TRUE(quorin_host::ReadTextFile(path, &text, &error));
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(quorin_host::WriteFileWhole(dir + "/no/such/dir/out.svg", "x", &error));
    EXPECT_FALSE(std::filesystem::exists(dir + "/no/such/dir/out.svg.partial")) << "a partial file left behind";
}

// Windows reads narrow names in its ANSI code page, where Σ does not exist: every name must go wide.
TEST_F(TextFiles, NameOutsideAsciiIsTheSameFileEachWay)
{
    const std::string name = "\xCE\xA3 \xE2\x82\xAC.csv";  // "Σ €.csv"
    std::string error, text;
    ASSERT_TRUE(quorin_host::WriteFileWhole(dir + "/" + name, "1", &error)) << error;
    ASSERT_TRUE(quorin_host::WriteFileWhole(dir + "/" + name, "2", &error)) << "not replaced under its own name: " << error;
    ASSERT_TRUE(quorin_host::ReadTextFile(dir + "/" + name, &text, &error)) << error;
    EXPECT_EQ(text, "2");
    std::vector<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(quorin_host::FilePath(dir))) {
        listed.push_back(quorin_host::FileName(entry.path().filename()));
    }
    EXPECT_EQ(listed, std::vector<std::string>{name}) << "written under another name";
}

}  // namespace
}  // namespace quorin_test
