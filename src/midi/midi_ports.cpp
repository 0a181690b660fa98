#include "midi/midi_ports.h"

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
        midi_out_close(ports.out.load());
        ports.open_out_index.store(-1);
    }
    const Settings& settings = *ports.settings;
    if (look_up || settings.midi_out != ports.out_device_index ||
        settings.midi_out_name != ports.out_device_name) {
        ports.out_device =
            configured_port(*ports.service, true, settings.midi_out, settings.midi_out_name);
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
    MidiOut* handle = nullptr;
    if (midi_out_open(*ports.service, configured, handle) == midi_ok) {
        ports.out.store(handle);
        ports.open_out_index.store(configured);
    } else {
        ports.errors.record({PortFault::out_open, text_out_port_failed});
        ports.state->sending.store(0);
        notify_transfer(*ports.state);
    }
}

void close_input(MidiPorts& ports) {
    ports.state->receive_state.store(receive_closed);
    // The reset hands every buffer back before it returns, so the close can follow at once.
    midi_in_reset(ports.in);
    MidiIn* in = ports.in;
    ports.in = nullptr;
    midi_in_close(in);
    for (MidiHeader& header : ports.in_headers) midi_in_unprepare_header(nullptr, header);
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
    MidiOut* out = ports.out.load();
    std::memcpy(ports.message.data(), bytes, n);
    MidiHeader& header = ports.message_header;
    header.data = ports.message.data();
    header.length = static_cast<uint32_t>(n);
    header.flags = 0;
    int result = midi_out_prepare_header(out, header);
    if (result == midi_ok) result = midi_out_long_msg(out, header);
    if (result != midi_ok) {
        message_failed(ports, out, result, PortFault::out_message);
        return;
    }
    wait_released(*ports.state, out, header, true);
}

void message_failed(MidiPorts& ports, MidiOut* out, int result, PortFault fault) {
    ports.errors.record({fault, midi_out_error_text(out, result, 120)});
    TransferState& state = *ports.state;
    state.sending.store(0);
    state.cancel_request.store(0);
    notify_transfer(state);
}

bool wait_released(TransferState& state, MidiOut* out, MidiHeader& header, bool stop_on_cancel) {
    const auto stop = [&] { return stop_on_cancel && state.cancel_request.load() != 0; };
    for (;;) {
        if (midi_out_unprepare_header(out, header) != midi_still_playing) return true;
        if (stop()) return false;
        wait_transfer_until(state, midi_out_release_time(out, header), stop);
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
    MidiIn* in = nullptr;
    if (midi_in_open(*ports.service, configured, midi_in_callback, &ports, in) != midi_ok) {
        ports.errors.record({PortFault::in_open, text_in_port_failed});
        return;
    }
    ports.in = in;
    ports.open_in_index.store(configured);
    int added = midi_ok;
    for (int i = 0; i < midi_in_buffer_count; ++i) {
        MidiHeader& header = ports.in_headers[i];
        header.data = ports.in_buffers[i].data();
        header.length = midi_in_buffer_size;
        header.flags = 0;
        if (midi_in_prepare_header(in, header) != midi_ok) return;
        added = midi_in_add_buffer(in, header);
    }
    if (added != midi_ok) return;
    if (midi_in_start(in) != midi_ok) {
        ports.errors.record({PortFault::in_start, text_in_start_failed});
        ports.open_in_index.store(-1);
        close_input(ports);
    }
}

void midi_in_callback(MidiIn* handle, MidiInMessage message, void* instance, MidiHeader* header) {
    MidiPorts& ports = *static_cast<MidiPorts*>(instance);
    TransferState& state = *ports.state;
    if (message == MidiInMessage::close) {
        if (ports.hooks.stop_recording) ports.hooks.stop_recording(ports.hooks.recorder);
        return;
    }
    if (message != MidiInMessage::long_data && message != MidiInMessage::long_error) return;
    const uint8_t* data = header->data;
    const size_t count = header->bytes_recorded;
    const int32_t receive = state.receive_state.load();
    if (receive == receive_closed) return;
    if (receive == receive_recording) {
        if (ports.hooks.record) ports.hooks.record(ports.hooks.recorder, data, count);
    } else if (receive == receive_idle) {
        // Only the start of the buffer matters: it holds the start of at most one message. Bytes
        // beyond what arrived are left from an earlier message and are never looked at.
        if (count >= 8 && std::memcmp(data, turbo_message_start, sizeof turbo_message_start) == 0 &&
            data[6] == turbo_answer_id) {
            set_turbo_speed(state, data[7]);
        } else if (count >= 4 && data[1] == universal_non_realtime &&
                   data[2] == ports.settings->sds_dev && state.sending.load() != 0 &&
                   state.sending_sample.load() != 0) {
            switch (data[3]) {
                case sds::ack:
                    state.hs_reply.store(hs_ack);
                    break;
                case sds::nak:
                    if (count >= 5) {
                        state.hs_nak_packet.store(data[4]);
                        state.hs_reply.store(hs_nak);
                    }
                    break;
                case sds::cancel:
                    state.status_bits.fetch_or(status_remote_cancel);
                    state.cancel_request.store(1);
                    break;
                case sds::wait:
                    state.hs_wait.store(1);
                    break;
                default:
                    break;
            }
            notify_transfer(state);
        }
    }
    midi_in_add_buffer(handle, *header);
    // Whoever waits for what the input brings (a Turbo answer, a recording's progress) looks again.
    notify_transfer(state);
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
    MidiOut* out = ports.out.load();
    midi_out_reset(out);
    midi_out_close(out);
    ports.open_out_index.store(-1);
}

void close_midi_in(MidiPorts& ports) {
    if (ports.open_in_index.load() < 0) return;
    ports.state->receive_state.store(receive_closed);
    midi_in_stop(ports.in);
    close_input(ports);
    ports.open_in_index.store(-1);
}

}  // namespace jx
