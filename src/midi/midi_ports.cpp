#include "midi/midi_ports.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "audio/sds.h"
#include "platform/midi/sysex.h"

namespace jx {

namespace {

// A Turbo message: its start, the command, the command's value when it has one, F7.
std::vector<uint8_t> turbo_message(uint8_t command, std::optional<uint8_t> value = {}) {
    std::vector<uint8_t> message(std::begin(turbo_message_start), std::end(turbo_message_start));
    message.push_back(command);
    if (value) message.push_back(*value);
    message.push_back(sysex_end);
    return message;
}

// open_midi_out with the message lock held; `look_up` finds the configured device again.
void reopen_out(MidiPorts& ports, bool look_up) {
    if (ports.open_out_index.load() >= 0) {
        ports.out.load()->close();
        ports.open_out_index.store(-1);
    }
    const Settings& settings = *ports.settings;
    if (look_up || settings.midi_out != ports.out_device_index ||
        settings.midi_out_name != ports.out_device_name) {
        ports.out_device =
            configured_port(*ports.service, true, settings.midi_out, settings.midi_out_name);
        ports.out_port = midi_output_at(*ports.service, ports.out_device);
        ports.out_device_index = settings.midi_out;
        ports.out_device_name = settings.midi_out_name;
    }
    const int32_t configured = ports.out_device;
    if (configured < 0) {
        if (!settings.midi_out_name.empty()) {
            // A stored port that is not plugged in is said so, never replaced by another.
            ports.errors.record(
                {PortFault::out_missing, text_port_missing(true, settings.midi_out_name)});
            ports.state->sending.store(0);
            notify_transfer(*ports.state);
        }
        return;
    }
    MidiOutput* output = nullptr;
    if (!open_output(*ports.service, ports.out_port, output)) {
        ports.out.store(output);
        ports.open_out_index.store(configured);
    } else {
        ports.errors.record({PortFault::out_open, text_out_port_failed});
        ports.state->sending.store(0);
        notify_transfer(*ports.state);
    }
}

// What arrived before the close still reaches its consumer (a recording keeps a message cut off
// by the close as far as it came), then the consumer hears of the close, and the input is closed
// for whatever comes after.
void close_input(MidiPorts& ports) {
    ports.in.reset();
    ports.state->receive_state.store(receive_closed);
}

}  // namespace

void connect_transfer_state(MidiService& service, TransferState& state) {
    service.pacing.turbo_speed = &state.turbo_speed;
    state.engine = &service.engine;
}

int32_t configured_port(MidiService& service, bool output, int32_t index, const std::string& name) {
    if (name.empty()) return index;
    const int count = output ? midi_out_count(service) : midi_in_count(service);
    for (int i = 0; i < count; ++i)
        if ((output ? midi_out_name(service, i) : midi_in_name(service, i)) == name) return i;
    return -1;
}

std::string text_port_missing(bool output, const std::string& name) {
    return std::string(output ? "MIDI Out" : "MIDI In") + " port not found: " + name;
}

void open_midi_out(MidiPorts& ports) {
    std::lock_guard lock(ports.message_mutex);
    reopen_out(ports, true);
}

void send_sysex(MidiPorts& ports, const uint8_t* bytes, size_t n) {
    if (n > midi_message_size) return;
    std::lock_guard lock(ports.message_mutex);
    reopen_out(ports, false);
    if (ports.open_out_index.load() < 0) return;
    MidiOutput& out = *ports.out.load();
    const MidiSent sent = out.send(bytes, n);
    if (!sent.ok()) {
        message_failed(ports, *sent.error, PortFault::out_message);
        return;
    }
    wait_released(*ports.state, out, sent, true);
}

void message_failed(MidiPorts& ports, const MidiError& error, PortFault fault) {
    ports.errors.record({fault, midi_error_text(error)});
    TransferState& state = *ports.state;
    state.sending.store(0);
    state.cancel_request.store(0);
    notify_transfer(state);
}

bool wait_released(TransferState& state, MidiOutput& out, const MidiSent& sent,
                   bool stop_on_cancel) {
    const auto stop = [&] { return stop_on_cancel && state.cancel_request.load() != 0; };
    for (;;) {
        if (out.left_cable(sent)) return true;
        if (stop()) return false;
        wait_transfer_until(state, sent.leaves_wire, stop);
    }
}

void open_midi_in(MidiPorts& ports, bool into_recording) {
    TransferState& state = *ports.state;
    if (ports.open_in_index.load() >= 0) {
        close_input(ports);
        ports.open_in_index.store(-1);
    }
    state.receive_state.store(into_recording ? receive_recording : receive_idle);
    const Settings& settings = *ports.settings;
    const int32_t configured =
        configured_port(*ports.service, false, settings.midi_in, settings.midi_in_name);
    if (configured < 0) {
        if (!settings.midi_in_name.empty())
            ports.errors.record(
                {PortFault::in_missing, text_port_missing(false, settings.midi_in_name)});
        return;
    }
    if (open_input(*ports.service, midi_input_at(*ports.service, configured), &ports.reader,
                   ports.in)) {
        ports.errors.record({PortFault::in_open, text_in_port_failed});
        return;
    }
    ports.open_in_index.store(configured);
    if (ports.in->start()) {
        ports.errors.record({PortFault::in_start, text_in_start_failed});
        ports.open_in_index.store(-1);
        close_input(ports);
    }
}

void AnswerReader::take(std::span<const SysexPiece> pieces) {
    TransferState& state = *ports_.state;
    const int32_t receive = state.receive_state.load();
    if (receive == receive_recording) {
        in_message_ = false;
        if (ports_.hooks.record) ports_.hooks.record(ports_.hooks.recorder, pieces);
    } else if (receive == receive_idle) {
        for (const SysexPiece& piece : pieces) {
            switch (piece.kind) {
                case SysexPiece::start:
                    in_message_ = true;
                    head_[0] = sysex_start;
                    head_count_ = 1;
                    break;
                case SysexPiece::data: {
                    if (!in_message_) break;
                    const size_t n = std::min(piece.size, sizeof head_ - head_count_);
                    std::memcpy(head_ + head_count_, piece.bytes, n);
                    head_count_ += n;
                    break;
                }
                case SysexPiece::end:
                case SysexPiece::cut:
                    // A message cut short is looked at as far as it came, as an answer cut by a
                    // status byte was always taken.
                    if (in_message_) message_ended();
                    in_message_ = false;
                    break;
                case SysexPiece::lost:
                    break;
            }
        }
    }
    // Whoever waits on another thread for what the input brings (a Turbo answer, a recording's
    // progress) looks again; the engine's own waits look after every delivery.
    notify_transfer(state);
}

void AnswerReader::closed() {
    in_message_ = false;
    if (ports_.hooks.stop_recording) ports_.hooks.stop_recording(ports_.hooks.recorder);
}

void AnswerReader::message_ended() {
    TransferState& state = *ports_.state;
    const uint8_t* data = head_;
    const size_t count = head_count_;
    if (count >= 8 && std::memcmp(data, turbo_message_start, sizeof turbo_message_start) == 0 &&
        data[6] == turbo_answer_id) {
        set_turbo_speed(state, data[7]);
        return;
    }
    if (count < 4 || data[1] != universal_non_realtime || data[2] != ports_.settings->sds_dev ||
        state.sending.load() == 0 || state.sending_sample.load() == 0)
        return;
    // The send's answers are its own thread's values; handed over elsewhere (an input closing)
    // they reach no send.
    if (!ports_.service->engine.on_thread()) return;
    DeviceAnswers& answers = ports_.answers;
    switch (data[3]) {
        case sds::ack:
            answers.reply = hs_ack;
            break;
        case sds::nak:
            if (count >= 5) {
                answers.nak_packet = data[4];
                answers.reply = hs_nak;
            }
            break;
        case sds::cancel:
            state.status_bits.fetch_or(status_remote_cancel);
            state.cancel_request.store(1);
            break;
        case sds::wait:
            answers.wait = true;
            break;
        default:
            break;
    }
}

void send_hs_ack(MidiPorts& ports, uint8_t channel, uint8_t packet) {
    const auto message = sds_handshake(sds::ack, channel, packet);
    ports.nak_count.store(0);
    send_sysex(ports, message.data(), message.size());
}

void send_hs_nak(MidiPorts& ports, uint8_t channel, uint8_t packet) {
    if (ports.state) ports.state->naks_sent.fetch_add(1);
    const auto message = sds_handshake(sds::nak, channel, packet);
    send_sysex(ports, message.data(), message.size());
}

void send_hs_cancel(MidiPorts& ports, uint8_t channel, uint8_t packet) {
    const auto message = sds_handshake(sds::cancel, channel, packet);
    send_sysex(ports, message.data(), message.size());
}

void send_turbo_query(MidiPorts& ports) {
    ports.state->turbo_speed.store(10);
    const auto query = turbo_message(turbo_query_id);
    send_sysex(ports, query.data(), query.size());
}

void send_turbo_request(MidiPorts& ports) {
    const auto request =
        turbo_message(turbo_request_id, static_cast<uint8_t>(ports.settings->turbo_lim & 0xFF));
    send_sysex(ports, request.data(), request.size());
}

void send_turbo_off(MidiPorts& ports) {
    const auto off = turbo_message(turbo_request_id, 0x01);
    send_sysex(ports, off.data(), off.size());
    ports.state->turbo_speed.store(10);
}

void set_turbo_speed(TransferState& state, int index) {
    if (index >= 0 && index < 12) state.turbo_speed.store(turbo_speed_of_index(index));
}

void close_midi_out(MidiPorts& ports) {
    std::lock_guard lock(ports.message_mutex);
    if (ports.open_out_index.load() < 0) return;
    MidiOutput* out = ports.out.load();
    out->reset();
    out->close();
    ports.open_out_index.store(-1);
}

void close_midi_in(MidiPorts& ports) {
    if (ports.open_in_index.load() < 0) return;
    close_input(ports);
    ports.open_in_index.store(-1);
}

}  // namespace jx
