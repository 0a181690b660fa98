// Feeds arbitrary bytes to the recorder as an input hands them over, in every receive format,
// with and without the handshake. The first byte chooses the options; the rest is what arrives.
// The same bytes arriving in pieces of other sizes must give the same entries, as the input may
// hand over at any byte; the replay of a captured stream must record without fault too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "midi/recorder.h"
#include "transfer/transfer_list.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

Entries record(const jx::Settings& settings, const uint8_t* data, size_t size, size_t piece) {
    jx::TransferState state;
    state.receive_state = jx::receive_idle;
    jx::TransferList list;
    std::mutex list_mutex;
    jx::Recorder recorder;
    recorder.state = &state;
    recorder.settings = &settings;
    recorder.list = &list;
    recorder.list_mutex = &list_mutex;
    jx::start_recording(recorder);
    if (piece == 0) {
        jx::replay_stream(recorder, data, size);
    } else {
        jx::SysexFramer framer;  // as the input keeps one
        std::vector<jx::SysexPiece> pieces;
        for (size_t at = 0; at < size; at += piece) {
            framer.feed(data + at, size - at < piece ? size - at : piece);
            pieces.clear();
            for (jx::SysexPiece p; framer.next(p);) pieces.push_back(p);
            jx::record_pieces(recorder, pieces);
        }
    }
    if (jx::is_recording(recorder) && state.received_count.load() != recorder.receive_length)
        std::abort();
    jx::stop_recording(recorder);
    Entries entries;
    for (const jx::ListItem& item : list.items) {
        if (item.entry->data.empty() || item.entry->data.size() > jx::receive_length_limit)
            std::abort();
        entries.emplace_back(item.name, item.entry->data);
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    ++data, --size;
    jx::Settings settings;
    settings.rec_format = options & 3;
    settings.ignore_hs = options & 4 ? 0 : 1;
    const size_t piece = options & 8 ? 1000 : options & 16 ? 1 : 7;
    const Entries whole = record(settings, data, size, size > 0 ? size : 1);
    if (record(settings, data, size, piece) != whole) std::abort();
    record(settings, data, size, 0);
    return 0;
}
