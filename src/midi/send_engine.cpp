#include "midi/send_engine.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "audio/sample_words.h"
#include "audio/sds.h"
#include "audio/sds_convert.h"
#include "platform/os/text.h"
#include "transfer/entry_info.h"

namespace jx {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// hs_mode values: 2 while the answer to a dump header is awaited, with the longer limit; 1 once
// it came (an ACK), with the short one. A NAK to the header keeps 2.
constexpr int hs_mode_unlimited = 2;

// An answer is awaited this long, and a WAIT allows this much more.
constexpr milliseconds answer_time{65};
constexpr milliseconds wait_time{5000};
// The answer to a dump header, which a device may take a while to give (it may first have to
// make room for the sample, also after storing the one before), is awaited this long: a device that
// never answers (a wrong input, or one without the handshake) ends the send as a time-out instead
// of holding it forever.
constexpr milliseconds header_answer_time{2000};

bool cancelled(const TransferState& state) {
    return state.cancel_request.load() != 0;
}

bool is_sample_entry(const Entry& entry) {
    const EntryType type = entry_type(entry);
    return type == EntryType::wav || type == EntryType::aiff || type == EntryType::aifc;
}

template <typename Change>
void publish(SendContext& context, Change change) {
    if (context.progress) context.progress->publish(change);
}

// The state of one run of the thread.
struct Send {
    SendContext& context;
    TransferState& state;
    MidiOutput* out;
    DeviceAnswers& answers;  // what the input took of the device's answers, on this thread
    MidiSent sent;           // the message sent last, until it has left the cable
    bool waiting = false;    // `sent` may still be on the cable
    int hs_mode = hs_mode_unlimited;
    int32_t sample_number = 0;
    const uint8_t* last_message = nullptr;
    size_t last_length = 0;
    bool dump_open = false;  // a dump header went out and its dump has not ended
};

// Waits until the message sent last has left the cable; with stop_on_cancel, no longer than a
// stop request. True when it has left.
bool wait_released(Send& send, bool stop_on_cancel) {
    if (!send.waiting) return true;
    if (!wait_released(send.state, *send.out, send.sent, stop_on_cancel)) return false;
    send.waiting = false;
    return true;
}

// The stop path. The flags drop before any control is touched: shutdown waits for
// cancel_request on the window thread without serving the window.
// A dump ended by this side (Stop Send, a time-out, an unmatched NAK) tells the device with a
// CANCEL, so that it does not wait for packets that never come; one the device cancelled
// itself does not.
void stop_path(Send& send) {
    TransferState& state = send.state;
    const bool remote = (state.status_bits.load() & status_remote_cancel) != 0;
    state.sending.store(0);
    state.cancel_request.store(0);
    notify_transfer(state);
    state.status_bits.fetch_and(~status_sending);
    publish(send.context, [](SendReport& report) {
        report.button = text_send;
        report.list_enabled = true;
    });
    wait_released(send, false);
    if (send.dump_open && !remote) {
        // A port that is gone (the reason the answers stopped) makes this courtesy fail quietly,
        // as the time-out ends the send without a message.
        const bool packet = send.last_message && send.last_length == sds::packet_size;
        const auto cancel = sds_handshake(sds::cancel, send.context.settings->sds_dev,
                                          packet ? send.last_message[4] : 0);
        send.sent = send.out->send(cancel.data(), cancel.size());
        send.waiting = send.sent.ok();
        wait_released(send, false);
    }
    send.dump_open = false;
}

// The port-error path: the error recorded as the ports record theirs (the window shows it in a
// message box), the send ended, and the input reopened before the next one.
void port_error_path(Send& send, const MidiError& error) {
    publish(send.context, [](SendReport& report) { report.button = text_send; });
    send.state.reopen_in_before_send.store(1);
    message_failed(*send.context.ports, error, PortFault::out_send);
}

enum class Sent { ok, stop, port_error };

// Sends one message and waits until it has left the cable.
Sent send_message(Send& send, const uint8_t* message, size_t length) {
    TransferState& state = send.state;
    send.answers.reply = hs_none;
    send.sent = send.out->send(message, length);
    if (!send.sent.ok()) return Sent::port_error;
    send.waiting = true;
    const int32_t delay = send.context.settings->midi_del;
    if (delay > 0) {
        wait_transfer_until(state, Clock::now() + milliseconds(delay),
                            [&] { return cancelled(state); });
    }
    wait_released(send, true);
    return Sent::ok;
}

// The progress of the entry after a message.
void show_progress(TransferState& state, size_t pos, size_t len) {
    state.status_bits.fetch_or(status_sending);
    state.sent_count.store(static_cast<int32_t>(pos));
    // A last packet may carry the position past the sample's end: the bar stops at 100.
    if (len > 0)
        state.progress_percent.store(static_cast<int32_t>(std::min<size_t>(pos * 100 / len, 100)));
}

// Waits for the device's answer to the message sent last, as hs_mode says: the first answer of
// a run (to a dump header) within header_answer_time, then each within answer_time; a WAIT
// allows wait_time more. Sets cancel_request when the answer does not come in time.
void await_answer(Send& send, size_t pos) {
    TransferState& state = send.state;
    DeviceAnswers& answers = send.answers;
    const bool first = send.hs_mode == hs_mode_unlimited;
    if (first && pos == 0) return;
    Clock::time_point deadline = Clock::now() + (first ? header_answer_time : answer_time);
    for (;;) {
        const bool seen = wait_transfer_until(state, deadline, [&] {
            return answers.reply != hs_none || cancelled(state) || answers.wait;
        });
        if (answers.reply != hs_none || cancelled(state)) {
            if (!seen) state.cancel_request.store(1);  // the answer came too late
            if (first && !cancelled(state)) send.hs_mode = answers.reply;
            return;
        }
        if (!seen) {
            state.cancel_request.store(1);
            return;
        }
        answers.wait = false;
        deadline = Clock::now() + wait_time;
    }
}

// The length of the first of the messages that goes out on its own: a universal message (the dump
// header, the sample name message, a data packet) is answered by the device, so each goes after
// the answer to the one before; a maker message that follows one (the KVR-9ZB name) is not
// answered and goes with it.
size_t answered_part(const uint8_t* messages, size_t length) {
    for (size_t at = 1; at + 1 < length; ++at)
        if (messages[at] == sysex_start && messages[at + 1] == universal_non_realtime) return at;
    return length;
}

// Sends one entry; false when the thread has ended (stop or port-error path).
bool send_entry(Send& send, const Entry& entry, const std::string& name, size_t& pos) {
    SendContext& context = send.context;
    TransferState& state = send.state;
    const Settings& settings = *context.settings;
    const bool sample = is_sample_entry(entry);
    state.sending_sample.store(0);
    SampleConversion conversion;
    uint32_t name_value = 0;
    std::optional<std::string> name_text;
    if (sample) {
        conversion.kind = sample_kind_of(entry.bytes(), entry.length());
        if (is_mode_option(entry.loop_option))
            conversion.loop_mode = loop_mode_of(entry.loop_option);
        if (is_mode_option(entry.channel_option))
            conversion.channel_mode = channel_mode_of(entry.channel_option);
        conversion.sample_number = send.sample_number;
        conversion.device = settings.sds_dev;
        if (settings.send_zbname) name_value = sample_name_code(name);
        if (settings.use_xsds) name_text = sample_base_name(name);
        state.sending_sample.store(1);
    }
    // Every entry begins a run: a dump header's answer gets its longer limit, and the first
    // message of the entry awaits no answer to the one before it.
    send.hs_mode = hs_mode_unlimited;
    state.sending.store(1);
    publish(context, [](SendReport& report) { report.button = text_stop_send; });
    pos = 0;
    size_t len = entry.length();
    const uint8_t* message = entry.bytes();
    const bool handshake = settings.ignore_hs == 0;
    // The header messages the converter built that have not gone yet.
    const uint8_t* unsent = nullptr;
    size_t unsent_length = 0;

    while (pos <= len) {
        const uint8_t* to_send = nullptr;
        size_t length = 0;
        if (!sample) {
            while (pos < len && *message != 0xF0) {
                ++message;
                ++pos;
            }
            if (pos >= len) break;
            const void* end = std::memchr(message, 0xF7, len - pos);
            if (!end) break;  // an incomplete tail is not sent
            to_send = message;
            length = static_cast<const uint8_t*>(end) - message + 1;
        } else {
            bool resend = false;
            if (handshake) {
                await_answer(send, pos);
                if (!cancelled(state) && send.answers.reply == hs_nak) {
                    if (send.last_message && send.last_length > 4 &&
                        send.last_message[4] == send.answers.nak_packet) {
                        resend = true;
                    } else {
                        state.cancel_request.store(1);
                    }
                }
            }
            if (resend) {
                to_send = send.last_message;
                length = send.last_length;
            } else if (!cancelled(state) && (unsent_length > 0 || pos != len)) {
                if (unsent_length == 0) {
                    unsent_length =
                        convert_sample_step(conversion, pos, len, message, name_value, name_text);
                    unsent = message;
                }
                to_send = unsent;
                length = answered_part(unsent, unsent_length);
                unsent += length;
                unsent_length -= length;
            }
            if (!cancelled(state)) {
                if (length == 0) {
                    send.last_message = nullptr;
                    send.last_length = 0;
                    break;
                }
                send.last_message = to_send;
                send.last_length = length;
            }
        }
        if (!cancelled(state)) {
            if (send_message(send, to_send, length) == Sent::port_error) {
                port_error_path(send, *send.sent.error);
                return false;
            }
            if (!sample) {
                message += length;
                pos += length;
            } else {
                send.dump_open = true;
            }
            show_progress(state, pos, len);
        }
        if (state.cancel_request.load() == 1) {
            stop_path(send);
            return false;
        }
    }
    send.dump_open = false;
    return true;
}

}  // namespace

