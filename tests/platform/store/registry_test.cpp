#include "platform/store/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/os/files.h"
#include "temp_dir.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;
const char* const subkey = "Software\\Tessarin\\Jx\\Config";
const std::string header = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config]\n";

struct Registry : ::testing::Test {
    test::TempDir dir;
    std::string file = dir.file("Tessarin/registry.reg");

    void store(const std::string& text) {
        std::filesystem::create_directories(dir.path / "Tessarin");
        dir.write("Tessarin/registry.reg", Bytes(text.begin(), text.end()));
    }
    std::string stored() const {
        auto bytes = read_whole_file(file);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "(missing)";
    }
    // The value as the registry gives it: type and exact bytes, or nothing.
    std::optional<std::pair<uint32_t, Bytes>> query(const std::string& name) {
        RegistryKey key;
        if (reg_open_key(file, subkey, key) != reg_success) return std::nullopt;
        uint32_t type = 0, size = 0;
        if (reg_query_value(key, name, &type, nullptr, &size) != reg_success) return std::nullopt;
        Bytes data(size);
        EXPECT_EQ(reg_query_value(key, name, &type, data.data(), &size), reg_success);
        return std::pair{type, data};
    }
    void set(const std::string& name, uint32_t type, const Bytes& data) {
        RegistryKey key;
        ASSERT_EQ(reg_create_key(file, subkey, key), reg_success);
        ASSERT_EQ(reg_set_value(key, name, type, data.data(), static_cast<uint32_t>(data.size())),
                  reg_success);
        reg_close_key(key);
    }
};

TEST_F(Registry, EachValueKeepsItsTypeAndExactLengthInARegeditFile) {
    struct Case {
        const char* name;
        uint32_t type;
        Bytes data;
        const char* line;
    };
    Bytes long_data(40);
    for (size_t k = 0; k < long_data.size(); ++k) long_data[k] = static_cast<uint8_t>(k);
    const Case cases[] = {
        {"midi_in", reg_dword, {0xFF, 0xFF, 0xFF, 0xFF}, "\"midi_in\"=dword:ffffffff"},
        {"turbo_lim", reg_dword, {0x0B, 0, 0, 0}, "\"turbo_lim\"=dword:0000000b"},
        {"sds_dev", reg_dword, {0x05}, "\"sds_dev\"=hex(4):05"},
        {"midi_outs", reg_sz, {'0', 'a', 0, 0, 0}, "\"midi_outs\"=hex(1):30,61,00,00,00"},
        {"empty_text", reg_sz, {0, 0, 0, 0, 0}, "\"empty_text\"=hex(1):00,00,00,00,00"},
        {"text", reg_sz, {'C', ':', '\\', '"', 0}, "\"text\"=\"C:\\\\\\\"\""},
        {"no_zero", reg_sz, {'a', 'b'}, "\"no_zero\"=hex(1):61,62"},
        {"blob", reg_binary, {}, "\"blob\"=hex:"},
        {"quote\"d", reg_binary, {1, 0xAB}, "\"quote\\\"d\"=hex:01,ab"},
        {"", 7, {'x', 0, 0}, "@=hex(7):78,00,00"},
        {"long", reg_binary, long_data,
         "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
         "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27"},
    };
    std::string expected = header;
    for (const Case& c : cases) {
        set(c.name, c.type, c.data);
        expected += std::string(c.line) + "\n";
    }
    EXPECT_EQ(stored(), expected);
    for (const Case& c : cases) {
        auto value = query(c.name);
        ASSERT_TRUE(value) << c.name;
        EXPECT_EQ(value->first, c.type) << c.name;
        EXPECT_EQ(value->second, c.data) << c.name;
    }
}

TEST_F(Registry, QueryResultsFollowTheRegistryCalls) {
    RegistryKey key;
    EXPECT_EQ(reg_open_key(file, subkey, key), reg_not_found);  // no file
    store("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"midi_in\"=dword:00000001\n");
    EXPECT_EQ(reg_open_key(file, subkey, key), reg_not_found);  // no key
    EXPECT_FALSE(key.open);

    store(header + "\"Word\"=dword:12345678\n\"outs\"=hex(1):30,61,00,00,00,00\n");
    ASSERT_EQ(reg_open_key(file, subkey, key), reg_success);
    uint8_t buffer[5] = {9, 9, 9, 9, 9};
    uint32_t size = sizeof buffer, type = 0;
    EXPECT_EQ(reg_query_value(key, "missing", &type, buffer, &size), reg_not_found);
    EXPECT_EQ(reg_query_value(key, "word", &type, buffer, &size), reg_success);  // any case
    EXPECT_EQ(type, reg_dword);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
    size = sizeof buffer;
    std::fill(std::begin(buffer), std::end(buffer), 9);
    EXPECT_EQ(reg_query_value(key, "outs", &type, buffer, &size), reg_more_data);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(buffer[0], 9);  // nothing copied
    reg_close_key(key);
    EXPECT_EQ(reg_query_value(key, "word", &type, buffer, &size), reg_not_found);
}

