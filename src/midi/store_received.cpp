#include "midi/store_received.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "audio/extended80.h"
#include "audio/zbname.h"
#include "midi/receive_buffer.h"
#include "transfer/entry_info.h"
#include "transfer/transfer_list.h"

namespace jx {

namespace {

// Writes numbers and tags into a file header, little- or big-endian.
struct HeaderWriter {
    uint8_t* out;
    size_t at = 0;
    void tag(const char* four) {
        std::memcpy(out + at, four, 4);
        at += 4;
    }
    void le(uint32_t value, int bytes) {
        for (int k = 0; k < bytes; ++k) out[at++] = static_cast<uint8_t>(value >> (8 * k));
    }
    void be(uint32_t value, int bytes) {
        for (int k = bytes - 1; k >= 0; --k) out[at++] = static_cast<uint8_t>(value >> (8 * k));
    }
};

bool looped(const SdsRxDump& d) {
    return d.loop_type != 0x7F;
}

// An extended dump header's length can promise more than four gigabytes: wider than the size
// fields, which then say the most they can until the image is stored with what it holds.
uint64_t data_size(const SdsRxDump& d) {
    return static_cast<uint64_t>(d.length) * static_cast<uint64_t>(d.file_bytes);
}

uint32_t size_field(uint64_t size) {
    return size < UINT32_MAX ? static_cast<uint32_t>(size) : UINT32_MAX;
}

void put_le32(uint8_t* at, uint32_t value) {
    HeaderWriter{at}.le(value, 4);
}
void put_be32(uint8_t* at, uint32_t value) {
    HeaderWriter{at}.be(value, 4);
}

// A WAV or AIFF image stored before its dump was complete (stopped, given up, or followed by a
// new dump) gets the sizes of the samples it holds, so that it reads as the shorter sample it is
// instead of as a file that claims more data than it has.
void finish_partial_image(Recorder& r) {
    const int32_t format = r.settings->rec_format;
    if (format != rec_wav && format != rec_aiff) return;
    SdsRxDump& d = format == rec_wav ? r.sds.wav : r.sds.aiff;
    if (!d.open) return;
    d.open = false;
    const bool wav = format == rec_wav;
    const uint32_t header = wav ? (looped(d) ? 112 : 44) : (looped(d) ? 116 : 54);
    uint8_t* image = r.buffer.get() + 8;
    const uint32_t length = static_cast<uint32_t>(r.receive_length);
    if (length < header || std::memcmp(image, wav ? "RIFF" : "FORM", 4) != 0) return;
    const uint32_t held = length - header;
    if (held >= data_size(d)) return;
    if (wav) {
        put_le32(image + 4, held + header - 8);
        put_le32(image + header - 4, held);
    } else {
        put_be32(image + 4, held + header - 8);
        put_be32(image + 22, held / static_cast<uint32_t>(d.file_bytes));
        put_be32(image + header - 12, held + 8);
    }
}

// Takes the receive buffer's data as a new entry; the receiver has no buffer afterwards, or, with
// `keep_block`, an empty one.
std::unique_ptr<Entry> take_receive_buffer(Recorder& r, bool keep_block = false) {
    uint8_t* block = r.buffer.get();
    const uint32_t length = static_cast<uint32_t>(r.receive_length);
    std::memcpy(block + 4, &length, 4);
    auto entry = std::make_unique<Entry>();
    entry->loop_option = static_cast<char>(block[0]);
    entry->channel_option = static_cast<char>(block[1]);
    entry->data.assign(block + 8, block + 8 + length);
    if (keep_block)
        r.receive_length = 0;
    else
        free_receive_buffer(r);
    return entry;
}

// The device codes of the maker's messages in the receive buffer, where they are known without a
// search: none when it holds SysEx (not a sample image) and no plain SysEx went into it, for then
// it holds the universal messages of sample dumps alone.
const DeviceCodes* known_device_codes(const Recorder& r) {
    static const DeviceCodes none;
    const int32_t format = r.settings->rec_format;
    const bool sysex = format == rec_sds || format == rec_none;
    return sysex && !r.plain_in_buffer ? &none : nullptr;
}

// The dump of the handler in use, when one is open: what the receive buffer holds of it is
// about to be stored before its end. Asked before finish_partial_image closes it.
std::optional<PartialDump> open_dump(const Recorder& r) {
    const int32_t format = r.settings->rec_format;
    const SdsRxDump& d = format == rec_wav    ? r.sds.wav
                         : format == rec_aiff ? r.sds.aiff
                                              : r.sds.syx;
    if (!d.open) return std::nullopt;
    return PartialDump{nullptr, std::min(d.sample_count, d.length), d.length};
}

// The stored entry took what there was of the open dump: nothing later belongs to it.
void close_open_dump(Recorder& r) {
    finish_partial_image(r);
    r.sds.syx.open = false;
}

// Adds the entry at the end of the list; when nothing is selected it is selected and shown. A
// dump cut off is noted with it. `codes`: the maker's device codes in it, where known.
void add_received_entry(Recorder& r, const std::string& name, std::unique_ptr<Entry> entry,
                        std::optional<PartialDump> partial = std::nullopt,
                        const DeviceCodes* codes = nullptr) {
    if (!r.list) return;
    std::unique_lock<std::mutex> lock;
    if (r.list_mutex) lock = std::unique_lock(*r.list_mutex);
    TransferList& list = *r.list;
    if (partial) {
        partial->entry = entry.get();
        r.partial_dumps.push_back(*partial);
    }
    const int index = insert_entry(list, name, std::move(entry), -1, codes);
    if (first_selected(list) < 0) {
        set_selected(list, index, true);
        show_entry_info(list, entry_at(list, index));
    }
}

}  // namespace

std::string received_dump_name(uint32_t value, int32_t counter) {
    if (value == 0) return "unnamed" + std::to_string(counter);
    uint8_t chars[4];
    for (int k = 0; k < 4; ++k) chars[k] = (value >> (24 - 8 * k)) & 0x7F;
    return four_char_text(chars);
}

void store_received_dump(Recorder& r, uint32_t name_value) {
    if (r.receive_length < 1) return;
    const std::optional<PartialDump> partial = open_dump(r);
    close_open_dump(r);
    ++r.dump_counter;
    const std::string name = r.pending_sample_name.empty()
                                 ? received_dump_name(name_value, r.dump_counter)
                                 : r.pending_sample_name;
    // The recording goes on in the same block: an 8 MiB block given back and taken again for
    // every dump costs the system fresh pages each time. A recorder with an allocator of its own
    // gets a fresh block from it for every buffer.
    const DeviceCodes* codes = known_device_codes(r);
    add_received_entry(r, name, take_receive_buffer(r, !r.allocate_buffer), partial, codes);
    if (!begin_receive_buffer(r)) {
        r.report.set(&RecordReport::file_info, text_out_of_memory);
        r.state->receive_state.store(receive_idle);
    }
    // SysEx held back while the image was open comes next.
    if (!r.held_plain.empty()) r.plain_in_buffer = true;
    append_received_bytes(r, r.held_plain.data(), r.held_plain.size());
    r.held_plain.clear();
}

void store_at_stop(Recorder& r) {
    if (r.receive_length > 0) {
        const std::optional<PartialDump> partial = open_dump(r);
        close_open_dump(r);
        ++r.dump_counter;
        const DeviceCodes* codes = known_device_codes(r);
        add_received_entry(r, received_dump_name(0, r.dump_counter), take_receive_buffer(r),
                           partial, codes);
    }
    free_receive_buffer(r);
    if (!r.held_plain.empty()) {
        ++r.dump_counter;
        auto entry = std::make_unique<Entry>();
        entry->data.swap(r.held_plain);
        add_received_entry(r, received_dump_name(0, r.dump_counter), std::move(entry));
    }
}

size_t build_wav_header(const SdsRxDump& d, uint8_t* out) {
    const uint64_t size = data_size(d);
    HeaderWriter w{out};
    w.tag("RIFF");
    w.le(size_field(size + (looped(d) ? 104 : 36)), 4);
    w.tag("WAVE");
    w.tag("fmt ");
    w.le(16, 4);
    w.le(1, 2);  // PCM
    w.le(1, 2);  // one channel
    w.le(static_cast<uint32_t>(d.rate), 4);
    w.le(static_cast<uint32_t>(d.rate) * static_cast<uint32_t>(d.file_bytes), 4);
    w.le(static_cast<uint32_t>(d.file_bytes), 2);
    w.le(8 * static_cast<uint32_t>(d.file_bytes), 2);
    if (looped(d)) {
        w.tag("smpl");
        w.le(60, 4);
        w.le(0, 4);  // manufacturer
        w.le(0, 4);  // product
        w.le(static_cast<uint32_t>(d.period), 4);
        w.le(60, 4);  // unity note
        w.le(0, 4);   // pitch fraction
        w.le(0, 4);   // SMPTE format
        w.le(0, 4);   // SMPTE offset
        w.le(1, 4);   // one loop
        w.le(0, 4);   // sampler data
        w.le(0, 4);   // cue point id
        w.le(0, 4);   // forward
        w.le(static_cast<uint32_t>(d.loop_start), 4);
        w.le(static_cast<uint32_t>(d.loop_end), 4);
        w.le(0, 4);  // fraction
        w.le(0, 4);  // play count: endless
    }
    w.tag("data");
    w.le(size_field(size), 4);
    return w.at;
}

size_t build_aiff_header(const SdsRxDump& d, uint8_t* out) {
    const uint64_t size = data_size(d);
    HeaderWriter w{out};
    w.tag("FORM");
    w.be(size_field(size + (looped(d) ? 108 : 46)), 4);
    w.tag("AIFF");
    w.tag("COMM");
    w.be(18, 4);
    w.be(1, 2);  // one channel
    w.be(static_cast<uint32_t>(d.length), 4);
    w.be(static_cast<uint32_t>(d.bits), 2);
    write_extended80(d.rate, out + w.at);
    w.at += 10;
    if (looped(d)) {
        w.tag("INST");
        w.be(20, 4);
        const uint8_t notes[6] = {60, 0, 0, 127, 1, 127};  // base, detune, low/high note, velocity
        std::memcpy(out + w.at, notes, 6);
        w.at += 6;
        w.be(0, 2);  // gain
        w.be(1, 2);  // sustain loop: forward, from marker 0 to marker 1
        w.be(0, 2);
        w.be(1, 2);
        w.be(0, 2);  // release loop: none, markers 0 and 2
        w.be(0, 2);
        w.be(2, 2);
        w.tag("MARK");
        w.be(26, 4);
        w.be(3, 2);
        const int32_t positions[3] = {d.loop_start, d.loop_end, d.length};
        for (int id = 0; id < 3; ++id) {
            w.be(static_cast<uint32_t>(id), 2);
            w.be(static_cast<uint32_t>(positions[id]), 4);
            out[w.at++] = 1;  // the name: one character, the marker's number
            out[w.at++] = static_cast<uint8_t>('0' + id);
        }
    }
    w.tag("SSND");
    w.be(size_field(size + 8), 4);
    w.be(0, 4);  // offset
    w.be(0, 4);  // block size
    return w.at;
}

}  // namespace jx
