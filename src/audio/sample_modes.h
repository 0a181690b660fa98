#pragma once
// How a sample entry is sent: its loop mode and its channel mode, and the option characters
// '0', '1' and '2' that entries, file lists and jx_files.dat store for them.
namespace jx {

// The sample's own loop, always looped (the whole sample when the file has no loop), never looped.
enum LoopMode : int { loop_file = 0, loop_on = 1, loop_off = 2 };
// Both channels mixed, the left one, the right one (for two-channel samples).
enum ChannelMode : int { channel_both = 0, channel_left = 1, channel_right = 2 };

// True for the stored characters '0', '1' and '2'.
constexpr bool is_mode_option(char option) {
    return option >= '0' && option <= '2';
}
// The mode a stored character stands for; the caller has checked it with is_mode_option.
constexpr LoopMode loop_mode_of(char option) {
    return static_cast<LoopMode>(option - '0');
}
constexpr ChannelMode channel_mode_of(char option) {
    return static_cast<ChannelMode>(option - '0');
}
// The stored character of a mode.
constexpr char mode_option(int mode) {
    return static_cast<char>('0' + mode);
}

}  // namespace jx
