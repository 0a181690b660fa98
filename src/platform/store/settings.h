#pragma once
// The program's settings as plain values: every layer that acts on a setting (the MIDI
// transfer, the window, the command line) reads this record. Reading and writing them to the
// per-user store is the application shell's (app/config.h).
#include <cstdint>
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
    // The ports chosen, by name: found by name first, so that interfaces plugged in another
    // order never swap; empty when only the index is known (stores written before names were).
    std::string midi_in_name;
    std::string midi_out_name;
};

// The Turbo speed (multiple times ten) of a speed index 0..11; 10 for any other index.
constexpr int turbo_speed_of_index(int index) {
    constexpr int speeds[12] = {10, 10, 20, 33, 40, 50, 66, 80, 100, 133, 160, 200};
    return index >= 0 && index < 12 ? speeds[index] : 10;
}

}  // namespace jx