TEST_F(Registry, WritesKeepEverythingElseInTheFile) {
    const std::string before =
        "REGEDIT4\r\n"
        "\r\n"
        "; written by hand\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"keep\"=hex:01,02,\\\r\n"
        "  03\r\n"
        "\r\n"
        "[hkey_current_user\\software\\tessarin\\jx\\config]\r\n"
        "\"MIDI_IN\"=dword:00000002\r\n"
        "this line means nothing\r\n"
        "\"broken\"=dword:xyz\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Later]\r\n"
        "@=\"text\"\r\n";
    store(before);
    set("midi_in", reg_dword, {5, 0, 0, 0});
    set("new", reg_dword, {1, 0, 0, 0});
    std::string after = before;
    after.replace(after.find("\"MIDI_IN\"=dword:00000002"), 24,
                  "\"midi_in\"=dword:00000005\r\n\"new\"=dword:00000001");
    EXPECT_EQ(stored(), after);

    RegistryKey other;
    ASSERT_EQ(reg_open_key(file, "Software\\Other", other), reg_success);
    uint8_t data[8];
    uint32_t size = sizeof data, type = 0;
    ASSERT_EQ(reg_query_value(other, "keep", &type, data, &size), reg_success);
    EXPECT_EQ(Bytes(data, data + size), (Bytes{1, 2, 3}));
}

TEST_F(Registry, NewKeyGoesAtTheEndAndAnEmptyOrHeaderlessFileGetsAHeader) {
    for (const std::string& old :
         {std::string(""), std::string("[HKEY_CURRENT_USER\\X]\n\"a\"=dword:1\n")}) {
        store(old);
        set("v", reg_dword, {1, 0, 0, 0});
        std::string expected = "REGEDIT4\n\n" + old + (old.empty() ? "" : "\n") +
                               header.substr(10) + "\"v\"=dword:00000001\n";
        EXPECT_EQ(stored(), expected);
    }
}

TEST_F(Registry, DamagedFilesGiveWhatCanBeRead) {
    const std::string cases[] = {
        header + "\"a\"=dword:00000007\n\"b\"=hex:01,0",   // cut inside a value: fine
        header + "\"a\"=dword:00000007\n\"b\"=hex:01,\\",  // continuation with nothing after
        header + "\"a\"=dword:00000007\n\"b\"=\"unterminated\\\n",  // a quote never closed
        header + "\"a\"=dword:00000007\n\"b\"=dword:123456789\n",   // nine digits
        std::string("\0\xff[", 3) + "\n" + header + "\"a\"=dword:7\n",
    };
    for (const std::string& text : cases) {
        store(text);
        auto a = query("a");
        ASSERT_TRUE(a) << text;
        EXPECT_EQ(a->second, (Bytes{7, 0, 0, 0}));
        // A write keeps the damaged lines and adds the value once.
        set("c", reg_dword, {3, 0, 0, 0});
        set("c", reg_dword, {4, 0, 0, 0});
        std::string after = stored();
        EXPECT_NE(after.find(text.substr(text.size() - 5)), std::string::npos);
        EXPECT_EQ(after.find("\"c\"="), after.rfind("\"c\"="));
        EXPECT_EQ(query("c")->second, (Bytes{4, 0, 0, 0}));
        EXPECT_EQ(query("a")->second, (Bytes{7, 0, 0, 0}));
    }
}

TEST_F(Registry, AStoreThatCannotBeWrittenOrReadIsNeverReplaced) {
    // The configuration folder's place is taken by a regular file: nothing can be created.
    dir.write("blocked", {1});
    RegistryKey key;
    EXPECT_EQ(reg_create_key(dir.file("blocked/Tessarin/registry.reg"), subkey, key),
              reg_cannot_write);
    EXPECT_FALSE(key.open);
    // Something that is not a readable file stands where the store should be.
    std::filesystem::create_directories(file);
    EXPECT_EQ(reg_create_key(file, subkey, key), reg_cannot_write);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    // Names that would break the file's lines are refused.
    std::filesystem::remove(file);
    ASSERT_EQ(reg_create_key(file, subkey, key), reg_success);
    uint8_t one = 1;
    EXPECT_EQ(reg_set_value(key, "two\nlines", reg_binary, &one, 1), reg_invalid_name);
    EXPECT_EQ(reg_create_key(file, "Bad]Key", key), reg_invalid_name);
}

TEST_F(Registry, ALinkedStoreStaysALink) {
    store(header);
    std::string link = dir.file("link.reg");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    RegistryKey key;
    ASSERT_EQ(reg_create_key(link, subkey, key), reg_success);
    uint8_t one = 1;
    ASSERT_EQ(reg_set_value(key, "v", reg_binary, &one, 1), reg_success);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(stored(), header + "\"v\"=hex:01\n");
}

}  // namespace
}  // namespace jx
