#include "platform/os/paths.h"

#include <gtest/gtest.h>

#include "platform/os/text.h"

namespace jx {
namespace {

TEST(Paths, OperationsOverSlashes) {
    EXPECT_EQ(path_append("/a/b", "c.syx"), "/a/b/c.syx");
    EXPECT_EQ(path_append("/a/b/", "c.syx"), "/a/b/c.syx");
    EXPECT_EQ(path_append("/a", "/abs"), "/abs");
    EXPECT_EQ(path_append("", "c"), "c");
    EXPECT_EQ(path_remove_file_spec("/a/b/c.syx"), "/a/b");
    EXPECT_EQ(path_remove_file_spec("/c.syx"), "/");
    EXPECT_EQ(path_remove_file_spec("c.syx"), "");
    EXPECT_EQ(path_find_extension("/a.b/c"), "");
    EXPECT_EQ(path_find_extension("/a/c.tar.jx"), ".jx");
    EXPECT_EQ(path_find_extension("/a/.jx"), ".jx");
    EXPECT_EQ(path_find_file_name("/a/b/c.syx"), "c.syx");
    EXPECT_EQ(path_find_file_name("c.syx"), "c.syx");
    EXPECT_EQ(path_remove_extension("/a.b/c.wav"), "/a.b/c");
    EXPECT_EQ(path_remove_extension("/a.b/c"), "/a.b/c");
    EXPECT_EQ(path_add_extension("/a/c", ".syx"), "/a/c.syx");
    EXPECT_EQ(path_add_extension("/a/c.wav", ".syx"), "/a/c.wav");
}

TEST(Text, Windows1252RoundTripAndFallbacks) {
    EXPECT_EQ(utf8_to_cp1252("\xC3\x85\xC3\xA4\xC3\x96 \xE2\x82\xAC"), "\xC5\xE4\xD6 \x80");
    EXPECT_EQ(cp1252_to_utf8("\xC5\xE4\xD6 \x80"), "\xC3\x85\xC3\xA4\xC3\x96 \xE2\x82\xAC");
    EXPECT_EQ(utf8_to_cp1252("a\xE4\xB8\xADz"), "a?z");  // no such character
    EXPECT_EQ(utf8_to_cp1252("a\xC3"), "a?");            // cut sequence
    EXPECT_EQ(utf8_to_cp1252("\xFF"
                             "b",
                             '_'),
              "_b");                                    // not UTF-8 at all
    EXPECT_EQ(cp1252_to_utf8("\x81"), "\xEF\xBF\xBD");  // unassigned byte
    for (int b = 0xA0; b <= 0xFF; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(utf8_to_cp1252(cp1252_to_utf8(one)), one) << b;
    }
}

}  // namespace
}  // namespace jx
