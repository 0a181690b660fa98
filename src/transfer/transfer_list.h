#pragma once
// The transfer list: the ordered entries the user works on, with the selection and focus that the
// list view shows. Every other part of the program touches it only through these operations.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/maker_messages.h"
#include "audio/sample_modes.h"

namespace jx {

// A private copy of one file's or one received dump's bytes, with its sample options.
struct Entry {
    // The sample options as stored: mode_option of a LoopMode and of a ChannelMode.
    char loop_option = mode_option(loop_file);
    char channel_option = mode_option(channel_both);
    char send_mark = 'U';       // the send engine's mark: 'L' waiting, 'U' not selected, 'S' taken
    std::vector<uint8_t> data;  // exactly the bytes as stored

    const uint8_t* bytes() const { return data.data(); }
    size_t length() const { return data.size(); }
};

enum class EntryType { wav, aiff, aifc, ka, kb, kc, krx, sds, ke, kg, none };

struct ListItem {
    std::string name;  // full path, received dump's name, or the path last saved under
    std::unique_ptr<Entry> entry;
    std::string size_text;
    std::string type_text;
    bool selected = false;
    bool focused = false;
};

// What the File Info box and the option buttons show for one entry.
struct EntryInfo {
    std::string text;
    bool is_sample = false;  // a readable or unreadable WAV, AIFF or AIFC sample
    bool enable_loop = false;
    bool enable_channel = false;
    bool enable_tonepak = false;
    bool operator==(const EntryInfo&) const = default;
};

// What the operations on the list left for the window to show, the latest of each since the
// window last took it: the File Info of the entry shown, the modes the captions of the Loop and
// L+R buttons name, and the sample position of a loaded document. A received dump is shown from
// the input's thread, so the window takes these when it next brings its view up to the list.
struct ShowNext {
    std::optional<EntryInfo> info;
    std::optional<LoopMode> loop;
    std::optional<ChannelMode> channel;
    std::optional<int32_t> sample_position;  // above 0
};

// The list and the state that goes with it: the selection cursor shared by every iteration of
// the selection, the filter index shared by the open and save dialogs, and the current sample
// option modes that the converters read (the send thread reads them too).
struct TransferList {
    std::vector<ListItem> items;
    int selection_cursor = -1;
    int dialog_filter_index = 1;
    std::atomic<LoopMode> loop_mode{loop_file};
    std::atomic<ChannelMode> channel_mode{channel_both};
    // Set by the main window's Delete key; a finished removal clears it.
    bool removing = false;
    ShowNext show_next;
};

EntryType entry_type(const Entry& entry);
// The same, with the device codes of the maker's messages in the entry already known.
EntryType entry_type(const Entry& entry, const DeviceCodes& codes);
const char* entry_type_text(EntryType type);
// "%i" up to 1023 bytes, otherwise whole kilobytes to the nearest, halves rounding down.
std::string size_text(uint64_t length);

// True when index names an item of the list.
inline bool valid_index(const TransferList& list, int index) {
    return index >= 0 && static_cast<size_t>(index) < list.items.size();
}

// `codes`: the device codes of the maker's messages in the entry, where the caller knows them
// (a recording that took no plain SysEx has none), so that the entry is not searched for them.
int insert_entry(TransferList& list, const std::string& name, std::unique_ptr<Entry> entry,
                 int index, const DeviceCodes* codes = nullptr);
Entry* entry_at(const TransferList& list, int index);
// Puts a new item with the name and entry at index in place of the item there, whose entry is
// freed; the new item is neither selected nor focused. Nothing for an index that names no item.
void replace_entry(TransferList& list, int index, const std::string& name,
                   std::unique_ptr<Entry> entry);
// The item's name; empty for an index that names no item.
std::string entry_name(const TransferList& list, int index);
void set_entry_name(TransferList& list, int index, const std::string& name);
void move_entry(TransferList& list, int from, int to);

int first_selected(TransferList& list);
int next_selected(TransferList& list);
int first_focused(const TransferList& list);
int selected_count(const TransferList& list);
void set_selected(TransferList& list, int index, bool selected);
void set_focused(TransferList& list, int index);

}  // namespace jx
