// jx-device: the virtual device as a program of its own, a MIDI client with one input and one
// output port at the system's MIDI server (JACK or the ALSA sequencer, as JX_MIDI_API says), so
// that jx-cli, jx or any other program can send to it over a real server. It prints what it
// took and sent as JSON lines on stdout, takes commands on stdin and runs until SIGINT or
// SIGTERM.
#include <getopt.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "devsim/virtual_device.h"
#include "platform/midi/midi.h"
#include "platform/midi/midi_system.h"
#include "platform/midi/sysex.h"
#include "platform/midi/timed_queue.h"
#include "platform/os/console.h"
#include "platform/os/files.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

std::mutex print_mutex;

void print_line(const Json& line) {
    std::lock_guard lock(print_mutex);
    std::fputs((line.dump() + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The device's output: its answers leave after the delay the device asks for and, when paced,
// one after the other at the device's wire speed, from the thread of the link's queue.
class ServerLink : public jx::DeviceLink {
  public:
    ServerLink(std::unique_ptr<jx::MidiOutConnection> out, bool paced)
        : out_(std::move(out)),
          paced_(paced),
          queue_([this](jx::TimedQueue::Message& message) { write(message); }) {}

    void send(const uint8_t* data, size_t length, std::chrono::milliseconds delay) override {
        std::lock_guard lock(mutex_);
        if (unplugged_) return;
        // The message starts no earlier than the delay; paced, it then takes its wire time after
        // what was sent before it, and reaches the far end when its last byte has left the cable.
        const Clock::time_point start = Clock::now() + delay;
        Clock::time_point due = start;
        if (paced_) {
            if (clock_.free_at < start) clock_.free_at = start;
            due = clock_.schedule(length, speed_, true);
        }
        queue_.push(due, data, length);
    }
    void set_speed(int32_t turbo_speed) override {
        std::lock_guard lock(mutex_);
        speed_ = turbo_speed;
    }
    // Called by the device while it takes a message: the ports are closed by the main thread.
    void unplug() override {
        {
            std::lock_guard lock(mutex_);
            unplugged_ = true;
            queue_.drop_all();
        }
        ::kill(::getpid(), SIGUSR1);
    }
    void close_output() {
        std::lock_guard lock(mutex_);
        out_.reset();
    }
    // When what is queued now has left the cable.
    Clock::time_point all_sent_at() override {
        std::lock_guard lock(mutex_);
        return std::max(clock_.free_at, Clock::now());
    }

  private:
    void write(jx::TimedQueue::Message& message) {
        std::lock_guard lock(mutex_);
        if (!out_) return;
        if (auto error = out_->write(message.bytes.data(), message.bytes.size(), message.due))
            print_line({{"event", "error"}, {"text", error->text}});
    }

    std::unique_ptr<jx::MidiOutConnection> out_;
    const bool paced_;
    std::mutex mutex_;
    jx::WireClock clock_;
    int32_t speed_ = 10;
    bool unplugged_ = false;
    jx::TimedQueue queue_;  // last: its thread ends before the members above go
};

// What the input needs: the device, where to copy what arrived, what was reported.
struct Receiver final : jx::MidiConsumer {
    void take(std::span<const jx::SysexPiece> pieces) override;

    jx::VirtualDevice* device = nullptr;
    std::FILE* copy = nullptr;         // --out: every message but the Turbo ones, byte for byte
    std::vector<uint8_t> copying;      // the message arriving, for --out
    std::atomic<bool> closing{false};  // set by the main thread before it closes the input
    size_t sysex_reported = 0;
    size_t samples_started = 0;
    size_t samples_reported = 0;
    int32_t speed_reported = 1;
    size_t requests_reported = 0;
    size_t sends_started = 0;
    size_t sends_reported = 0;
    size_t stalls_reported = 0;
    uint64_t lost_reported = 0;  // bytes the input dropped, as far as reported
    std::mutex report_mutex;     // reports come from the engine thread and the sender thread
};

std::string hex(const std::vector<uint8_t>& bytes, size_t most) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        // Appended piece by piece: GCC 12 warns falsely about `" " + std::string`.
        if (i) text += ' ';
        text += digits;
    }
    return text;
}

Json sample_line(const jx::ReceivedSample& s) {
    Json line = {
        {"event", "sample"},      {"number", s.sample_number}, {"bits", s.bits},
        {"rate", s.rate},         {"length", s.length},        {"loop_start", s.loop_start},
        {"loop_end", s.loop_end}, {"loop_type", s.loop_type},  {"name", s.name}};
    if (s.zbname) line["zbname"] = hex({s.zbname->begin(), s.zbname->end()}, 4);
    return line;
}

Json send_line(const char* event, const jx::SendOutcome& s) {
    Json line = {{"event", event}};
    if (!s.file.empty()) line["file"] = s.file;
    if (s.dump || s.file.empty()) line["number"] = s.number;
    return line;
}

void report_sends(Receiver& r, const jx::DeviceRecord& record) {
    for (; r.requests_reported < record.requests.size(); ++r.requests_reported) {
        const jx::DumpRequest& q = record.requests[r.requests_reported];
        print_line({{"event", "request"}, {"number", q.number}, {"held", q.held}});
    }
    for (; r.sends_started < record.sends.size(); ++r.sends_started)
        print_line(send_line("sending", record.sends[r.sends_started]));
    for (; r.stalls_reported < record.sends.size() &&
           (record.sends[r.stalls_reported].stalled ||
            record.sends[r.stalls_reported].result != jx::SendResult::running);
         ++r.stalls_reported) {
        const jx::SendOutcome& s = record.sends[r.stalls_reported];
        if (s.stalled) {
            Json line = send_line("stalled", s);
            line["packets"] = s.packets;
            print_line(line);
        }
    }
    for (; r.sends_reported < record.sends.size() &&
           record.sends[r.sends_reported].result != jx::SendResult::running;
         ++r.sends_reported) {
        const jx::SendOutcome& s = record.sends[r.sends_reported];
        Json line = send_line("sent", s);
        line["result"] = jx::send_result_text(s.result);
        if (s.dump) {
            line["packets"] = s.packets;
            line["naks"] = s.naks;
        } else {
            line["messages"] = s.messages;
        }
        if (!s.problem.empty()) line["reason"] = s.problem;
        print_line(line);
    }
}

void report_record(Receiver& r, const jx::DeviceRecord& record) {
    for (; r.sysex_reported < record.sysex.size(); ++r.sysex_reported) {
        const std::vector<uint8_t>& m = record.sysex[r.sysex_reported];
        print_line({{"event", "sysex"}, {"length", m.size()}, {"head", hex(m, 8)}});
    }
    for (; r.samples_started < record.samples.size(); ++r.samples_started)
        print_line(
            {{"event", "dump"}, {"number", record.samples[r.samples_started].sample_number}});
    // Each dump as it ends, in order: a complete one as its sample, one that did not complete
    // with how it ended and what it held.
    for (; r.samples_reported < record.samples.size() && record.samples[r.samples_reported].ended();
         ++r.samples_reported) {
        const jx::ReceivedSample& s = record.samples[r.samples_reported];
        if (s.complete) {
            print_line(sample_line(s));
            continue;
        }
        print_line({{"event", "dump end"},
                    {"number", s.sample_number},
                    {"result", s.cancelled ? "cancelled" : "cut off"},
                    {"words", s.words.size()},
                    {"length", s.length}});
    }
    if (record.speed_index != r.speed_reported) {
        r.speed_reported = record.speed_index;
        print_line({{"event", "turbo"}, {"speed_index", record.speed_index}});
    }
    report_sends(r, record);
}

// Reports what is new in the record, looking at it in place: a copy per hand-over would cost
// more with every message the device ever took.
void report(Receiver& r) {
    std::lock_guard lock(r.report_mutex);
    r.device->with_record([&r](const jx::DeviceRecord& record) { report_record(r, record); });
}

// Copies what arrived to --out message by message, leaving out the Turbo messages, which are the
// link's own business; a message cut short is copied as far as it came.
void copy_out(Receiver& r, const jx::SysexPiece& piece) {
    if (piece.kind == jx::SysexPiece::lost) return;
    if (piece.kind == jx::SysexPiece::start) r.copying.clear();
    if (piece.bytes) r.copying.insert(r.copying.end(), piece.bytes, piece.bytes + piece.size);
    if (piece.kind != jx::SysexPiece::end && piece.kind != jx::SysexPiece::cut) return;
    const auto& turbo = jx::turbo_message_start;
    const bool is_turbo = r.copying.size() >= sizeof turbo &&
                          std::equal(turbo, turbo + sizeof turbo, r.copying.begin());
    if (!is_turbo) std::fwrite(r.copying.data(), 1, r.copying.size(), r.copy);
    r.copying.clear();
    std::fflush(r.copy);
}

void Receiver::take(std::span<const jx::SysexPiece> pieces) {
    if (closing) return;
    uint64_t lost = 0;
    for (const jx::SysexPiece& piece : pieces) {
        if (piece.kind == jx::SysexPiece::lost) lost += piece.size;
        if (copy) copy_out(*this, piece);
    }
    device->take(pieces);
    report(*this);
    // A loss is said, never a message dropped without a word.
    if (lost > 0) {
        lost_reported += lost;
        print_line({{"event", "lost"}, {"bytes", lost_reported}});
    }
}

void print_help() {
    std::printf(
        "usage: jx-device [OPTIONS]\n\n"
        "A simulated instrument at the MIDI server: an input and an output port that take SysEx\n"
        "messages and MIDI sample dumps (with the handshake) and answer the Turbo messages. What\n"
        "it takes is printed as JSON lines; it runs until interrupted.\n\n"
        "Options:\n"
        "  --name NAME          client name at the server (default jx-device): the ports are\n"
        "                       NAME-in:in and NAME-out:out\n"
        "  --channel N          SDS device number it takes dumps for (default 0)\n"
        "  --highest-speed I    fastest Turbo speed index it runs, 1..11 (default 11)\n"
        "  --out FILE           write every message taken, byte for byte, to FILE\n"
        "  --no-pacing          answer at once instead of at MIDI wire speed\n"
        "  --help, --version    this text; the program's version\n"
        "Faults (packets count from 0 in each dump; the dump header is packet -1):\n"
        "  --nak K              NAK data packet K once\n"
        "  --nak-always         ... and every time it comes again\n"
        "  --nak-offset N       such a NAK names packet K+N, as answers to another dump do\n"
        "  --wait K             send WAIT before answering packet K\n"
        "  --wait-ms MS         how long the answer after a WAIT is delayed (default 200)\n"
        "  --cancel K           CANCEL instead of answering packet K\n"
        "  --silent-from K      never answer from packet K on\n"
        "  --unplug K           close both ports when packet K arrives\n"
        "  --other-channel      answer on the channel above the dump's\n"
        "  --answer-delay MS    answer every message MS milliseconds late\n"
        "Sending:\n"
        "  --hold FILE          hold a WAV, AIFF or AIFC sample for dump requests; the k-th\n"
        "                       --hold is sample number k-1 (repeatable). Every complete dump\n"
        "                       it takes is held too, under its sample number.\n"
        "  --packet-timeout MS  how long an answer to a data packet is awaited once the packet\n"
        "                       has left the cable; then the dump goes on without the\n"
        "                       handshake (default 1000). A dump header waits 2000 ms, a WAIT\n"
        "                       10000 ms; after 8 NAKs in a row for one packet it gives up.\n"
        "Send faults (data packets count from 0 in each dump; each happens the first time only):\n"
        "  --send-bad-checksum K    packet K with a wrong checksum\n"
        "  --send-wrong-number K    packet K numbered one higher\n"
        "  --send-cut-short K       packet K ended with F7 after 63 bytes\n"
        "  --send-plain-before K    a plain SysEx message F0 7D 00 01 02 F7 before packet K\n"
        "  --send-zero-period       the dump header with a sample period of 0\n"
        "  --send-faults-always     every time, the packets sent again too\n"
        "  --send-unplug K          close both ports instead of sending packet K (once 0..K-1\n"
        "                           were answered): a device switched off mid-dump\n"
        "  --send-stall K           send nothing more from packet K on and wait for a CANCEL:\n"
        "                           a device that hangs mid-dump\n"
        "Commands on stdin, one a line:\n"
        "  send FILE [N]        a .syx file: its F0..F7 messages one after the other; a WAV,\n"
        "                       AIFF or AIFC file: a sample dump to sample number N (default 0)\n"
        "A dump request F0 7E ch 03 nl nh F7 on its channel brings the dump of that sample.\n"
        "A dump it takes that does not complete is reported as it ends:\n"
        "  {\"event\":\"dump end\",\"number\":N,\"result\":\"cancelled\"|\"cut "
        "off\",\"words\":n,\"length\":L}\n"
        "                       its sender (or the device) cancelled it, or the next dump came\n"
        "Output lines besides those of what it takes:\n"
        "  {\"event\":\"request\",\"number\":N,\"held\":true|false}\n"
        "  {\"event\":\"sending\",\"file\":F} for a .syx file; \"file\" and \"number\" for a\n"
        "                       sample file; \"number\" alone for a requested dump\n"
        "  {\"event\":\"sent\",...,\"result\":R,\"messages\":n} for a .syx file, with\n"
        "                       \"packets\":n,\"naks\":n for a dump (packets sent, resends\n"
        "                       included), and \"reason\" when it failed. R is one of:\n"
        "     sent       every message sent; for a dump every packet acknowledged\n"
        "     open loop  sent to the end, but without answers from some point on\n"
        "     cancelled  the receiver sent CANCEL\n"
        "     gave up    too many NAKs in a row, or no answer after a WAIT (CANCEL sent)\n"
        "     stopped    the program ended or the cable was pulled during the send\n"
        "     failed     nothing to send (no F0..F7 message; a sample the header cannot carry)\n"
        "  {\"event\":\"stalled\",...,\"packets\":n} a dump hangs (--send-stall)\n"
        "  {\"event\":\"error\",\"text\":T} a command that could not be carried out\n"
        "Environment: JX_MIDI_API=alsa|jack picks the MIDI server.\n");
}

bool parse_int(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

void command_error(const std::string& text) {
    print_line({{"event", "error"}, {"text", text}});
}

// One command line from stdin: "send FILE" or "send FILE N".
void run_command(jx::VirtualDevice& device, const std::string& line) {
    const std::string text = trimmed(line);
    if (text.empty()) return;
    if (text.rfind("send ", 0) != 0) return command_error("unknown command: " + text);
    std::string file = trimmed(text.substr(5));
    int number = 0;
    const size_t space = file.find_last_of(" \t");
    if (space != std::string::npos && parse_int(file.c_str() + space + 1, 0, 0x3FFF, number))
        file = trimmed(file.substr(0, space));
    std::string reason;
    std::optional<std::vector<uint8_t>> data = jx::read_whole_file(file, &reason);
    if (!data) return command_error("cannot read " + file + ": " + reason);
    reason = device.send_file(std::move(*data), number, file);
    if (!reason.empty()) command_error("cannot send " + file + ": " + reason);
}

// Reads commands from stdin until its end or until stopped; the end of stdin changes nothing
// else.
class CommandReader {
  public:
    explicit CommandReader(jx::VirtualDevice& device)
        : device_(device), thread_([this] { run(); }) {}
    ~CommandReader() {
        stop_ = true;
        thread_.join();
    }

  private:
    void run() {
        std::string pending;
        char buffer[4096];
        while (!stop_) {
            pollfd fd{0, POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) continue;  // the time-out only lets stop_ be seen
            const ssize_t got = ::read(0, buffer, sizeof buffer);
            if (got <= 0) return;
            pending.append(buffer, static_cast<size_t>(got));
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                run_command(device_, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }

    jx::VirtualDevice& device_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    enum {
        o_name = 1000,
        o_channel,
        o_highest,
        o_out,
        o_no_pacing,
        o_nak,
        o_nak_always,
        o_nak_offset,
        o_wait,
        o_wait_ms,
        o_cancel,
        o_silent,
        o_unplug,
        o_other,
        o_delay,
        o_hold,
        o_packet_timeout,
        o_bad_checksum,
        o_wrong_number,
        o_cut_short,
        o_plain_before,
        o_zero_period,
        o_faults_always,
        o_send_unplug,
        o_send_stall,
        o_help,
        o_version
    };
    const option options[] = {
        {"name", required_argument, nullptr, o_name},
        {"channel", required_argument, nullptr, o_channel},
        {"highest-speed", required_argument, nullptr, o_highest},
        {"out", required_argument, nullptr, o_out},
        {"no-pacing", no_argument, nullptr, o_no_pacing},
        {"nak", required_argument, nullptr, o_nak},
        {"nak-offset", required_argument, nullptr, o_nak_offset},
        {"nak-always", no_argument, nullptr, o_nak_always},
        {"wait", required_argument, nullptr, o_wait},
        {"wait-ms", required_argument, nullptr, o_wait_ms},
        {"cancel", required_argument, nullptr, o_cancel},
        {"silent-from", required_argument, nullptr, o_silent},
        {"unplug", required_argument, nullptr, o_unplug},
        {"other-channel", no_argument, nullptr, o_other},
        {"answer-delay", required_argument, nullptr, o_delay},
        {"hold", required_argument, nullptr, o_hold},
        {"packet-timeout", required_argument, nullptr, o_packet_timeout},
        {"send-bad-checksum", required_argument, nullptr, o_bad_checksum},
        {"send-wrong-number", required_argument, nullptr, o_wrong_number},
        {"send-cut-short", required_argument, nullptr, o_cut_short},
        {"send-plain-before", required_argument, nullptr, o_plain_before},
        {"send-zero-period", no_argument, nullptr, o_zero_period},
        {"send-faults-always", no_argument, nullptr, o_faults_always},
        {"send-unplug", required_argument, nullptr, o_send_unplug},
        {"send-stall", required_argument, nullptr, o_send_stall},
        {"help", no_argument, nullptr, o_help},
        {"version", no_argument, nullptr, o_version},
        {nullptr, 0, nullptr, 0},
    };
    std::string name = "jx-device";
    std::string out_path;
    std::vector<std::string> hold_paths;
    bool paced = true;
    jx::DeviceConfig config;
    config.keep_messages = false;  // reported as they come; --out keeps the bytes
    int value = 0;
    int option_index = 0;
    int c;
    opterr = 0;
    while ((c = getopt_long(argc, argv, "h", options, &option_index)) != -1) {
        const char* arg = optarg;
        bool ok = true;
        switch (c) {
            case o_name:
                name = arg;
                break;
            case o_out:
                out_path = arg;
                break;
            case o_no_pacing:
                paced = false;
                break;
            case o_nak_always:
                config.faults.nak_always = true;
                break;
            case o_nak_offset:
                ok = parse_int(arg, -127, 127, value);
                config.faults.nak_offset = value;
                break;
            case o_other:
                config.faults.other_channel = true;
                break;
            case o_hold:
                hold_paths.push_back(arg);
                break;
            case o_zero_period:
                config.send_faults.zero_period = true;
                break;
            case o_faults_always:
                config.send_faults.always = true;
                break;
            case o_packet_timeout:
                ok = parse_int(arg, 1, 600000, value);
                config.packet_timeout = std::chrono::milliseconds(value);
                break;
            case o_bad_checksum:
            case o_wrong_number:
            case o_cut_short:
            case o_plain_before:
            case o_send_unplug:
            case o_send_stall: {
                ok = parse_int(arg, 0, 1 << 30, value);
                jx::SendFaults& f = config.send_faults;
                std::optional<int>& packet = c == o_bad_checksum   ? f.bad_checksum
                                             : c == o_wrong_number ? f.wrong_number
                                             : c == o_cut_short    ? f.cut_short
                                             : c == o_plain_before ? f.plain_before
                                             : c == o_send_unplug  ? f.unplug_before
                                                                   : f.stall_before;
                packet = value;
                break;
            }
            case 'h':
            case o_help:
                print_help();
                return jx::finish_output("jx-device", 0);
            case o_version:
                std::printf("jx-device %s\n", JX_VERSION);
                return jx::finish_output("jx-device", 0);
            case o_channel:
                ok = parse_int(arg, 0, 127, value);
                config.channel = static_cast<uint8_t>(value);
                break;
            case o_highest:
                ok = parse_int(arg, 1, 11, value);
                config.highest_speed_index = value;
                break;
            case o_wait_ms:
                ok = parse_int(arg, 0, 600000, value);
                config.faults.wait_time = std::chrono::milliseconds(value);
                break;
            case o_delay:
                ok = parse_int(arg, 0, 600000, value);
                config.faults.answer_delay = std::chrono::milliseconds(value);
                break;
            case o_nak:
            case o_wait:
            case o_cancel:
            case o_silent:
            case o_unplug: {
                ok = parse_int(arg, -1, 1 << 30, value);
                std::optional<int>& packet = c == o_nak      ? config.faults.nak_packet
                                             : c == o_wait   ? config.faults.wait_packet
                                             : c == o_cancel ? config.faults.cancel_packet
                                             : c == o_silent ? config.faults.silent_from
                                                             : config.faults.unplug_packet;
                packet = value;
                break;
            }
            default:
                std::fprintf(stderr, "jx-device: unknown option '%s' (try --help)\n",
                             argv[optind - 1]);
                return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "jx-device: bad value '%s' for %s\n", arg, argv[optind - 2]);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "jx-device: unexpected argument '%s' (try --help)\n", argv[optind]);
        return 2;
    }

    // Signals reach only the main thread, which waits for them below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // The samples to hold, read before any port is made.
    std::vector<jx::ReceivedSample> held;
    for (const std::string& path : hold_paths) {
        std::string reason;
        std::optional<std::vector<uint8_t>> data = jx::read_whole_file(path, &reason);
        held.emplace_back();
        if (data) reason = jx::sample_from_file(data->data(), data->size(), held.back());
        if (!reason.empty()) {
            std::fprintf(stderr, "jx-device: cannot hold %s: %s\n", path.c_str(), reason.c_str());
            return 1;
        }
    }

    Receiver receiver;
    if (!out_path.empty()) {
        receiver.copy = std::fopen(out_path.c_str(), "wb");
        if (!receiver.copy) {
            std::fprintf(stderr, "jx-device: cannot write %s\n", out_path.c_str());
            return 1;
        }
    }
    std::unique_ptr<jx::ServerMidiBackend> backend =
        jx::make_server_backend(name, jx::midi_api_from_environment());
    // A device whose server is gone can neither take nor send anything: it ends, saying so.
    backend->on_server_gone([]() noexcept { ::kill(::getpid(), SIGUSR2); });
    std::string error;
    auto out = backend->open_virtual_out("out", error);
    if (!out) {
        std::fprintf(stderr, "jx-device: %s\n", error.c_str());
        return 1;
    }
    ServerLink link(std::move(out), paced);
    jx::VirtualDevice device(link, config);
    receiver.device = &device;
    for (size_t k = 0; k < held.size(); ++k)
        device.hold_sample(std::move(held[k]), static_cast<int32_t>(k));
    device.set_send_observer([&receiver] { report(receiver); });

    jx::EngineThread engine;
    std::unique_ptr<jx::MidiInput> in;
    if (auto failed = jx::open_virtual_input(*backend, engine, "in", &receiver, in)) {
        std::fprintf(stderr, "jx-device: %s\n", failed->text.c_str());
        return 1;
    }
    if (auto failed = in->start()) {
        std::fprintf(stderr, "jx-device: %s\n", failed->text.c_str());
        return 1;
    }
    print_line({{"event", "ready"},
                {"api", backend->api_name()},
                {"in", backend->virtual_port_name("in", false)},
                {"out", backend->virtual_port_name("out", true)}});
    CommandReader commands(device);

    int signal = 0;
    bool server_gone = false;
    while (sigwait(&signals, &signal) == 0 && (signal == SIGUSR1 || signal == SIGUSR2)) {
        if (signal == SIGUSR2) {
            server_gone = true;
            break;
        }
        // The device pulled its cable: both ports go away, the program stays until stopped.
        if (!in) continue;
        receiver.closing = true;
        in.reset();
        link.close_output();
        print_line({{"event", "unplugged"}});
    }
    if (in) {
        receiver.closing = true;
        in.reset();
    }
    if (receiver.copy) std::fclose(receiver.copy);
    if (server_gone) {
        std::fprintf(stderr, "jx-device: the %s server has gone away\n",
                     backend->api_name().c_str());
        return 1;
    }
    return 0;
}
