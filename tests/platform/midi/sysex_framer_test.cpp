#include "platform/midi/sysex_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

// A message as the framer reported it: its bytes (F0, data, and F7 when it ended with one) and
// how it ended.
enum class Ending { f7, cut, open };
struct Framed {
    Bytes bytes;
    Ending ending = Ending::open;
    bool operator==(const Framed&) const = default;
};

void PrintTo(const Framed& m, std::ostream* os) {
    *os << (m.ending == Ending::f7 ? "whole" : m.ending == Ending::cut ? "cut" : "open") << " [";
    for (uint8_t b : m.bytes) *os << ' ' << std::hex << int{b};
    *os << " ]";
}

// Feeds the stream in pieces cut at `cuts` and collects the messages; fails when a data run holds
// a status byte or comes outside a message, or a piece points at the wrong byte.
std::vector<Framed> frame(const Bytes& stream, const std::vector<size_t>& cuts) {
    std::vector<Framed> messages;
    SysexFramer framer;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t to : ends) {
        framer.feed(stream.data() + from, to - from);
        SysexPiece piece;
        while (framer.next(piece)) {
            switch (piece.kind) {
                case SysexPiece::start:
                    EXPECT_EQ(*piece.bytes, 0xF0);
                    EXPECT_EQ(piece.size, 1u);
                    messages.push_back({{0xF0}, Ending::open});
                    break;
                case SysexPiece::data:
                    EXPECT_FALSE(messages.empty() || messages.back().ending != Ending::open);
                    EXPECT_GT(piece.size, 0u);
                    for (size_t k = 0; k < piece.size; ++k) {
                        EXPECT_LT(piece.bytes[k], 0x80);
                        if (!messages.empty()) messages.back().bytes.push_back(piece.bytes[k]);
                    }
                    break;
                case SysexPiece::end:
                case SysexPiece::cut:
                    // Where the byte that ended the message stands.
                    if (piece.kind == SysexPiece::end)
                        EXPECT_EQ(*piece.bytes, 0xF7);
                    else
                        EXPECT_TRUE(*piece.bytes >= 0x80 && *piece.bytes < 0xF8 &&
                                    *piece.bytes != 0xF7);
                    EXPECT_FALSE(messages.empty() || messages.back().ending != Ending::open);
                    if (messages.empty()) break;
                    if (piece.kind == SysexPiece::end) messages.back().bytes.push_back(0xF7);
                    messages.back().ending =
                        piece.kind == SysexPiece::end ? Ending::f7 : Ending::cut;
                    break;
                case SysexPiece::lost:
                    ADD_FAILURE() << "the framer has nothing lost to say";
                    break;
            }
            EXPECT_EQ(framer.in_message(),
                      !messages.empty() && messages.back().ending == Ending::open);
        }
        from = to;
    }
    return messages;
}

Bytes long_message(size_t data_bytes, size_t status_at, uint8_t status) {
    Bytes m = {0xF0};
    for (size_t k = 0; k < data_bytes; ++k) m.push_back(k == status_at ? status : k % 0x80);
    m.push_back(0xF7);
    return m;
}

