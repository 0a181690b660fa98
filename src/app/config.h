#pragma once
// The program's settings: the values in memory, and the per-user registry key that keeps them
// between runs.
#include <cstdint>
#include <functional>
#include <string>

namespace jx {

// win_h holds this when no window placement has been saved.
constexpr int32_t no_placement = -1000;

// Every setting, with the value it has before anything is read.
struct Settings {
    int32_t midi_in = -1;    // MIDI input device index; -1 = none
    int32_t midi_del = 0;    // milliseconds between SysEx messages (entered and shown unsigned)
    int32_t syx_reload = 0;  // non-zero: the list is kept in jx_files.dat between runs
    int32_t use_xsds = 0;    // non-zero: extended SDS dump header and sample name message
    int32_t ignore_hs = 1;   // non-zero: the SDS handshake is not used
    int32_t win_w = -1;
    int32_t win_h = no_placement;
    int32_t win_x = 0;
    int32_t win_y = 0;
    int32_t midi_out = -1;    // MIDI output device index, stored as the text "midi_outs"
    int32_t turbo_lim = 11;   // Turbo speed index the Turbo button asks for; 11 = no limit
    uint8_t sds_dev = 0;      // SDS device number (channel byte)
    int32_t rec_format = 0;   // received sample dumps: 0 SDS, 1 WAV, 2 AIFF, 3 none
    int32_t send_zbname = 0;  // non-zero: the KVR-9ZB name message follows each sample's header
};

// The key under HKEY_CURRENT_USER.
constexpr const char* config_key = "Software\\Tessarin\\Jx\\Config";

// Reads every value the key holds over the settings; a missing key or value, or one longer
// than its buffer, leaves that setting as it is. False, with the reason, when the store is there
// but cannot be read: the settings then stay as they were.
bool load_config(Settings& settings, std::string* problem = nullptr);
// Writes the ten preference values in one rewrite of the store: all of them or none. True when
// they were written; otherwise problem says why.
bool save_prefs(const Settings& settings, std::string* problem = nullptr);
// Reads the settings and stores the ten preference values after `change` has changed them, all
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

// The Turbo speed (multiple times ten) of a speed index 0..11; 10 for any other index.
int turbo_speed_of_index(int index);

}  // namespace jx
