// Feeds arbitrary bytes to the jx_files.dat reader, then writes the entries it names and checks
// that reading that gives exactly the same records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "transfer/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<jx::FileListRecord> records = jx::parse_stored_list(data, size);
    jx::TransferList list;
    for (const jx::FileListRecord& r : records) {
        if (r.relative || r.path.empty() || r.path.size() + 2 > jx::max_list_string) std::abort();
        auto entry = std::make_unique<jx::Entry>();
        entry->loop_option = r.loop_option;
        entry->channel_option = r.channel_option;
        jx::insert_entry(list, r.path, std::move(entry), -1);
    }
    std::vector<std::string> left_out;
    std::vector<uint8_t> written = jx::stored_list_bytes(list, &left_out);
    if (!left_out.empty()) std::abort();
    std::vector<jx::FileListRecord> back = jx::parse_stored_list(written.data(), written.size());
    if (back.size() != records.size()) std::abort();
    for (size_t k = 0; k < back.size(); ++k)
        if (back[k].path != records[k].path || back[k].loop_option != records[k].loop_option ||
            back[k].channel_option != records[k].channel_option)
            std::abort();
    return 0;
}
