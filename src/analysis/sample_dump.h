#pragma once
// Describes a MIDI Sample Dump Standard dump held in an entry: the fields of its header when it
// is one whole dump, otherwise how many dumps are whole and how many faults the packets show.
#include <cstddef>
#include <cstdint>
#include <string>

namespace jx {

// The File Info text for data that begins with an SDS dump header.
std::string describe_sample_dump(const uint8_t* data, size_t length);

}  // namespace jx