TEST(SysexFramer, CutsStreamsIntoMessagesWhereverThePiecesEnd) {
    struct Case {
        const char* what;
        Bytes stream;
        std::vector<Framed> messages;
    };
    const Bytes long_whole = long_message(40, 40, 0);
    const Case cases[] = {
        {"two messages, bytes outside them passed over",
         {0x01, 0xF0, 0x01, 0x02, 0xF7, 0x7F, 0x90, 0x40, 0xF0, 0x03, 0xF7, 0x05},
         {{{0xF0, 0x01, 0x02, 0xF7}, Ending::f7}, {{0xF0, 0x03, 0xF7}, Ending::f7}}},
        {"F0 F7 alone", {0xF0, 0xF7}, {{{0xF0, 0xF7}, Ending::f7}}},
        {"real-time bytes inside a message, first and last too",
         {0xF0, 0xF8, 0x01, 0xFE, 0x02, 0xFF, 0xF7},
         {{{0xF0, 0x01, 0x02, 0xF7}, Ending::f7}}},
        {"real-time bytes outside messages",
         {0xF8, 0xFA, 0xF0, 0x01, 0xF7, 0xFC},
         {{{0xF0, 0x01, 0xF7}, Ending::f7}}},
        {"cut short by a channel status byte, whose data bytes are outside",
         {0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF7},
         {{{0xF0, 0x01, 0x02}, Ending::cut}, {{0xF0, 0x03, 0xF7}, Ending::f7}}},
        {"cut short by system common status bytes",
         {0xF0, 0x01, 0xF6, 0xF0, 0x02, 0xF4, 0x03, 0xF7},
         {{{0xF0, 0x01}, Ending::cut}, {{0xF0, 0x02}, Ending::cut}}},
        {"F7 without an F0 is passed over",
         {0xF7, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF7},
         {{{0xF0, 0x02, 0xF7}, Ending::f7}}},
        {"F0 inside a message cuts it and starts the next",
         {0xF0, 0x01, 0xF0, 0x02, 0xF7},
         {{{0xF0, 0x01}, Ending::cut}, {{0xF0, 0x02, 0xF7}, Ending::f7}}},
        {"F0 right after F0",
         {0xF0, 0xF0, 0xF7},
         {{{0xF0}, Ending::cut}, {{0xF0, 0xF7}, Ending::f7}}},
        {"the stream ends inside a message",
         {0xF0, 0x01, 0x02},
         {{{0xF0, 0x01, 0x02}, Ending::open}}},
        {"nothing but bytes outside messages", {0x90, 0x40, 0x7F, 0x01, 0xF7}, {}},
        {"a run longer than a 16-byte step", long_whole, {{long_whole, Ending::f7}}},
        {"a status byte deep in a long run",
         long_message(40, 37, 0x80),
         {{Bytes(long_whole.begin(), long_whole.begin() + 38), Ending::cut}}},
        {"a real-time byte deep in a long run",
         long_message(40, 17, 0xF8),
         {{[] {
               Bytes m = long_message(40, 17, 0xF8);
               m.erase(m.begin() + 18);
               return m;
           }(),
           Ending::f7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(frame(c.stream, {}), c.messages);
        for (size_t at = 0; at <= c.stream.size(); ++at) {
            SCOPED_TRACE("cut at " + std::to_string(at));
            EXPECT_EQ(frame(c.stream, {at}), c.messages);
        }
        std::vector<size_t> every_byte;
        for (size_t at = 1; at < c.stream.size(); ++at) every_byte.push_back(at);
        EXPECT_EQ(frame(c.stream, every_byte), c.messages) << "byte by byte";
    }
}

// The runs are whole: a caller copies a message's data at once, not byte by byte.
TEST(SysexFramer, ReportsTheDataOfAPieceAsOneRun) {
    for (size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{1000}}) {
        SCOPED_TRACE(size);
        const Bytes message = long_message(size, size, 0);
        SysexFramer framer;
        framer.feed(message.data(), message.size());
        std::vector<SysexPiece::Kind> kinds;
        SysexPiece piece;
        while (framer.next(piece)) {
            kinds.push_back(piece.kind);
            if (piece.kind == SysexPiece::data) {
                EXPECT_EQ(piece.bytes, message.data() + 1);
                EXPECT_EQ(piece.size, size);
            }
        }
        EXPECT_EQ(kinds, (std::vector<SysexPiece::Kind>{SysexPiece::start, SysexPiece::data,
                                                        SysexPiece::end}));
    }
}

TEST(SysexFramer, FindsTheFirstStatusByteAtEveryPosition) {
    for (size_t size : {size_t{0}, size_t{7}, size_t{16}, size_t{50}}) {
        for (size_t at = 0; at <= size; ++at) {
            SCOPED_TRACE(std::to_string(size) + " bytes, status at " + std::to_string(at));
            Bytes bytes(size, 0x7F);
            if (at < size) bytes[at] = 0x80;
            if (at + 1 < size) bytes[at + 1] = 0xF7;  // a later one does not count
            EXPECT_EQ(find_status_byte(bytes.data(), bytes.data() + size), bytes.data() + at);
        }
    }
}

TEST(SysexFramer, ResetForgetsTheOpenMessage) {
    SysexFramer framer;
    const Bytes first = {0xF0, 0x01};
    framer.feed(first.data(), first.size());
    SysexPiece piece;
    while (framer.next(piece)) {
    }
    ASSERT_TRUE(framer.in_message());
    framer.reset();
    EXPECT_FALSE(framer.in_message());
    const Bytes rest = {0x02, 0xF7};
    framer.feed(rest.data(), rest.size());
    EXPECT_FALSE(framer.next(piece));
}

}  // namespace
}  // namespace jx