int32_t first_sample_number(const std::string& samplepos) {
    const std::optional<uint32_t> value = read_unsigned(samplepos);
    const int64_t number = value ? int64_t{*value} - 1 : 0;
    return static_cast<int32_t>(std::clamp<int64_t>(number, 0, INT32_MAX));
}

void mark_send_entries(TransferList& list) {
    for (ListItem& item : list.items) item.entry->send_mark = item.selected ? 'L' : 'U';
}

int next_send_entry(TransferList& list) {
    for (size_t i = 0; i < list.items.size(); ++i) {
        if (list.items[i].entry->send_mark == 'L') {
            list.items[i].entry->send_mark = 'S';
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool SendJob::start(SendContext& context, std::function<void()> after) {
    MidiPorts& ports = *context.ports;
    EngineThread& engine = ports.service->engine;
    if (!engine.start_job([&context, after = std::move(after)] {
            send_thread(context);
            if (after) after();
        }))
        return false;
    engine_ = &engine;
    return true;
}

bool SendJob::running() const {
    return engine_ && engine_->job_running();
}

void SendJob::join() {
    if (engine_) engine_->wait_for_job();
    engine_ = nullptr;
}

void send_thread(SendContext& context) {
    TransferList& list = *context.list;
    TransferState& state = *context.ports->state;
    Send send{context, state, context.ports->out.load(), context.ports->answers, {}};
    int total = 0;
    int index = -1;
    publish(context, [](SendReport& report) {
        const int serial = report.serial + 1;
        report = SendReport{};
        report.serial = serial;
    });
    {
        std::lock_guard lock(*context.list_mutex);
        if (selected_count(list) == 0) return;
        total = selected_count(list);
        mark_send_entries(list);
    }
    send.sample_number = context.sample_number;
    {
        std::lock_guard lock(*context.list_mutex);
        index = next_send_entry(list);
    }
    send.hs_mode = hs_mode_unlimited;
    int n = 1;
    send.answers.reply = hs_none;
    send.last_message = nullptr;
    size_t pos = 0;

    while (index >= 0) {
        const Entry* entry = nullptr;
        std::string name;
        {
            std::lock_guard lock(*context.list_mutex);
            entry = entry_at(list, index);
            name = entry_name(list, index);
            publish(context, [&](SendReport& report) {
                if (report.current > 0) report.sent.push_back(state.sent_count.load());
                report.current = n;
                report.count_at_start = state.sent_count.load();
                report.counter = send_counter_text(n, total);
                if (entry) report.entry = view_entry(*entry);
            });
        }
        ++n;
        if (entry && !send_entry(send, *entry, name, pos)) return;
        {
            std::lock_guard lock(*context.list_mutex);
            index = next_send_entry(list);
        }
        ++send.sample_number;
        if (state.sending.load() != 1) break;
    }

    state.status_bits.fetch_and(~status_sending);
    publish(context, [&](SendReport& report) {
        if (report.current > 0) {
            report.finished = true;
            report.sent.push_back(static_cast<int32_t>(pos));
        }
        report.status = "Sent: " + std::to_string(pos);
        report.counter = "";
        report.button = text_send;
    });
    state.progress_percent.store(0);
    state.sending.store(0);
    notify_transfer(state);
}

}  // namespace jx
