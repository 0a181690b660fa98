#pragma once
// A recorder wired as the program wires it, with a headless window and a transfer list, and on
// request an output port whose replies are kept (ReplyCapture). Streams are fed either at once or
// in pieces of a fixed size, framed as an input frames them.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/record_view.h"
#include "midi/midi_ports.h"
#include "midi/recorder.h"
#include "platform/window/headless_window.h"
#include "reply_capture.h"
#include "sds_dump_maker.h"
#include "transfer/transfer_list.h"

namespace jx::test {

struct ReceivedEntry {
    std::string name;
    std::vector<uint8_t> data;
    bool operator==(const ReceivedEntry&) const = default;
};

struct RecorderRig {
    Settings settings;
    TransferState state;
    HeadlessWindow window;
    TransferList list;
    std::mutex list_mutex;
    Recorder recorder;
    ReplyCapture capture;
    MidiService service;
    MidiPorts ports;
    SysexFramer input_framer;  // arrive()'s, as an open input keeps one
    RecordView view;

    explicit RecorderRig(int32_t rec_format = 0, bool handshake = false, bool replies = false) {
        settings.rec_format = rec_format;
        settings.ignore_hs = handshake ? 0 : 1;
        state.receive_state = receive_idle;
        recorder.state = &state;
        recorder.settings = &settings;
        recorder.list = &list;
        recorder.list_mutex = &list_mutex;
        if (replies) {
            wire_ports(capture);
            settings.midi_out = 0;
            recorder.ports = &ports;
        }
    }

    // A control's text once the window has shown what the recorder published, as the main
    // window does after its commands and on its timer.
    std::string shown(int id) {
        view.show(recorder.report.snapshot(), window);
        return window.text(id);
    }

    // The recorder behind the real input callback of the backend's first input, as the program
    // wires it: closing that input stops the recording.
    void record_from(MidiBackend& backend) {
        wire_ports(backend);
        settings.midi_in = 0;
        connect_recorder(ports, recorder);
    }

    // The ports on the backend alone, unpaced.
    void wire_ports(MidiBackend& backend) {
        service.backends = {&backend};
        service.pacing.enabled = false;
        ports.service = &service;
        ports.settings = &settings;
        ports.state = &state;
    }

    // Bytes as an input hands them over, framed as it frames them: what a message has left over
    // from one call is taken up in the next.
    void arrive(const uint8_t* data, size_t count) {
        std::vector<SysexPiece> pieces;
        input_framer.feed(data, count);
        for (SysexPiece piece; input_framer.next(piece);) pieces.push_back(piece);
        record_pieces(recorder, pieces);
    }
    // Feeds the stream at once (piece 0) or every `piece` bytes as they arrive.
    void feed(const Stream& s, size_t piece = 0) {
        if (piece == 0) {
            replay_stream(recorder, s.data(), s.size());
            return;
        }
        for (size_t at = 0; at < s.size(); at += piece)
            arrive(s.data() + at, std::min(piece, s.size() - at));
    }
    // Start, feed, stop: one whole recording.
    void record(const Stream& s, size_t piece = 0) {
        start_recording(recorder);
        feed(s, piece);
        stop_recording(recorder);
    }
    // Feeds one message at a time.
    void feed_each(std::initializer_list<Stream> messages) {
        for (const Stream& m : messages) arrive(m.data(), m.size());
    }

    std::vector<ReceivedEntry> entries() {
        std::lock_guard lock(list_mutex);
        std::vector<ReceivedEntry> all;
        for (const ListItem& item : list.items) all.push_back({item.name, item.entry->data});
        return all;
    }
    // The replies sent, one text per message ("ACK 0", "NAK 3", "CANCEL 1", or hex).
    std::vector<std::string> replies() const {
        std::vector<std::string> texts;
        for (const auto& m : capture.messages()) {
            const char* kind = m.size() == 6 && m[3] == 0x7F   ? "ACK"
                               : m.size() == 6 && m[3] == 0x7E ? "NAK"
                               : m.size() == 6 && m[3] == 0x7D ? "CANCEL"
                                                               : "?";
            texts.push_back(std::string(kind) + " " + std::to_string(m.size() > 4 ? m[4] : -1));
        }
        return texts;
    }
};

}  // namespace jx::test
