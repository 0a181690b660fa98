// The virtual device's own sends: SysEx streams and sample dumps under the handshake, run on the
// device's sender thread. The receiver's answers come in through receive() (take_answer) and
// wake the sender; a message's answer is awaited from the moment it has left the cable.
#include <algorithm>

#include "audio/sample_file.h"
#include "audio/sample_words.h"
#include "audio/sds_convert.h"
#include "devsim/virtual_device.h"

namespace jx {

using Clock = std::chrono::steady_clock;

namespace {

// The F0..F7 messages of a stream; bytes outside them and an unfinished tail are not sent.
std::vector<std::vector<uint8_t>> sysex_messages(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> messages;
    auto at = stream.begin();
    while (true) {
        at = std::find(at, stream.end(), sysex_start);
        if (at == stream.end()) break;
        auto end = std::find(at, stream.end(), sysex_end);
        if (end == stream.end()) break;
        messages.emplace_back(at, end + 1);
        at = end + 1;
    }
    return messages;
}

// A fault asked for at `packet` that is due now: the first time only, or every time.
bool fault_due(const std::optional<int>& at, int packet, bool always, bool& done) {
    if (at != packet || (done && !always)) return false;
    done = true;
    return true;
}

}  // namespace

const char* send_result_text(SendResult result) {
    switch (result) {
        case SendResult::running:
            return "running";
        case SendResult::sent:
            return "sent";
        case SendResult::open_loop:
            return "open loop";
        case SendResult::cancelled:
            return "cancelled";
        case SendResult::gave_up:
            return "gave up";
        case SendResult::stopped:
            return "stopped";
        case SendResult::failed:
            return "failed";
    }
    return "";
}

std::string sample_from_file(const uint8_t* data, size_t length, ReceivedSample& sample) {
    SampleConversion c;
    c.kind = sample_kind_of(data, length);
    if (c.kind == 0) return "not a WAV, AIFF or AIFC file";
    // The dump the program sends of it, read back: the same words, loop and rate.
    bool header_read = false;
    sample = ReceivedSample{};
    const size_t total = convert_whole_sample(
        c, data, length, 0, std::nullopt, [&](const uint8_t* message, size_t size) {
            if (header_read) return take_packet_words(sample, message);
            SdsHeader header;
            header_read = sds_parse_header(message, size, header) == message_whole;
            sample = sample_of_header(header, false);
        });
    if (total == 0 || !header_read) return c.problem.empty() ? "it cannot be read" : c.problem;
    sample.complete = true;
    return "";
}

VirtualDevice::~VirtualDevice() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    sender_wake_.notify_all();
    if (sender_.joinable()) sender_.join();
}

void VirtualDevice::send_sysex(std::vector<uint8_t> stream, std::string file) {
    SendJob job;
    job.outcome.file = std::move(file);
    job.stream = std::move(stream);
    std::lock_guard lock(mutex_);
    queue_send(std::move(job));
}

void VirtualDevice::send_sample(ReceivedSample sample, int32_t number, std::string file) {
    SendJob job;
    job.outcome.file = std::move(file);
    job.outcome.dump = true;
    job.outcome.number = number;
    job.sample = std::move(sample);
    std::lock_guard lock(mutex_);
    queue_send(std::move(job));
}

std::string VirtualDevice::send_file(std::vector<uint8_t> bytes, int32_t number, std::string file) {
    if (!is_sample(bytes.data(), bytes.size())) {
        send_sysex(std::move(bytes), std::move(file));
        return "";
    }
    ReceivedSample sample;
    std::string problem = sample_from_file(bytes.data(), bytes.size(), sample);
    if (problem.empty()) send_sample(std::move(sample), number, std::move(file));
    return problem;
}

void VirtualDevice::hold_sample(ReceivedSample sample, int32_t number) {
    std::lock_guard lock(mutex_);
    held_[number] = std::move(sample);
}

bool VirtualDevice::wait_sends_done(Clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    return sends_done_.wait_until(lock, deadline, [this] { return jobs_.empty() && !sending_; });
}

