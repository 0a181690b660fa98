// Feeds arbitrary bytes to the file-list document reader, then writes the entries it names as a
// document in the same folder and checks that reading that gives the same entries back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "transfer/file_list.h"

namespace {

struct Named {
    char loop, channel;
    std::string path;
    bool operator==(const Named&) const = default;
};

std::vector<Named> named(const jx::FileListDocument& doc, const std::string& folder) {
    std::vector<Named> all;
    for (const jx::FileListRecord& r : doc.records) {
        if (r.path.size() + 2 > jx::max_list_string) std::abort();
        if (r.relative && r.path.find('\\') != std::string::npos) std::abort();
        all.push_back({r.loop_option, r.channel_option, jx::record_path(r, folder)});
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = "/docs/set";
    jx::FileListDocument doc = jx::parse_file_list(data, size);
    if (!doc.valid) {
        if (!doc.records.empty()) std::abort();
        return 0;
    }
    std::vector<Named> entries = named(doc, folder);

    jx::TransferList list;
    for (const Named& e : entries) {
        auto entry = std::make_unique<jx::Entry>();
        entry->loop_option = e.loop;
        entry->channel_option = e.channel;
        jx::insert_entry(list, e.path, std::move(entry), -1);
    }
    std::vector<std::string> left_out;
    auto position = static_cast<uint32_t>(doc.sample_position);
    std::vector<uint8_t> written =
        jx::file_list_bytes(list, folder + "/list.jx", position, &left_out);
    jx::FileListDocument back = jx::parse_file_list(written.data(), written.size());
    if (!back.valid || back.sample_position != (doc.sample_position < 0 ? 0 : doc.sample_position))
        std::abort();
    std::vector<Named> expected;
    for (const Named& e : entries)
        if (std::find(left_out.begin(), left_out.end(), e.path) == left_out.end())
            expected.push_back(e);
    // Records too short to name a file are passed over on reading, as they were the first time.
    if (named(back, folder) != expected) std::abort();
    return 0;
}
