#pragma once
// The File Info box below the list, the per-entry option buttons, and the two current option
// modes that the sample converters read. What is to be shown is left in the list's show_next;
// the window shows it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/sample_info.h"
#include "transfer/transfer_list.h"

namespace jx {

// Decides what the panel shows for the entry's data; touches nothing.
EntryInfo describe_entry(const Entry& entry);

// The File Info text and the sample buttons for a sample reader's result; the failure texts differ
// by file kind.
struct SampleFailureTexts {
    const char* unknown_format;  // read_other_file and read_unknown_format
    const char* chunk_size;      // read_chunk_size
    const char* not_pcm;         // read_not_pcm
};
EntryInfo describe_parsed_sample(ReadResult result, const SampleInfo& info,
                                 const SampleFailureTexts& texts);

EntryInfo describe_wav(const uint8_t* data, size_t length);
EntryInfo describe_aiff(const uint8_t* data, size_t length);
EntryInfo describe_aifc(const uint8_t* data, size_t length);

// What show_entry_info shows for an entry, as a value that another thread can hand to the window:
// the panel, and for a sample the entry's option characters that become the current modes.
struct EntryView {
    EntryInfo info;
    char loop_option = 0;
    char channel_option = 0;
    bool operator==(const EntryView&) const = default;
};
EntryView view_entry(const Entry& entry);
// Leaves the view's File Info to be shown; for a sample the view's option characters first
// become the current modes, which the captions then show.
void show_entry_view(TransferList& list, const EntryView& view);

// The File Info box and the option buttons for an entry, as show_entry_view; nothing without an
// entry.
void show_entry_info(TransferList& list, const Entry* entry);

// A stored option character ('0', '1' or '2') sets the mode; any other character leaves it.
// With show, the button's caption is to follow the current mode.
void set_loop_mode(TransferList& list, char option, bool show);
void set_channel_mode(TransferList& list, char option, bool show);
const char* loop_caption(LoopMode mode);
const char* channel_caption(ChannelMode mode);

// The Loop and L+R buttons: advance the mode, show it on the button, and store it in the first
// selected entry.
void press_loop_button(TransferList& list);
void press_channel_button(TransferList& list);

// "(%i/%i)" for the send counter field, or nothing when index is negative.
std::string send_counter_text(int index, int count);

}  // namespace jx
