// Feeds arbitrary bytes to the MIDI file reader, and what it finds to the entry description.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "analysis/midi_file.h"
#include "transfer/entry_info.h"
#include "transfer/transfer_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jx::Entry entry;
    std::string reason;
    if (!jx::midi_file_sysex(data, size, entry.data, &reason)) {
        if (reason.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    // Every byte found is a byte of the file: each message's F0 is its event's status byte.
    if (entry.data.empty() || entry.data.size() > size) std::abort();
    (void)jx::entry_type(entry);
    (void)jx::describe_entry(entry);
    return 0;
}
