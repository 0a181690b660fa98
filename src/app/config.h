#pragma once
// Keeping the program's settings between runs in the per-user registry key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/settings.h"

namespace jx {

// The key under HKEY_CURRENT_USER.
constexpr const char* config_key = "Software\\Tessarin\\Jx\\Config";

// Reads every value the key holds over the settings; a missing key or value, or one longer
// than its buffer, leaves that setting as it is.
void load_config(Settings& settings);
// Writes the ten preference values. True when every value was written.
bool save_prefs(const Settings& settings);
// Writes the four window-placement values. True when every value was written.
bool save_placement(const Settings& settings);

// The five bytes stored as "midi_outs": the index as two lowercase hex digits and zeros, or all
// zeros (the empty text) for no output. Indices outside 0..255 cannot be stored and give the
// empty text too.
std::string midi_outs_text(int32_t midi_out);
// The number that text stores ("%02x": at most two hex digits after any blanks); -1 when the
// text holds none.
int32_t parse_midi_outs(const uint8_t* text, size_t length);

}  // namespace jx
