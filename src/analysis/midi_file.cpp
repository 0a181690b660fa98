#include "analysis/midi_file.h"

#include <cstring>

namespace jx {

namespace {

constexpr uint8_t sysex_start = 0xF0;
constexpr uint8_t sysex_escape = 0xF7;
constexpr uint8_t meta_event = 0xFF;
constexpr uint8_t end_of_track = 0x2F;

uint32_t big_endian(const uint8_t* p, int count) {
    uint32_t value = 0;
    for (int k = 0; k < count; ++k) value = value << 8 | p[k];
    return value;
}

bool fail(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = midi_file_reason_start + std::move(text);
    return false;
}

// Reads the events of one track chunk's body, appending its SysEx bytes.
class TrackReader {
  public:
    TrackReader(const uint8_t* data, size_t length, int number, std::vector<uint8_t>& sysex)
        : data_(data), length_(length), number_(number), sysex_(sysex) {}

    bool read(std::string* reason) {
        while (at_ < length_) {
            uint32_t delta = 0;
            if (!quantity(delta, reason)) return false;
            if (at_ >= length_) return problem(reason, "ends after a delta-time");
            uint8_t status = data_[at_];
            if (status < 0x80) {
                // Running status: the data bytes follow without the status of the message.
                if (running_status_ == 0)
                    return problem(reason, "has a data byte without a status");
                status = running_status_;
            } else {
                ++at_;
            }
            bool ok = true;
            if (status == sysex_start || status == sysex_escape) {
                running_status_ = 0;
                ok = sysex_event(status, reason);
            } else if (status == meta_event) {
                running_status_ = 0;
                uint8_t type = 0;
                ok = meta(type, reason);
                if (ok && type == end_of_track) return true;  // what follows it is not events
            } else if (status < 0xF0) {
                running_status_ = status;
                ok = channel_message(status, reason);
            } else {
                return problem(reason,
                               "has the status byte " + hex(status) + ", which no event has");
            }
            if (!ok) return false;
        }
        return true;
    }

  private:
    static std::string hex(uint8_t byte) {
        const char* digits = "0123456789ABCDEF";
        return {digits[byte >> 4], digits[byte & 15]};
    }

    bool problem(std::string* reason, const std::string& text) const {
        return fail(reason, "track " + std::to_string(number_) + " " + text);
    }

    // A variable-length quantity: at most four bytes of seven bits each.
    bool quantity(uint32_t& value, std::string* reason) {
        value = 0;
        for (int count = 0; count < 4; ++count) {
            if (at_ >= length_) return problem(reason, "is cut short inside a number");
            const uint8_t byte = data_[at_++];
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0) return true;
        }
        return problem(reason, "has a number longer than four bytes");
    }

    // The length of an event's data and the data itself, which must lie inside the track.
    bool counted_data(const uint8_t*& bytes, uint32_t& count, std::string* reason) {
        if (!quantity(count, reason)) return false;
        if (count > length_ - at_) return problem(reason, "has an event longer than the track");
        bytes = data_ + at_;
        at_ += count;
        return true;
    }

    bool sysex_event(uint8_t status, std::string* reason) {
        const uint8_t* bytes = nullptr;
        uint32_t count = 0;
        if (!counted_data(bytes, count, reason)) return false;
        if (status == sysex_start) {
            sysex_.push_back(sysex_start);
            open_ = true;
        } else if (!open_) {
            // An escape outside a message: real-time or other bytes, unless it carries a whole
            // message of its own.
            if (count == 0 || bytes[0] != sysex_start) return true;
            open_ = true;
        }
        sysex_.insert(sysex_.end(), bytes, bytes + count);
        if (count > 0 && bytes[count - 1] == sysex_escape) open_ = false;
        return true;
    }

    bool meta(uint8_t& type, std::string* reason) {
        if (at_ >= length_) return problem(reason, "is cut short inside a meta event");
        type = data_[at_++];
        const uint8_t* bytes = nullptr;
        uint32_t count = 0;
        return counted_data(bytes, count, reason);
    }

    bool channel_message(uint8_t status, std::string* reason) {
        const uint8_t kind = status & 0xF0;
        const size_t count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (count > length_ - at_) return problem(reason, "is cut short inside a channel message");
        for (size_t k = 0; k < count; ++k)
            if (data_[at_ + k] >= 0x80)
                return problem(
                    reason, "has a channel message cut short by the byte " + hex(data_[at_ + k]));
        at_ += count;
        return true;
    }

    const uint8_t* data_;
    size_t length_;
    int number_;
    std::vector<uint8_t>& sysex_;
    size_t at_ = 0;
    uint8_t running_status_ = 0;
    bool open_ = false;
};

}  // namespace

bool is_midi_file(const uint8_t* data, size_t length) {
    return length >= 4 && std::memcmp(data, "MThd", 4) == 0;
}

bool midi_file_sysex(const uint8_t* data, size_t length, std::vector<uint8_t>& sysex,
                     std::string* reason) {
    sysex.clear();
    if (!is_midi_file(data, length)) return fail(reason, "no header chunk (MThd) at the start");
    if (length < 14) return fail(reason, "the header chunk is cut short");
    const uint32_t header_length = big_endian(data + 4, 4);
    if (header_length < 6) return fail(reason, "the header chunk is too short");
    if (header_length > length - 8) return fail(reason, "the header chunk is cut short");
    const uint32_t format = big_endian(data + 8, 2);
    const uint32_t track_count = big_endian(data + 10, 2);
    if (format > 1) return fail(reason, "format " + std::to_string(format) + " is not read");
    if (format == 0 && track_count != 1) return fail(reason, "format 0 with other than one track");

    // Chunks follow the header, longer headers included; chunks of unknown types are passed over.
    size_t at = 8 + size_t{header_length};
    uint32_t tracks_read = 0;
    while (tracks_read < track_count) {
        if (length - at < 8)
            return fail(reason, "the file ends after " + std::to_string(tracks_read) + " of " +
                                    std::to_string(track_count) + " tracks");
        const uint8_t* chunk = data + at;
        const uint32_t chunk_length = big_endian(chunk + 4, 4);
        const bool track = std::memcmp(chunk, "MTrk", 4) == 0;
        if (chunk_length > length - at - 8) {
            if (!track) return fail(reason, "a chunk runs past the end of the file");
            return fail(reason, "track " + std::to_string(tracks_read + 1) + " is cut short");
        }
        if (track) {
            TrackReader reader(chunk + 8, chunk_length, static_cast<int>(++tracks_read), sysex);
            if (!reader.read(reason)) return false;
        }
        at += 8 + size_t{chunk_length};
    }
    if (sysex.empty()) return fail(reason, "it holds no SysEx messages");
    return true;
}

}  // namespace jx
