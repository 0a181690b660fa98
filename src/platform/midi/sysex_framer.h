#pragma once
// Cuts a MIDI byte stream into SysEx messages. An F0 starts a message and its F7 ends it;
// real-time bytes (F8 to FF) may come between any two bytes and are passed over; any other status
// byte ends the message cut short (an F0 then starts the next one); bytes outside a message are
// not the framer's business. The stream may come in pieces of any size: whether a message is
// open is kept from one piece to the next.
//
// The framer reports runs of data bytes rather than single bytes, so that a caller can copy a
// run at once; finding the end of a run looks at 16 bytes at a time.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/midi/sysex.h"

namespace jx {

// The first byte from `at` that is a status byte (its top bit set), or `end`.
const uint8_t* find_status_byte(const uint8_t* at, const uint8_t* end);

struct SysexPiece {
    // `bytes` points into the piece fed: at the F0, at the run of data bytes, at the F7, at the
    // byte that cut the message short; `size` is 1 for the F0 and the F7, the run's length (at
    // least one) for data, 0 for a cut.
    enum Kind : uint8_t {
        start,  // an F0: a message begins
        data,   // data bytes of the message
        end,    // the F7 that ends the message
        cut,    // a status byte ended the message short; after an F0, a start follows
        lost,   // never made by the framer: an input's word for `size` bytes that did not reach
                // it (its ring or the server had no room), with no `bytes`
    };
    Kind kind = start;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

class SysexFramer {
  public:
    // The next piece of the stream; what was left of the piece before is dropped.
    void feed(const uint8_t* bytes, size_t count) {
        at_ = bytes;
        end_ = bytes + count;
    }

    // What comes next in the piece fed; false once it is used up.
    bool next(SysexPiece& piece) {
        while (at_ < end_) {
            if (!in_message_) {
                // Mostly the piece begins with its F0.
                const void* f0 = *at_ == sysex_start ? at_
                                                     : std::memchr(at_, sysex_start,
                                                                   static_cast<size_t>(end_ - at_));
                if (!f0) {
                    at_ = end_;
                    return false;
                }
                piece = {SysexPiece::start, static_cast<const uint8_t*>(f0), 1};
                at_ = piece.bytes + 1;
                in_message_ = true;
                return true;
            }
            const uint8_t* status = find_status_byte(at_, end_);
            if (status != at_) {
                piece = {SysexPiece::data, at_, static_cast<size_t>(status - at_)};
                at_ = status;
                return true;
            }
            const uint8_t byte = *at_;
            if (byte >= 0xF8) {
                ++at_;
                continue;
            }
            in_message_ = false;
            if (byte == sysex_end) {
                piece = {SysexPiece::end, at_++, 1};
                return true;
            }
            piece = {SysexPiece::cut, at_, 0};
            if (byte != sysex_start) ++at_;  // an F0 is looked at again and starts a message
            return true;
        }
        return false;
    }

    // Between an F0 and the byte that ends its message.
    bool in_message() const { return in_message_; }
    // Forgets the open message: what follows is outside one until the next F0.
    void reset() { in_message_ = false; }

  private:
    const uint8_t* at_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool in_message_ = false;
};

}  // namespace jx