void VirtualDevice::set_send_observer(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

// With the mutex held. The thread starts with the first send.
void VirtualDevice::queue_send(SendJob job) {
    if (quit_) return;
    jobs_.push_back(std::move(job));
    if (!sender_.joinable()) sender_ = std::thread([this] { run_sender(); });
    sender_wake_.notify_all();
}

void VirtualDevice::take_request(const std::vector<uint8_t>& message) {
    if (message.size() < 7) return;
    const int32_t number = (message[4] & 0x7F) | (message[5] & 0x7F) << 7;
    const auto held = held_.find(number);
    record_.requests.push_back({number, held != held_.end()});
    if (held == held_.end()) return;
    SendJob job;
    job.outcome.dump = true;
    job.outcome.number = number;
    job.sample = held->second;
    queue_send(std::move(job));
}

void VirtualDevice::take_answer(const std::vector<uint8_t>& message) {
    if (!listening_) return;
    answers_.push_back(message);
    sender_wake_.notify_all();
}

void VirtualDevice::run_sender() {
    Lock lock(mutex_);
    while (true) {
        sender_wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
        if (quit_) break;
        SendJob job = std::move(jobs_.front());
        jobs_.pop_front();
        sending_ = true;
        record_.sends.push_back(job.outcome);
        const size_t index = record_.sends.size() - 1;
        tell_observer(lock);
        SendOutcome outcome = job.outcome;
        if (job.outcome.dump)
            send_dump(lock, job, outcome);
        else
            send_stream(lock, job, outcome);
        if (index < record_.sends.size())
            record_.sends[index] = outcome;
        else
            record_.sends.push_back(outcome);  // clear() ran meanwhile
        sending_ = false;
        listening_ = false;
        answers_.clear();
        sends_done_.notify_all();
        tell_observer(lock);
    }
    // Sends still queued never start.
    jobs_.clear();
    sending_ = false;
    sends_done_.notify_all();
}

void VirtualDevice::tell_observer(Lock& lock) {
    const std::function<void()> observer = observer_;
    if (!observer) return;
    lock.unlock();
    observer();
    lock.lock();
}

void VirtualDevice::send_own(const std::vector<uint8_t>& message, SendOutcome& outcome) {
    record_.sent.push_back(message);
    ++outcome.messages;
    link_.send(message.data(), message.size(), std::chrono::milliseconds(0));
}

void VirtualDevice::send_stream(Lock& lock, const SendJob& job, SendOutcome& outcome) {
    const auto messages = sysex_messages(job.stream);
    if (messages.empty()) {
        outcome.result = SendResult::failed;
        outcome.problem = "no SysEx message (F0 ... F7) in it";
        return;
    }
    for (const auto& message : messages) {
        if (record_.unplugged) {
            outcome.result = SendResult::stopped;
            return;
        }
        send_own(message, outcome);
        // One message on the cable at a time, so that the device's answers to a dump it takes
        // meanwhile never queue behind a whole file.
        if (sender_wake_.wait_until(lock, link_.all_sent_at(), [this] { return quit_; })) {
            outcome.result = SendResult::stopped;
            return;
        }
    }
    outcome.result = SendResult::sent;
}

std::optional<SdsHandshake> VirtualDevice::await_answer(Lock& lock, Clock::time_point deadline) {
    while (true) {
        if (!sender_wake_.wait_until(lock, deadline, [this] { return quit_ || !answers_.empty(); }))
            return std::nullopt;
        if (quit_) return std::nullopt;
        const std::vector<uint8_t> message = std::move(answers_.front());
        answers_.pop_front();
        SdsHandshake reply;
        if (sds_parse_handshake(message.data(), message.size(), config_.channel, reply) ==
            message_whole)
            return reply;
    }
}

void VirtualDevice::send_dump(Lock& lock, const SendJob& job, SendOutcome& outcome) {
    const ReceivedSample& sample = job.sample;
    SdsDump dump;
    dump.sample.bits = sample.bits;
    dump.sample.channels = 1;
    dump.sample.period = sample.period;
    dump.sample.rate = sample.rate;
    dump.sample.length = sample.length;
    dump.sample.loop_start = sample.loop_start;
    dump.sample.loop_end = sample.loop_end;
    dump.sample.loop_type = sample.loop_type;
    const SendFaults& faults = config_.send_faults;
    outcome.problem = sds_header_problem(dump.sample, outcome.number, loop_file, false);
    if (outcome.problem.empty() && (sample.bits < sds::min_bits || sample.bits > sds::max_bits))
        outcome.problem = "its bits per word cannot be dumped";
    if (!outcome.problem.empty()) {
        outcome.result = SendResult::failed;
        return;
    }
    sds_begin_dump(dump, outcome.number, config_.channel);
    sds_build_header(dump, loop_file, std::nullopt);
    const std::vector<uint8_t> header(dump.header.begin(),
                                      dump.header.begin() + dump.header_length);
    std::vector<uint8_t> zero_period_header = header;
    std::fill(zero_period_header.begin() + 7, zero_period_header.begin() + 10, 0);

    const int wpp = dump.words_per_packet;
    const int total = static_cast<int>((static_cast<int64_t>(sample.length) + wpp - 1) / wpp);
    bool zero_done = false, checksum_done = false, number_done = false, cut_done = false,
         plain_done = false;
    const auto build = [&](int index) {
        dump.committed_packet_number = index & 0x7F;
        dump.committed_sample_position = index * wpp;
        for (int k = 0; k < wpp; ++k) {
            const size_t at = static_cast<size_t>(index) * wpp + k;
            dump.words[k] = at < sample.words.size() ? sample.words[at] : 0;
        }
        sds_build_packet(dump);
        std::vector<uint8_t> packet(dump.packet.begin(), dump.packet.begin() + sds::packet_size);
        if (fault_due(faults.wrong_number, index, faults.always, number_done)) {
            packet[4] = (packet[4] + 1) & 0x7F;
            packet[125] = sds_packet_checksum(packet.data());
        }
        if (fault_due(faults.bad_checksum, index, faults.always, checksum_done)) packet[125] ^= 1;
        if (fault_due(faults.cut_short, index, faults.always, cut_done)) {
            packet.resize(64);
            packet.back() = sysex_end;
        }
        return packet;
    };

    listening_ = true;
    answers_.clear();
    bool handshake = true;  // answers are awaited
    bool answered = true;   // every message was answered so far
    int naks_in_row = 0;
    int current = -1;  // the header, then the packet sent last
    int highest = -1;  // the furthest packet sent
    const auto give_up = [&](SendResult result) {
        outcome.result = result;
        if (result == SendResult::gave_up) {
            const auto cancel = sds_handshake(sds::cancel, config_.channel,
                                              static_cast<uint8_t>(std::max(current, 0) & 0x7F));
            send_own(std::vector<uint8_t>(cancel.begin(), cancel.end()), outcome);
        }
    };
    // Nothing more is sent; only a CANCEL from the receiver (or the device's end) ends the dump.
    const auto stall = [&] {
        outcome.stalled = true;
        if (!record_.sends.empty()) record_.sends.back().stalled = true;
        tell_observer(lock);
        while (!quit_) {
            const std::optional<SdsHandshake> reply =
                await_answer(lock, Clock::now() + std::chrono::hours(1));
            if (reply && reply->type == sds::cancel) return give_up(SendResult::cancelled);
        }
        give_up(SendResult::stopped);
    };
    // A CANCEL among the answers not looked at yet (one that came right behind an ACK) ends the
    // dump as one that came alone does; the other answers left over belong to nothing now.
    const auto cancel_waiting = [&] {
        for (const auto& message : answers_) {
            SdsHandshake reply;
            if (sds_parse_handshake(message.data(), message.size(), config_.channel, reply) ==
                    message_whole &&
                reply.type == sds::cancel)
                return true;
        }
        return false;
    };
    int next = -1;
    while (next < total) {
        if (quit_ || record_.unplugged) return give_up(SendResult::stopped);
        if (cancel_waiting()) return give_up(SendResult::cancelled);
        answers_.clear();
        if (next < 0) {
            const bool zero = faults.zero_period && (faults.always || !zero_done);
            zero_done = true;
            send_own(zero ? zero_period_header : header, outcome);
        } else {
            if (faults.unplug_before == next) {
                record_.unplugged = true;
                link_.unplug();
                return give_up(SendResult::stopped);
            }
            if (faults.stall_before == next) return stall();
            if (fault_due(faults.plain_before, next, faults.always, plain_done))
                send_own(std::vector<uint8_t>(stray_sysex.begin(), stray_sysex.end()), outcome);
            send_own(build(next), outcome);
            ++outcome.packets;
        }
        current = next;
        highest = std::max(highest, current);
        const Clock::time_point left = link_.all_sent_at();
        if (!handshake) {
            // Paced by the wire only; a CANCEL still ends the dump.
            sender_wake_.wait_until(lock, left, [this] { return quit_; });
            if (cancel_waiting()) return give_up(SendResult::cancelled);
            ++next;
            continue;
        }
        const auto limit = current < 0 ? config_.header_timeout : config_.packet_timeout;
        std::optional<SdsHandshake> reply = await_answer(lock, left + limit);
        while (reply && reply->type == sds::wait)
            if (!(reply = await_answer(lock, Clock::now() + config_.wait_timeout)))
                return give_up(quit_ ? SendResult::stopped : SendResult::gave_up);
        if (quit_) return give_up(SendResult::stopped);
        if (!reply) {
            // No answer in time: the rest of the dump goes without the handshake.
            handshake = false;
            answered = false;
            ++next;
            continue;
        }
        if (reply->type == sds::cancel) return give_up(SendResult::cancelled);
        if (reply->type == sds::ack) {
            naks_in_row = 0;
            ++next;
            continue;
        }
        // NAK: from the latest packet of that number among the last 128 sent, else this one.
        ++outcome.naks;
        if (++naks_in_row > config_.max_resends) return give_up(SendResult::gave_up);
        next = current;
        for (int k = highest; k >= 0 && k > highest - 128; --k) {
            if ((k & 0x7F) == reply->packet_number) {
                next = k;
                break;
            }
        }
    }
    outcome.result = answered ? SendResult::sent : SendResult::open_loop;
}

}  // namespace jx
