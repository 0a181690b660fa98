#include "midi/recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "midi/midi_ports.h"
#include "midi/sds_receive.h"
#include "midi/send_engine.h"
#include "midi/store_received.h"
#include "platform/midi/sysex.h"

namespace jx {

namespace {

// The maker's messages that are not recorded: the Turbo messages and those of device code 00.
const uint8_t* const turbo_header = turbo_message_start;
constexpr uint8_t maker_00_header[6] = {sysex_start, maker_id[0], maker_id[1],
                                        maker_id[2], 0x00,        0x00};
constexpr uint8_t zbname_header[7] = {sysex_start,     maker_id[0], maker_id[1], maker_id[2],
                                      maker_kind_name, 0x00,        0x73};

void show(Recorder& r, RecordText RecordReport::*field, std::string text) {
    r.report.set(field, std::move(text));
}

// Plain SysEx bytes: appended, or held while a WAV or AIFF image is open, so that they follow the
// image as data of their own instead of landing among its samples.
void append_plain_bytes(Recorder& r, const uint8_t* bytes, size_t n) {
    const int32_t format = r.settings->rec_format;
    const bool image_open =
        (format == rec_wav && r.sds.wav.open) || (format == rec_aiff && r.sds.aiff.open);
    if (!image_open) {
        r.plain_in_buffer = true;
        append_received_bytes(r, bytes, n);
        return;
    }
    const size_t room = static_cast<size_t>(receive_length_limit) - r.held_plain.size();
    r.held_plain.insert(r.held_plain.end(), bytes, bytes + (n < room ? n : room));
    if (n > room) r.buffer_full = true;
}

// A universal message while a send runs is the device speaking SDS to us: with the handshake in
// use the send is stopped, as the device no longer listens to it.
void stop_send_for_universal(Recorder& r) {
    TransferState& state = *r.state;
    if (r.settings->ignore_hs != 0 || state.sending.load() != 1) return;
    show(r, &RecordReport::send_button, text_send);
    state.cancel_request.store(1);
    state.sending.store(0);
    notify_transfer(state);
}

// Sorts the message from its header bytes; false while too few are held to tell (the input
// buffer ended first). `ended` says the message ends (or is cut short) after them.
bool sort_message(Recorder& r, bool ended) {
    const auto& h = r.header;
    if (r.header_count >= 2 && h[1] == universal_non_realtime) {
        r.message_class = MessageClass::sds;
        stop_send_for_universal(r);
        return true;
    }
    if (r.header_count == header_byte_count) {
        if (std::memcmp(h.data(), turbo_header, 6) == 0 ||
            std::memcmp(h.data(), maker_00_header, 6) == 0) {
            r.message_class = MessageClass::skip;
            r.turbo_answer = h[6] == turbo_answer_id;
        } else if (r.message_class == MessageClass::sds && r.settings->rec_format != rec_none &&
                   std::memcmp(h.data(), zbname_header, 7) == 0) {
            // A name message counts only right after SDS messages: it names the dump they began.
            r.message_class = MessageClass::name;
            r.name_bytes = {};
            r.name_count = 0;
        } else {
            r.message_class = MessageClass::plain;
        }
        return true;
    }
    if (ended) {
        r.message_class = MessageClass::plain;
        return true;
    }
    return false;
}

// What the sorted message does with the header bytes it held. A universal message whose bytes
// still lie in the input's memory (`in_input`) is taken from there.
void take_header_bytes(Recorder& r, bool in_input) {
    if (r.message_class == MessageClass::plain) {
        append_plain_bytes(r, r.header.data(), r.header_count);
        r.plain_bytes = static_cast<int32_t>(r.header_count);
    } else if (r.message_class == MessageClass::sds) {
        if (!in_input) std::memcpy(r.universal.data(), r.header.data(), r.header_count);
        r.universal_length = r.header_count;
    }
    r.header_count = 0;
}

// Bytes beyond the universal buffer are counted but not kept: no SDS message is that long, and
// the receiver refuses a dump header or a data packet whose length is wrong.
void collect_universal(Recorder& r, const uint8_t* bytes, size_t n) {
    if (r.universal_length < universal_buffer_size) {
        const size_t room = universal_buffer_size - r.universal_length;
        std::memcpy(r.universal.data() + r.universal_length, bytes, n < room ? n : room);
    }
    r.universal_length += n;
}

// Data bytes of the message, by its class.
void take_message_bytes(Recorder& r, const uint8_t* bytes, size_t n) {
    switch (r.message_class) {
        case MessageClass::plain:
            append_plain_bytes(r, bytes, n);
            r.plain_bytes += static_cast<int32_t>(n);
            break;
        case MessageClass::sds:
            collect_universal(r, bytes, n);
            break;
        case MessageClass::skip:
            if (r.turbo_answer) {
                set_turbo_speed(*r.state, bytes[0]);
                r.turbo_answer = false;
            }
            break;
        case MessageClass::name:
            for (size_t k = 0; k < n && r.name_count < r.name_bytes.size(); ++k)
                r.name_bytes[r.name_count++] = bytes[k];
            break;
    }
}

// The message ends: with its F7 (complete) or cut short. A universal message whose bytes all lie
// in the input's memory comes as `whole`, F0 to F7, instead of in the universal buffer.
void end_message(Recorder& r, bool complete, const uint8_t* whole = nullptr, size_t length = 0) {
    r.turbo_answer = false;
    switch (r.message_class) {
        case MessageClass::plain:
            if (complete) append_plain_bytes(r, &sysex_end, 1);
            break;
        case MessageClass::sds:
            if (complete) {
                if (!whole) {
                    collect_universal(r, &sysex_end, 1);
                    whole = r.universal.data();
                    length = r.universal_length;
                }
                if (sds_receive(r, whole, length)) stop_recording_locked(r);
            }
            r.universal_length = 0;
            break;
        case MessageClass::skip:
            break;
        case MessageClass::name: {
            const auto& n = r.name_bytes;
            if (complete && r.name_count == n.size())
                r.pending_name = uint32_t{n[1]} << 24 | uint32_t{n[2]} << 16 | uint32_t{n[3]} << 8 |
                                 uint32_t{n[4]};
            r.message_class = MessageClass::sds;
            break;
        }
    }
}

// Sorts the message once its header bytes tell what it is (or it ends first), and hands the
// header bytes on to its class.
void sort_and_take_header(Recorder& r, bool ended, bool in_input) {
    if (r.sorting && sort_message(r, ended)) {
        r.sorting = false;
        take_header_bytes(r, in_input);
    }
}

void record_locked(Recorder& r, std::span<const SysexPiece> pieces) {
    if (!is_recording(r)) return;
    // The message begun in these pieces, as long as its bytes so far lie in one stretch of the
    // input's memory: a universal message is then not copied into the universal buffer as it
    // comes, but taken from the input when it ends. Should the stretch break (a real-time byte,
    // the end of what the input handed over), what it holds is put in the universal buffer then.
    const uint8_t* stretch = nullptr;
    const uint8_t* stretch_end = nullptr;
    auto universal_in_stretch = [&] {
        return stretch && r.message_class == MessageClass::sds && !r.sorting;
    };
    auto leave_stretch = [&] {
        if (universal_in_stretch()) {
            r.universal_length = 0;
            collect_universal(r, stretch, static_cast<size_t>(stretch_end - stretch));
        }
        stretch = nullptr;
    };
    for (const SysexPiece& piece : pieces) {
        if (piece.kind == SysexPiece::lost) continue;
        if (piece.kind == SysexPiece::start) {
            r.in_message = true;
            r.sorting = true;
            r.header[0] = sysex_start;
            r.header_count = 1;
            stretch = piece.bytes;
            stretch_end = piece.bytes + 1;
            continue;
        }
        if (!r.in_message) continue;  // the rest of a message begun before the recording
        if (piece.kind == SysexPiece::data) {
            if (stretch && piece.bytes == stretch_end)
                stretch_end += piece.size;
            else
                leave_stretch();
            const uint8_t* bytes = piece.bytes;
            size_t n = piece.size;
            if (r.sorting) {
                const size_t k = std::min(n, header_byte_count - r.header_count);
                for (size_t j = 0; j < k; ++j) r.header[r.header_count + j] = bytes[j];
                r.header_count += k;
                bytes += k;
                n -= k;
                if (r.header_count < header_byte_count) continue;
                sort_and_take_header(r, false, stretch != nullptr);
            }
            if (n > 0 && !universal_in_stretch()) take_message_bytes(r, bytes, n);
            continue;
        }
        r.in_message = false;
        sort_and_take_header(r, true, stretch != nullptr);
        const bool complete = piece.kind == SysexPiece::end;
        if (complete && universal_in_stretch() && piece.bytes == stretch_end &&
            static_cast<size_t>(piece.bytes + 1 - stretch) <= universal_buffer_size) {
            end_message(r, true, stretch, static_cast<size_t>(piece.bytes + 1 - stretch));
        } else {
            if (complete) leave_stretch();
            end_message(r, complete);
        }
        stretch = nullptr;
        // A full buffer ends the recording as Stop Rec does.
        if (r.buffer_full && is_recording(r)) stop_recording_locked(r);
        if (!is_recording(r)) return;
    }
    // What was handed over ends inside a message: a universal one is told by its second byte.
    if (r.in_message) sort_and_take_header(r, false, stretch != nullptr);
    leave_stretch();
    if (r.buffer_full && is_recording(r)) stop_recording_locked(r);
    if (is_recording(r)) {
        // Only this thread sets the bit, and the stop that clears it holds the same lock.
        std::atomic<int32_t>& bits = r.state->status_bits;
        if (!(bits.load(std::memory_order_relaxed) & status_receiving))
            bits.fetch_or(status_receiving);
        r.state->received_count.store(r.receive_length, std::memory_order_relaxed);
    }
}

}  // namespace

void start_recording(Recorder& r) {
    // Closing the input ends a recording that still runs (the close passes through
    // stop_recording), so the lock is not held for it.
    if (r.ports) close_midi_in(*r.ports);
    bool begun = false;
    {
        std::lock_guard lock(r.mutex);
        // The rest of a message cut off by an earlier stop is dropped.
        r.message_class = MessageClass::skip;
        r.in_message = false;
        r.sorting = false;
        r.turbo_answer = false;
        r.universal_length = 0;
        r.sds.nak_count = 0;
        if (r.ports) r.ports->nak_count.store(0);
        begun = begin_receive_buffer(r) != 0;
    }
    // The input opens into the recording begun above: a device that starts sending the moment
    // the port is there (one waiting for our input to appear) loses nothing. The input is not
    // open yet, so nothing reaches the recorder before its buffer is ready.
    if (r.ports) open_midi_in(*r.ports, true);
    std::lock_guard lock(r.mutex);
    if (begun) {
        show(r, &RecordReport::status, text_receiving);
        show(r, &RecordReport::receive_button, text_stop_rec);
    } else {
        show(r, &RecordReport::file_info, text_out_of_memory);
    }
}

void stop_recording(Recorder& r) {
    std::lock_guard lock(r.mutex);
    stop_recording_locked(r);
}

void stop_recording_locked(Recorder& r) {
    TransferState& state = *r.state;
    const bool was_recording = state.receive_state.load() == receive_recording;
    r.stopped_full = r.buffer_full;
    r.buffer_full = false;
    r.stopped_inside = 0;
    state.receive_state.store(receive_idle);
    // The device is told to stop a dump it is still sending; a stop outside a recording (the
    // input reopened) has no dump to cancel.
    if (was_recording && r.message_class == MessageClass::sds && r.ports)
        send_hs_cancel(*r.ports, static_cast<uint8_t>(r.sds.reply_channel),
                       static_cast<uint8_t>(r.sds.reply_packet));
    // What came of a message still too short to sort stays in the entry, as a plain message cut
    // off by the stop does; the start of a universal one is no SysEx to keep.
    if (r.in_message && r.sorting) {
        const bool fits =
            r.receive_length + static_cast<int32_t>(r.header_count) <= receive_length_limit;
        if ((r.header_count < 2 || r.header[1] != universal_non_realtime) && fits) {
            append_plain_bytes(r, r.header.data(), r.header_count);
            r.stopped_inside = static_cast<int32_t>(r.header_count);
        }
        r.header_count = 0;
        r.sorting = false;
        r.message_class = MessageClass::skip;
    } else if (was_recording && r.in_message && r.message_class == MessageClass::plain) {
        r.stopped_inside = r.plain_bytes;
    }
    state.status_bits.fetch_and(~status_receiving);
    char text[64];
    std::snprintf(text, sizeof text, "Received: %i bytes.", r.receive_length);
    show(r, &RecordReport::status, text);
    show(r, &RecordReport::receive_button, text_receive);
    if (r.receive_length > 0 || !r.held_plain.empty())
        store_at_stop(r);
    else
        free_receive_buffer(r);
    notify_transfer(state);
}

void record_pieces(Recorder& r, std::span<const SysexPiece> pieces) {
    std::lock_guard lock(r.mutex);
    record_locked(r, pieces);
}

void connect_recorder(MidiPorts& ports, Recorder& recorder) {
    recorder.ports = &ports;
    ports.hooks.recorder = &recorder;
    ports.hooks.record = [](void* r, std::span<const SysexPiece> pieces) {
        record_pieces(*static_cast<Recorder*>(r), pieces);
    };
    ports.hooks.stop_recording = [](void* r) { stop_recording(*static_cast<Recorder*>(r)); };
}

void replay_stream(Recorder& r, const uint8_t* data, size_t length) {
    // In batches, as an input hands them over.
    constexpr size_t batch_size = 256;
    SysexPiece batch[batch_size];
    size_t n = 0;
    SysexFramer framer;
    framer.feed(data, length);
    while (framer.next(batch[n])) {
        if (++n < batch_size) continue;
        record_pieces(r, std::span<const SysexPiece>(batch, n));
        n = 0;
    }
    if (n > 0) record_pieces(r, std::span<const SysexPiece>(batch, n));
}

}  // namespace jx
