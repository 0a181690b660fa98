#include "midi/sds_receive.h"

#include "audio/sds.h"
#include "midi/midi_ports.h"
#include "midi/store_received.h"

namespace jx {

namespace {

int32_t nak_count(const Recorder& r) {
    return r.ports ? r.ports->nak_count.load() : r.sds.nak_count;
}

void set_nak_count(Recorder& r, int32_t count) {
    if (r.ports)
        r.ports->nak_count.store(count);
    else
        r.sds.nak_count = count;
}

uint8_t reply_channel(const Recorder& r) {
    return static_cast<uint8_t>(r.sds.reply_channel);
}
uint8_t reply_packet(const Recorder& r) {
    return static_cast<uint8_t>(r.sds.reply_packet);
}

void reply_ack(Recorder& r) {
    if (r.ports)
        send_hs_ack(*r.ports, reply_channel(r), reply_packet(r));
    else
        r.sds.nak_count = 0;
}

void reply_nak(Recorder& r) {
    if (r.ports) send_hs_nak(*r.ports, reply_channel(r), reply_packet(r));
}

// The fields of a whole dump header, plain (rate from the period) or extended (period from the
// rate); false for one of the wrong length.
bool read_dump_header(const uint8_t* p, size_t length, SdsHeader& h) {
    if (p[3] == sds::dump_header) {
        if (length != sds::header_size) return false;
        h = sds_header_fields(p, length);
        return true;
    }
    // Lengths beyond 32 bits read as the largest that fits: no such dump fits the receive
    // buffer, which fills up and ends the recording long before.
    return length == sds::extended_header_size &&
           sds_parse_extended_header(p, length, h) == message_whole;
}

// A dump header, for every handler: the reply address, then the dump's fields and packet layout.
// A header of the wrong length, with a word size no packet layout fits (outside 1 to 28 bits), with
// other than one channel (where one channel's words end and the next one's begin in the packets
// is nowhere said, and a guess would garble the sample) or, for a file image, without a rate, is
// refused like a bad packet.
int take_dump_header(Recorder& r, SdsRxDump& d, const uint8_t* p, size_t length, bool image) {
    r.sds.reply_channel = p[2];
    r.sds.reply_packet = 0;
    d.open = false;
    SdsHeader h;
    if (!read_dump_header(p, length, h)) return sds_rx_rejected;
    if (h.bits < 1 || h.bits > sds::max_bits) return sds_rx_rejected;
    if (h.channels != 1) return sds_rx_rejected;
    if (image && h.rate <= 0) return sds_rx_rejected;
    d.bits = h.bits;
    d.period = h.period;
    d.length = h.length;
    d.loop_start = h.loop_start;
    d.loop_end = h.loop_end;
    d.loop_type = h.loop_type;
    d.expected_packet = 0;
    d.sample_count = 0;
    const SdsPacking packing = sds_packing(h.bits);
    d.bytes_per_word = packing.bytes_per_word;
    d.words_per_packet = packing.words_per_packet;
    d.rate = h.rate;
    d.file_bytes = file_bytes_per_sample(h.bits);
    d.open = true;
    return sds_rx_header_taken;
}

// A data packet, for every handler: 0 when it is the one expected, else the result. A packet
// while no dump is open (no header taken, or one refused) cannot be placed: it is refused, so
// that the device hears that nothing of it is kept.
int place_packet(Recorder& r, SdsRxDump& d, const uint8_t* p, size_t length) {
    r.sds.reply_packet = d.expected_packet;
    if (!d.open) return sds_rx_rejected;
    if (length != sds::packet_size) return sds_rx_rejected;
    if (p[4] != d.expected_packet) return sds_rx_rejected;
    return 0;
}

// As place_packet, and 0 only for an intact packet; the next one is expected then.
int check_packet(Recorder& r, SdsRxDump& d, const uint8_t* p, size_t length) {
    const int result = place_packet(r, d, p, length);
    if (result != 0) return result;
    if (sds_packet_checksum(p) != p[125]) return sds_rx_rejected;
    d.expected_packet = (p[4] + 1) & 0x7F;
    return 0;
}

// Appends an intact packet to the receive buffer, its checksum taken as it is copied; false for
// a damaged one, of which nothing is kept.
bool append_intact_packet(Recorder& r, const uint8_t* p) {
    const size_t room = static_cast<size_t>(receive_length_limit - r.receive_length);
    if (room < sds::packet_size) {
        if (sds_packet_checksum(p) != p[125]) return false;
        append_received_bytes(r, p, sds::packet_size);
        return true;
    }
    // Copied past the data held; it counts only when intact.
    if (sds_copy_packet(p, r.buffer.get() + 8 + r.receive_length) != p[125]) return false;
    r.receive_length += static_cast<int32_t>(sds::packet_size);
    return true;
}

int sub_id(const uint8_t* p, size_t length) {
    return length >= 5 ? p[3] : -1;
}

// Either dump header: the plain one (01) or the extended one (05 05).
bool is_dump_header(const uint8_t* p, size_t length) {
    const int id = sub_id(p, length);
    return id == sds::dump_header || (id == sds::extended && p[4] == sds::extended_header);
}

// A whole sample name message right after the header of the dump it names, before any packet was
// taken. One longer than the universal buffer was not kept whole and is left out.
bool names_open_dump(const SdsRxDump& d, const uint8_t* p, size_t length) {
    SdsSampleName name;
    return d.open && d.expected_packet == 0 && d.sample_count == 0 &&
           length <= universal_buffer_size && sub_id(p, length) == sds::extended &&
           sds_parse_sample_name(p, length, name) == message_whole;
}

// Decodes the packet's samples into the image: each left-justified in the file's bytes, offset
// to signed except 8-bit WAV data, least significant byte first for WAV, most for AIFF.
int decode_packet(Recorder& r, SdsRxDump& d, const uint8_t* p, bool aiff) {
    const int32_t w = d.bytes_per_word;
    const int32_t fb = d.file_bytes;
    const uint32_t offset = aiff || fb > 1 ? uint32_t{1} << (d.bits - 1) : 0;
    uint8_t out[sds::max_words_per_packet * 4];
    size_t n = 0;
    for (int32_t k = 0; k < d.words_per_packet && d.sample_count < d.length; ++k) {
        const uint8_t* word = p + 5 + k * w;
        uint32_t raw = 0;
        for (int32_t j = 0; j < w; ++j) raw = raw << 7 | (word[j] & 0x7F);
        const uint32_t value = ((raw >> (7 * w - d.bits)) - offset) << (8 * fb - d.bits);
        for (int32_t b = 0; b < fb; ++b)
            out[n++] = static_cast<uint8_t>(value >> (8 * (aiff ? fb - 1 - b : b)));
        ++d.sample_count;
    }
    append_received_bytes(r, out, n);
    if (d.sample_count < d.length) return sds_rx_more_due;
    d.open = false;
    return sds_rx_complete;
}

int rx_image(Recorder& r, SdsRxDump& d, const uint8_t* p, size_t length, bool aiff) {
    const int id = sub_id(p, length);
    if (is_dump_header(p, length)) {
        const int result = take_dump_header(r, d, p, length, true);
        if (result != sds_rx_header_taken) return result;
        uint8_t header[max_image_header_size];
        const size_t n = aiff ? build_aiff_header(d, header) : build_wav_header(d, header);
        append_received_bytes(r, header, n);
        return result;
    }
    if (id == sds::data_packet) {
        const int result = check_packet(r, d, p, length);
        return result != 0 ? result : decode_packet(r, d, p, aiff);
    }
    // An image has no room for the sample name message: it names the entry instead, as the
    // KVR-9ZB name message does.
    SdsSampleName name;
    if (names_open_dump(d, p, length) && sds_parse_sample_name(p, length, name) == message_whole) {
        r.pending_sample_name.clear();
        for (char c : name.name) r.pending_sample_name += static_cast<char>(c & 0x7F);
    }
    return id;
}

}  // namespace

int sds_rx_syx(Recorder& r, const uint8_t* p, size_t length) {
    SdsRxDump& d = r.sds.syx;
    const int id = sub_id(p, length);
    if (is_dump_header(p, length)) {
        const int result = take_dump_header(r, d, p, length, false);
        if (result == sds_rx_header_taken) append_received_bytes(r, p, length);
        return result;
    }
    if (id == sds::data_packet) {
        const int result = place_packet(r, d, p, length);
        if (result != 0) return result;
        if (!append_intact_packet(r, p)) return sds_rx_rejected;
        d.expected_packet = (p[4] + 1) & 0x7F;
        d.sample_count += d.words_per_packet;
        if (d.sample_count < d.length) return sds_rx_more_due;
        d.open = false;
        return sds_rx_complete;
    }
    // The name travels with the dump: it is kept as it came, so the dump stays as it was sent.
    if (names_open_dump(d, p, length)) append_received_bytes(r, p, length);
    return id;
}

int sds_rx_wav(Recorder& r, const uint8_t* p, size_t length) {
    return rx_image(r, r.sds.wav, p, length, false);
}

int sds_rx_aiff(Recorder& r, const uint8_t* p, size_t length) {
    return rx_image(r, r.sds.aiff, p, length, true);
}

bool sds_receive(Recorder& r, const uint8_t* p, size_t length) {
    const int32_t format = r.settings->rec_format;
    const bool handshake = r.settings->ignore_hs == 0;
    const bool header = is_dump_header(p, length);
    if (header && r.receive_length > 0) {
        // What came before the new dump becomes an entry of its own.
        if (format != rec_none) {
            store_received_dump(r, r.pending_name);
            // SysEx held back while an image was open starts the new buffer; it is no part of
            // the new dump either, so it is stored on its own, unnamed, as after a whole image.
            r.pending_sample_name.clear();
            store_received_dump(r, 0);
        }
        set_nak_count(r, 0);
    }
    if (header) {
        r.pending_name = 0;
        r.pending_sample_name.clear();
    }
    if (!is_recording(r)) return false;  // no memory for a new buffer: recording has ended
    const int result = format == rec_wav    ? sds_rx_wav(r, p, length)
                       : format == rec_aiff ? sds_rx_aiff(r, p, length)
                                            : sds_rx_syx(r, p, length);
    // The buffer filled up while the message was taken: it ends here, with no answer but the
    // CANCEL of the stop.
    if (r.buffer_full) return true;
    if (result == sds_rx_complete) {
        r.message_class = MessageClass::skip;
        if (handshake) reply_ack(r);
        if (format != rec_none) store_received_dump(r, r.pending_name);
        // The name was this dump's: SysEx that follows it is no part of it.
        r.pending_name = 0;
        r.pending_sample_name.clear();
    } else if (result == sds_rx_rejected) {
        if (!handshake) return true;
        const int32_t before = nak_count(r);
        set_nak_count(r, before + 1);
        // The third rejection in a row gives up; stopping sends the device a CANCEL.
        if (before >= 2) return true;
        reply_nak(r);
    } else if (handshake) {
        reply_ack(r);
    }
    return false;
}

}  // namespace jx
