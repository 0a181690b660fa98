#pragma once
// Keeping the program's settings between runs in the per-user registry key.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/store/settings.h"

namespace jx {

// The key under HKEY_CURRENT_USER.
constexpr const char* config_key = "Software\\Tessarin\\Jx\\Config";

// Reads every value the key holds over the settings; a missing key or value, or one longer
// than its buffer, leaves that setting as it is. False, with the reason, when the store is there
// but cannot be read: the settings then stay as they were.
bool load_config(Settings& settings, std::string* problem = nullptr);
// Writes the preference values in one rewrite of the store: all of them or none. True when
// they were written; otherwise problem says why.
bool save_prefs(const Settings& settings, std::string* problem = nullptr);
// Reads the settings and stores the preference values after `change` has changed them, all
// under the store's lock, so that another process's change made meanwhile is neither lost nor
// written over. Nothing is written when change returns false (and the result is false, without
// a problem).
bool update_prefs(Settings& settings, const std::function<bool(Settings&)>& change,
                  std::string* problem = nullptr);
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
