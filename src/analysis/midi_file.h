#pragma once
// Standard MIDI Files (format 0 and 1): the SysEx messages they carry, in file order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

// How every reason of a refused MIDI file begins.
constexpr const char* midi_file_reason_start = "MIDI file: ";

// True when the bytes begin with a MIDI file's header chunk.
bool is_midi_file(const uint8_t* data, size_t length);

// The SysEx messages of the file's tracks, one after another as they stand in the file (the
// tracks in order, each track's events in order), as a .syx file holds them. An F0 event starts
// a message; F7 events continue a message its F0 event left open, and an F7 event that starts
// with F0 outside a message carries a message of its own. Meta events, channel messages (with
// running status) and chunks of other types are passed over. A message left open when another
// message starts or its track ends keeps exactly the bytes the file gave it.
// False when the file is damaged or not a format 0 or 1 MIDI file; `reason` then says why.
bool midi_file_sysex(const uint8_t* data, size_t length, std::vector<uint8_t>& sysex,
                     std::string* reason = nullptr);

}  // namespace jx
