#include "transfer/transfer_list.h"

#include <cstring>

#include "analysis/sysex_scan.h"
#include "audio/aiff.h"
#include "audio/sds.h"
#include "audio/wav.h"

namespace jx {

EntryType entry_type(const Entry& entry) {
    const uint8_t* d = entry.bytes();
    size_t n = entry.length();
    // A sample file is told by its first bytes, without a search for the maker's messages.
    const bool sample = is_wav(d, n) || is_aiff(d, n) || is_aifc(d, n);
    return entry_type(entry, sample ? DeviceCodes{} : maker_device_codes(d, n));
}

EntryType entry_type(const Entry& entry, const DeviceCodes& codes) {
    const uint8_t* d = entry.bytes();
    size_t n = entry.length();
    if (is_wav(d, n)) return EntryType::wav;
    if (is_aiff(d, n)) return EntryType::aiff;
    if (is_aifc(d, n)) return EntryType::aifc;
    if (codes.has(device::ka)) return EntryType::ka;
    if (codes.has(device::kb)) return EntryType::kb;
    if (codes.has(device::kc)) return EntryType::kc;
    if (codes.has(device::pulsebench)) return EntryType::krx;
    if (is_sds_dump_header(d, n)) return EntryType::sds;
    if (codes.has(device::ke)) return EntryType::ke;
    if (codes.has(device::kg)) return EntryType::kg;
    return EntryType::none;
}

const char* entry_type_text(EntryType type) {
    switch (type) {
        case EntryType::wav:
            return "WAV";
        case EntryType::aiff:
            return "AIFF";
        case EntryType::aifc:
            return "AIFC";
        case EntryType::ka:
            return "KA";
        case EntryType::kb:
            return "KB";
        case EntryType::kc:
            return "KC";
        case EntryType::krx:
            return "KRX";
        case EntryType::sds:
            return "SDS";
        case EntryType::ke:
            return "KE";
        case EntryType::kg:
            return "KG";
        case EntryType::none:
            break;
    }
    return "-";
}

std::string size_text(uint64_t length) {
    if (length <= 1023) return std::to_string(length);
    return std::to_string((length + 511) >> 10) + "k";
}

int insert_entry(TransferList& list, const std::string& name, std::unique_ptr<Entry> entry,
                 int index, const DeviceCodes* codes) {
    ListItem item;
    item.name = name;
    item.size_text = size_text(entry->length());
    item.type_text = entry_type_text(codes ? entry_type(*entry, *codes) : entry_type(*entry));
    item.entry = std::move(entry);
    if (index < 0 || static_cast<size_t>(index) > list.items.size())
        index = static_cast<int>(list.items.size());
    list.items.insert(list.items.begin() + index, std::move(item));
    return index;
}

void replace_entry(TransferList& list, int index, const std::string& name,
                   std::unique_ptr<Entry> entry) {
    if (!valid_index(list, index)) return;
    insert_entry(list, name, std::move(entry), index);
    list.items.erase(list.items.begin() + index + 1);
}

Entry* entry_at(const TransferList& list, int index) {
    return valid_index(list, index) ? list.items[index].entry.get() : nullptr;
}

std::string entry_name(const TransferList& list, int index) {
    return valid_index(list, index) ? list.items[index].name : std::string();
}

void set_entry_name(TransferList& list, int index, const std::string& name) {
    if (valid_index(list, index)) list.items[index].name = name;
}

void move_entry(TransferList& list, int from, int to) {
    if (from == to || from < 0 || to < 0 || !valid_index(list, from) || !valid_index(list, to))
        return;
    ListItem item = std::move(list.items[from]);
    list.items.erase(list.items.begin() + from);
    list.items.insert(list.items.begin() + to, std::move(item));
}

int first_selected(TransferList& list) {
    for (size_t k = 0; k < list.items.size(); ++k) {
        if (list.items[k].selected) {
            list.selection_cursor = static_cast<int>(k);
            return list.selection_cursor;
        }
    }
    return -1;
}

int next_selected(TransferList& list) {
    if (list.selection_cursor < 0) return -1;
    for (size_t k = list.selection_cursor + 1; k < list.items.size(); ++k) {
        if (list.items[k].selected) {
            list.selection_cursor = static_cast<int>(k);
            return list.selection_cursor;
        }
    }
    return -1;
}

int first_focused(const TransferList& list) {
    for (size_t k = 0; k < list.items.size(); ++k)
        if (list.items[k].focused) return static_cast<int>(k);
    return -1;
}

int selected_count(const TransferList& list) {
    int count = 0;
    for (const ListItem& item : list.items) count += item.selected ? 1 : 0;
    return count;
}

void set_selected(TransferList& list, int index, bool selected) {
    if (valid_index(list, index)) list.items[index].selected = selected;
}

void set_focused(TransferList& list, int index) {
    for (size_t k = 0; k < list.items.size(); ++k) list.items[k].focused = (int)k == index;
}

}  // namespace jx
