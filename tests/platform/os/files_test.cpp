#include "platform/os/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

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

std::set<std::string> listing(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// Nothing that is not a regular file is ever opened for reading, so a FIFO without a writer
// cannot block a command; each refusal says why.
TEST(ReadWholeFile, RefusesWhatIsNotARegularFileWithItsReason) {
    test::TempDir dir;
    std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path, reason;
    } cases[] = {
        {fifo, "not a regular file"},
        {dir.path.string(), "is a directory"},
        {"/dev/null", "not a regular file"},
        {dir.file("missing"), "no such file or directory"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_FALSE(read_whole_file(c.path, &reason)) << c.path;
        EXPECT_EQ(reason, c.reason) << c.path;
    }
    if (::geteuid() != 0) {  // root reads anything
        std::string closed = dir.write("closed.syx", {1});
        ::chmod(closed.c_str(), 0);
        std::string reason;
        EXPECT_FALSE(read_whole_file(closed, &reason));
        EXPECT_EQ(reason, "permission denied");
    }
}

// Making a file read-only is how a user keeps it: a write over it is refused, whoever runs it.
TEST(WriteFileAtomically, AReadOnlyFileIsKept) {
    test::TempDir dir;
    std::string path = dir.write("kept.syx", {1, 2, 3});
    ::chmod(path.c_str(), 0444);
    const uint8_t fresh[] = {9};
    std::string reason;
    EXPECT_FALSE(write_file_atomically(path, fresh, sizeof fresh, &reason));
    EXPECT_EQ(reason, "read-only");
    EXPECT_EQ(read_whole_file(path), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(listing(dir.path), std::set<std::string>{"kept.syx"});
}

// Only regular files are replaced: a FIFO, a link to one, or a link that leads nowhere stays as
// it was, and the write is refused. (A device such as /dev/stdout takes the same path; it is not
// used here, since a fault would replace it on the machine running the tests.)
TEST(WriteFileAtomically, WhatIsNotARegularFileIsNeverReplaced) {
    test::TempDir dir;
    std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::string to_fifo = dir.file("to_pipe");
    ASSERT_EQ(::symlink(fifo.c_str(), to_fifo.c_str()), 0);
    std::string nowhere = dir.file("nowhere");
    ASSERT_EQ(::symlink(dir.file("missing/file").c_str(), nowhere.c_str()), 0);
    struct Case {
        std::string path, reason;
    } cases[] = {
        {fifo, "not a regular file"},
        {to_fifo, "not a regular file"},
        {nowhere, "a link to no file: no such file or directory"},
    };
    const uint8_t bytes[] = {1};
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_FALSE(write_file_atomically(c.path, bytes, sizeof bytes, &reason)) << c.path;
        EXPECT_EQ(reason, c.reason) << c.path;
    }
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(to_fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat(nowhere.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(listing(dir.path), (std::set<std::string>{"nowhere", "pipe", "to_pipe"}));
}

// A process killed in the middle of a write leaves the old file and nothing else: no hidden
// temporary file that could pile up or be taken for a document.
TEST(WriteFileAtomically, AProcessKilledMidWriteLeavesNothingBehind) {
    test::TempDir dir;
    std::string path = dir.write("dump.syx", {1, 2, 3});
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicWrite w;
        std::vector<uint8_t> block(1 << 20, 0x55);
        bool ok = begin_atomic_write(path, w) && write_atomic_bytes(w, block.data(), block.size());
        char c = ok ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();  // killed here, before the commit
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(listing(dir.path), std::set<std::string>{"dump.syx"});
    EXPECT_EQ(read_whole_file(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(WriteFileAtomically, AbortedOrFailedWritesLeaveNothingAndCommitsReplace) {
    test::TempDir dir;
    std::string path = dir.write("dump.syx", {1});
    const uint8_t bytes[] = {7, 7};
    AtomicWrite aborted;
    ASSERT_TRUE(begin_atomic_write(path, aborted));
    ASSERT_TRUE(write_atomic_bytes(aborted, bytes, sizeof bytes));
    abort_atomic_write(aborted);
    EXPECT_FALSE(commit_atomic_write(aborted));
    EXPECT_EQ(read_whole_file(path), (std::vector<uint8_t>{1}));

    AtomicWrite fresh;
    std::string added = dir.file("new.syx");
    ASSERT_TRUE(begin_atomic_write(added, fresh));
    ASSERT_TRUE(write_atomic_bytes(fresh, bytes, 1));
    ASSERT_TRUE(write_atomic_bytes(fresh, bytes + 1, 1));
    ASSERT_TRUE(commit_atomic_write(fresh));
    EXPECT_EQ(read_whole_file(added), (std::vector<uint8_t>{7, 7}));
    EXPECT_EQ(listing(dir.path), (std::set<std::string>{"dump.syx", "new.syx"}));

    std::string reason;
    EXPECT_FALSE(write_file_atomically(dir.file("no/such/folder/x.syx"), bytes, 2, &reason));
    EXPECT_EQ(reason, "no such file or directory");
}

}  // namespace
}  // namespace jx
