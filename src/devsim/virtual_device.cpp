#include "devsim/virtual_device.h"

#include <algorithm>

#include "audio/sds.h"
#include "audio/zbname.h"
#include "platform/midi/sysex.h"
#include "platform/store/settings.h"

namespace jx {

namespace {

bool is_turbo(const std::vector<uint8_t>& message) {
    return message.size() >= 8 && std::equal(std::begin(turbo_message_start),
                                             std::end(turbo_message_start), message.begin());
}

}  // namespace

ReceivedSample sample_of_header(const SdsHeader& header, bool extended) {
    ReceivedSample sample;
    sample.sample_number = header.sample_number;
    sample.bits = header.bits;
    sample.period = header.period;
    sample.rate = extended ? header.rate : sds_rate_from_period(header.period);
    sample.length = header.length;
    sample.loop_start = header.loop_start;
    sample.loop_end = header.loop_end;
    sample.loop_type = header.loop_type;
    sample.extended = extended;
    sample.complete = header.length == 0;
    return sample;
}

void take_packet_words(ReceivedSample& sample, const uint8_t* packet) {
    int32_t words[sds::max_words_per_packet];
    const int count = sds_decode_packet(packet, sample.bits, words);
    const size_t due = static_cast<size_t>(sample.length) - sample.words.size();
    sample.words.insert(sample.words.end(), words, words + std::min<size_t>(count, due));
}

VirtualDevice::VirtualDevice(DeviceLink& link, DeviceConfig config)
    : link_(link), config_(config) {}

DeviceRecord VirtualDevice::record() const {
    std::lock_guard lock(mutex_);
    return record_;
}

void VirtualDevice::with_record(const std::function<void(const DeviceRecord&)>& look) const {
    std::lock_guard lock(mutex_);
    look(record_);
}

void VirtualDevice::set_faults(const DeviceFaults& faults) {
    std::lock_guard lock(mutex_);
    config_.faults = faults;
    nak_done_ = false;
}

void VirtualDevice::clear() {
    std::lock_guard lock(mutex_);
    const int32_t speed_index = record_.speed_index;
    record_ = DeviceRecord{};
    record_.speed_index = speed_index;
    in_dump_ = false;
    nak_done_ = false;
}

void VirtualDevice::receive(const uint8_t* data, size_t length) {
    std::lock_guard lock(mutex_);
    framer_.feed(data, length);
    SysexPiece piece;
    while (!record_.unplugged && framer_.next(piece)) take_piece(piece);
}

void VirtualDevice::take(std::span<const SysexPiece> pieces) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < pieces.size() && !record_.unplugged; ++i) take_piece(pieces[i]);
}

void VirtualDevice::take_piece(const SysexPiece& piece) {
    if (piece.kind == SysexPiece::start) {
        collecting_.assign(1, sysex_start);
    } else if (piece.kind == SysexPiece::data) {
        collecting_.insert(collecting_.end(), piece.bytes, piece.bytes + piece.size);
    } else if (piece.kind == SysexPiece::end) {
        collecting_.push_back(sysex_end);
        take_message(collecting_);
    }
    // A message cut short by a status byte is dropped.
}

void VirtualDevice::take_message(const std::vector<uint8_t>& message) {
    if (config_.keep_messages) record_.messages.push_back(message);
    if (message.size() >= 4 && message[1] == universal_non_realtime) {
        take_sds(message);
    } else if (is_turbo(message)) {
        take_turbo(message);
    } else {
        ZbName name;
        if (parse_zbname(message.data(), message.size(), name) == message_whole) {
            // The name belongs to the dump of that sample number, taken just before.
            for (auto it = record_.samples.rbegin(); it != record_.samples.rend(); ++it) {
                if ((it->sample_number & 0xFF) == name.sample_number) {
                    it->zbname = name.chars;
                    break;
                }
            }
            return;
        }
        record_.sysex.push_back(message);
    }
}

void VirtualDevice::take_turbo(const std::vector<uint8_t>& message) {
    const uint8_t id = message[6];
    if (id != turbo_query_id && id != turbo_request_id) return;
    if (id == turbo_request_id) {
        record_.speed_index = std::clamp<int>(message[7], 1, config_.highest_speed_index);
    }
    std::vector<uint8_t> reply(std::begin(turbo_message_start), std::end(turbo_message_start));
    reply.insert(reply.end(),
                 {turbo_answer_id, static_cast<uint8_t>(record_.speed_index), sysex_end});
    say(reply, config_.faults.answer_delay);
    // The answer still goes at the old speed; what follows at the new one.
    link_.set_speed(turbo_speed_of_index(record_.speed_index));
}

