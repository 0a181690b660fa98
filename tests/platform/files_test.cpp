#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "temp_dir.h"

namespace jx {
namespace {

mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(WriteFileAtomically, ReplacingKeepsTheOldFilesPermissions) {
    test::TempDir dir;
    std::string path = dir.write("private.syx", {1, 2, 3});
    ::chmod(path.c_str(), 0600);
    const uint8_t fresh[] = {9, 8};
    ASSERT_TRUE(write_file_atomically(path, fresh, sizeof fresh));
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(read_whole_file(path), (std::vector<uint8_t>{9, 8}));
}

TEST(WriteFileAtomically, ANameAsLongAsTheFolderAllowsCanBeWritten) {
    test::TempDir dir;
    std::string path = dir.file(std::string(250, 'n') + ".syx");  // 254 of the 255 allowed
    const uint8_t bytes[] = {0xF0, 0xF7};
    ASSERT_TRUE(write_file_atomically(path, bytes, sizeof bytes));
    EXPECT_EQ(read_whole_file(path)->size(), 2u);
}

}  // namespace
}  // namespace jx
