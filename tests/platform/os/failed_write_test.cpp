// Every writer replaces its file only once the new one is complete: a write that fails half way
// leaves the old file as it was and no temporary file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>

#include "app/config.h"
#include "platform/os/files.h"
#include "transfer/file_list.h"
#include "transfer/save_entries.h"
#include "xdg_folders.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

// Files may not grow beyond `bytes` while it lives: a longer write fails part way, as on a full
// disk, whoever the user is.
struct FileSizeLimit {
    rlimit old{};
    void (*old_handler)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old);
        old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, old_handler);
    }
};

struct FailedWrite : ::testing::Test {
    test::XdgFolders xdg;
    TransferList list;

    struct Writer {
        const char* what;
        std::string path;
        std::function<bool()> write;
    };
    std::vector<Writer> writers;

    void SetUp() override {
        // A list whose document is far longer than the limit below.
        for (int k = 0; k < 400; ++k) {
            auto entry = std::make_unique<Entry>();
            entry->data.assign(200, static_cast<uint8_t>(k));
            insert_entry(list, xdg.dir.file("entry-" + std::string(150, 'n') + std::to_string(k)),
                         std::move(entry), -1);
        }
        Entry big;
        big.data.assign(64 * 1024, 0x5A);
        std::filesystem::create_directories(xdg.dir.path / "config/Tessarin");
        std::filesystem::create_directories(xdg.dir.path / "data/Tessarin");
        Settings settings;
        settings.midi_in = 3;
        writers = {
            {"document", xdg.dir.file("list.jx"),
             [this] { return save_file_list(list, xdg.dir.file("list.jx"), "").written; }},
            {"jx_files.dat", xdg.stored_list(), [this] { return store_list(list).written; }},
            {"saved entry", xdg.dir.file("saved.syx"),
             [this, big] { return write_entry_file(xdg.dir.file("saved.syx"), big); }},
            {"registry", xdg.registry_file(), [settings] { return save_prefs(settings); }},
        };
    }

    // The old file: small, except the registry, which carries a large value of another key so
    // that rewriting it must exceed the limit.
    Bytes old_contents(const Writer& w) {
        std::string text = "old contents of " + std::string(w.what) + "\n";
        if (std::string(w.what) == "registry") {
            text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"big\"=hex:";
            for (int k = 0; k < 20000; ++k) text += "00,";
            text += "00\n";
        }
        return Bytes(text.begin(), text.end());
    }

    std::vector<std::string> folder_listing(const std::string& path) {
        std::vector<std::string> names;
        for (const auto& e :
             std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FailedWrite, AWriteCutShortLeavesTheOldFile) {
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.what);
        Bytes old = old_contents(w);
        ASSERT_TRUE(write_file_atomically(w.path, old.data(), old.size()));
        std::vector<std::string> before = folder_listing(w.path);
        {
            FileSizeLimit limit(16 * 1024);
            EXPECT_FALSE(w.write());
        }
        EXPECT_EQ(read_whole_file(w.path), old);
        EXPECT_EQ(folder_listing(w.path), before);
        EXPECT_TRUE(w.write());  // and without the limit it works
        EXPECT_NE(read_whole_file(w.path), old);
    }
}

TEST_F(FailedWrite, AReadOnlyFolderLeavesTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: a read-only folder does not stop writes";
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.what);
        Bytes old = old_contents(w);
        ASSERT_TRUE(write_file_atomically(w.path, old.data(), old.size()));
        std::string folder = std::filesystem::path(w.path).parent_path().string();
        ::chmod(folder.c_str(), 0555);
        EXPECT_FALSE(w.write());
        ::chmod(folder.c_str(), 0755);
        EXPECT_EQ(read_whole_file(w.path), old);
    }
}

}  // namespace
}  // namespace jx
