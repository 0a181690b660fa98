#pragma once
// Builds Standard MIDI Files for tests from track bodies given as raw event bytes, with the chunk
// lengths computed here.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace jx::test {

using Bytes = std::vector<uint8_t>;

inline void put_chunk(Bytes& file, const char* type, const Bytes& body) {
    file.insert(file.end(), type, type + 4);
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int shift : {24, 16, 8, 0}) file.push_back(static_cast<uint8_t>(n >> shift));
    file.insert(file.end(), body.begin(), body.end());
}

// A header chunk for the format and the number of track bodies, then one MTrk chunk each.
inline Bytes midi_file(uint16_t format, std::initializer_list<Bytes> tracks) {
    Bytes file;
    const auto count = static_cast<uint16_t>(tracks.size());
    put_chunk(file, "MThd",
              {0, static_cast<uint8_t>(format), 0, static_cast<uint8_t>(count), 0x01, 0xE0});
    for (const Bytes& track : tracks) put_chunk(file, "MTrk", track);
    return file;
}

// An event that puts the bytes of a message into a track at delta-time 0: F0 <length> <rest>.
inline Bytes sysex_event(const Bytes& message) {
    Bytes event{0x00, 0xF0, static_cast<uint8_t>(message.size() - 1)};
    event.insert(event.end(), message.begin() + 1, message.end());
    return event;
}

inline const Bytes end_of_track{0x00, 0xFF, 0x2F, 0x00};

}  // namespace jx::test