void VirtualDevice::take_sds(const std::vector<uint8_t>& message) {
    if (message[2] != config_.channel) return;  // a dump for another device
    if (message[3] == sds::dump_header) {
        take_header(message, false);
    } else if (message[3] == sds::extended && message.size() >= 5 &&
               message[4] == sds::extended_header) {
        take_header(message, true);
    } else if (message[3] == sds::extended && message.size() >= 5 &&
               message[4] == sds::sample_name) {
        SdsSampleName name;
        if (sds_parse_sample_name(message.data(), message.size(), name) == message_whole) {
            if (!record_.samples.empty()) record_.samples.back().name = name.name;
            // Answered as the dump header is: the sender waits for it before the first packet.
            dump_channel_ = message[2];
            if (!silent_at(-1)) answer(sds::ack, static_cast<uint8_t>(expected_packet_));
        }
    } else if (message[3] == sds::data_packet) {
        take_packet(message);
    } else if (message[3] == sds::dump_request) {
        take_request(message);
    } else if (message[3] >= sds::wait) {
        // A CANCEL while a dump comes in is its sender giving up; the rest are the receiver's
        // answers to a dump the device sends.
        if (message[3] == sds::cancel && in_dump_) {
            record_.samples.back().cancelled = true;
            in_dump_ = false;
        }
        take_answer(message);
    }
}

void VirtualDevice::take_header(const std::vector<uint8_t>& message, bool extended) {
    SdsHeader header;
    const MessageRead parsed =
        extended ? sds_parse_extended_header(message.data(), message.size(), header)
                 : sds_parse_header(message.data(), message.size(), header);
    if (parsed != message_whole || header.bits < sds::min_bits || header.bits > sds::max_bits)
        return;
    ReceivedSample sample = sample_of_header(header, extended);
    if (in_dump_) record_.samples.back().cut_off = true;
    if (sample.complete) held_[sample.sample_number] = sample;
    record_.samples.push_back(std::move(sample));
    in_dump_ = header.length > 0;
    expected_packet_ = 0;
    dump_packets_ = 0;
    dump_channel_ = message[2];
    nak_done_ = false;
    if (config_.faults.unplug_packet == -1) {
        record_.unplugged = true;
        link_.unplug();
        return;
    }
    if (config_.faults.cancel_packet == -1) {
        answer(sds::cancel, 0);
        record_.samples.back().cancelled = true;
        in_dump_ = false;
        return;
    }
    if (silent_at(-1)) return;
    answer(sds::ack, 0, config_.faults.header_delay);
}

void VirtualDevice::take_packet(const std::vector<uint8_t>& message) {
    SdsPacket packet;
    if (!in_dump_ || sds_parse_packet(message.data(), message.size(), packet) != message_whole)
        return;
    const DeviceFaults& faults = config_.faults;
    const int k = dump_packets_;
    if (faults.unplug_packet == k) {
        record_.unplugged = true;
        link_.unplug();
        return;
    }
    if (silent_at(k)) return;
    if (faults.cancel_packet == k) {
        answer(sds::cancel, static_cast<uint8_t>(expected_packet_));
        record_.samples.back().cancelled = true;
        in_dump_ = false;
        return;
    }
    const bool fault_nak = faults.nak_packet == k && (faults.nak_always || !nak_done_);
    if (fault_nak || packet.packet_number != expected_packet_ || !packet.checksum_ok) {
        if (fault_nak) nak_done_ = true;
        const int named = expected_packet_ + (fault_nak ? faults.nak_offset : 0);
        answer(sds::nak, static_cast<uint8_t>(named & 0x7F));
        return;
    }
    ReceivedSample& sample = record_.samples.back();
    take_packet_words(sample, message.data());
    ++record_.packets_taken;
    ++dump_packets_;
    const uint8_t number = static_cast<uint8_t>(expected_packet_);
    expected_packet_ = (expected_packet_ + 1) & 0x7F;
    if (sample.words.size() >= static_cast<size_t>(sample.length)) {
        sample.complete = true;
        in_dump_ = false;
        held_[sample.sample_number] = sample;
    }
    if (faults.wait_packet == k) {
        answer(sds::wait, number);
        answer(sds::ack, number, faults.wait_time);
        return;
    }
    answer(sds::ack, number);
}

bool VirtualDevice::silent_at(int packet) const {
    return config_.faults.silent_from && packet >= *config_.faults.silent_from;
}

void VirtualDevice::answer(uint8_t type, uint8_t packet, std::chrono::milliseconds extra_delay) {
    const uint8_t channel = config_.faults.other_channel
                                ? static_cast<uint8_t>((dump_channel_ + 1) & 0x7F)
                                : dump_channel_;
    const auto reply = sds_handshake(type, channel, packet);  // WAIT has the same layout
    say(std::vector<uint8_t>(reply.begin(), reply.end()),
        config_.faults.answer_delay + extra_delay);
}

void VirtualDevice::say(const std::vector<uint8_t>& message, std::chrono::milliseconds delay) {
    record_.answers.push_back(message);
    link_.send(message.data(), message.size(), delay);
}

}  // namespace jx
