// jx-cli receive: records what arrives at a MIDI input as the Receive button does, through the
// same recorder, and writes every entry stored to a folder as it is stored.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "audio/sds.h"
#include "cli/cli.h"
#include "cli/cli_midi.h"
#include "cli/received_files.h"
#include "midi/midi_ports.h"
#include "midi/recorder.h"
#include "midi/sample_request.h"
#include "transfer/transfer_list.h"

namespace jx::cli {

namespace {

// A time limit in nanoseconds as the messages say it: "5 seconds", "1 second", "0.5 seconds".
std::string seconds_text(int64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(ns) / 1e9);
    return std::string(text) + (ns == 1000000000 ? " second" : " seconds");
}

const char* const receive_help =
    "usage: jx-cli receive --from PORT --out DIR [--to PORT] [--format sds|wav|aiff|none]\n"
    "                      [--handshake|--no-handshake] [--idle SECONDS] [--count N]\n"
    "                      [--request N] [--sds-dev N]\n\n"
    "Records what arrives at a MIDI input as Receive does: plain SysEx byte for byte, Sample\n"
    "Dump Standard dumps in the chosen form, the device's Turbo answers and name messages taken\n"
    "in and not recorded. PORT is an index of 'jx-cli ports' or a case-insensitive part of a\n"
    "port's name. The settings come from the preferences; these options change them for this\n"
    "run only. Recording goes on until Ctrl-C, SIGTERM or SIGHUP (Stop Rec), until --idle\n"
    "seconds pass without a byte once the first one came, until --count dumps were stored, or\n"
    "until it ends by itself (below).\n\n"
    "Every entry stored (a complete sample dump, and what was received when recording stops) is\n"
    "written to DIR at once as <name><ext>: the name \"unnamed<n>\" or the dump's four-character\n"
    "name, the extension .wav, .aif or .syx from the content; a name already written, or of a\n"
    "file already in DIR, gets -2, -3, ... before the extension (nothing in DIR is replaced),\n"
    "and '/' or a control character in a name becomes '_'. One JSON line per entry: {\"name\",\n"
    "\"file\", \"size\"}; a sample dump cut off before its end adds \"complete\": false,\n"
    "\"frames\" and \"frames_announced\" and is named on stderr. DIR is checked before recording;\n"
    "an entry it refuses later goes to a new folder jx-received-* in $TMPDIR (or /tmp), named on\n"
    "stderr and in its line.\n\n"
    "  --from PORT      the MIDI input to record from\n"
    "  --to PORT        the MIDI output the handshake replies and the dump request go to\n"
    "                   (without it the preferences' output is used)\n"
    "  --out DIR        the folder the entries are written to (made when missing)\n"
    "  --format FORM    how sample dumps are stored: sds (their own messages), wav, aiff, or\n"
    "                   none (the whole recording as one entry)\n"
    "  --handshake      answer sample dumps under the SDS handshake (ACK, NAK, CANCEL)\n"
    "  --no-handshake   answer nothing; the first bad packet ends the recording\n"
    "  --idle SECONDS   stop when nothing arrived for this long after the first byte (a\n"
    "                   message counts when it has arrived whole)\n"
    "  --count N        stop once N dumps were stored\n"
    "  --request N      first ask the device for its sample number N (SDS dump request);\n"
    "                   when nothing comes within --idle seconds (default 5), exit 1\n"
    "  --sds-dev N      the SDS device number of the request, 0 to 127\n"
    "  --help           this text\n\n"
    "On a terminal a progress line on stderr shows the bytes received, the dumps stored and the\n"
    "packets refused (NAK). Exit status 0 after --idle or --count; 128 + the signal after\n"
    "Ctrl-C (130), SIGTERM or SIGHUP, with what was received written; 1 on a port error, a file\n"
    "that cannot be written, a dump cut off before its end, or a recording that ended by itself\n"
    "(a dump given up after its packets were refused, the receive buffer of 8 MiB full, the input\n"
    "gone, nothing in answer to --request); 2 for a usage error.\n";

constexpr const char* command = "receive";

// Ctrl-C (and SIGTERM, SIGHUP): Stop Rec, seen by the main loop within its poll; the signal's
// number.
volatile sig_atomic_t interrupted = 0;

void on_interrupt(int signal) {
    interrupted = signal;
}

// How long a --request without --idle waits for the first byte of the answer.
constexpr double request_answer_seconds = 5;
// How often the main loop asks the server whether the input's port is still there.
constexpr auto port_check_interval = std::chrono::milliseconds(500);

// Whether the server still lists an input port of this name.
bool input_listed(MidiService& service, const std::string& name) {
    const int count = midi_in_count(service);
    for (int i = 0; i < count; ++i)
        if (midi_in_name(service, i) == name) return true;
    return false;
}

struct Options {
    std::string from, to, out;
    std::optional<double> idle;
    std::optional<int32_t> count;
    std::optional<int32_t> request;
};

std::string apply_options(const Arguments& args, Settings& settings, Options& options) {
    for (const auto& [name, value] : args.options) {
        if (name == "from") {
            options.from = value;
        } else if (name == "to") {
            options.to = value;
        } else if (name == "out") {
            if (value.empty()) return "--out needs a folder name";
            options.out = value;
        } else if (name == "format") {
            const int format = read_choice(value, {"sds", "wav", "aiff", "none"});
            if (format < 0) return "--format takes sds, wav, aiff or none";
            settings.rec_format = format;
        } else if (name == "handshake" || name == "no-handshake") {
            settings.ignore_hs = name == "no-handshake";
        } else if (name == "idle") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds > 0) || seconds > 86400)
                return "--idle takes a number of seconds (a fraction is fine)";
            options.idle = seconds;
        } else if (name == "count") {
            options.count = read_decimal<int32_t>(value, 1, INT32_MAX);
            if (!options.count) return "--count takes a number from 1";
        } else if (name == "request") {
            options.request = read_decimal<int32_t>(value, 0, sds::max_sample_number);
            if (!options.request)
                return "--request takes a sample number from 0 to " +
                       std::to_string(sds::max_sample_number);
        } else if (name == "sds-dev") {
            const std::optional<uint8_t> n = read_sds_device(value);
            if (!n) return text_sds_dev_range;
            settings.sds_dev = *n;
        }
    }
    if (!args.operands.empty()) return "unexpected argument '" + args.operands.front() + "'";
    if (options.from.empty()) return "--from is missing";
    if (options.out.empty()) return "--out is missing";
    return {};
}

// Bytes handed to the recorder and when the last of them came: counted on the engine thread
// before the recorder takes them, read by the main loop.
struct Arrivals {
    Recorder* recorder = nullptr;
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> last_ns{0};  // steady clock
};

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void show_progress(const TransferState& state, const Arrivals& arrivals, size_t stored) {
    const int64_t bytes = arrivals.bytes.load();
    if (bytes == 0)
        std::fputs("\r\033[Kwaiting for the device...", stderr);
    else
        std::fprintf(stderr, "\r\033[KReceiving: %lld bytes, %zu stored, %d NAK",
                     static_cast<long long>(bytes), stored, state.naks_sent.load());
    std::fflush(stderr);
}

}  // namespace

int cmd_receive(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv,
                                    {{"from", "a port"},
                                     {"to", "a port"},
                                     {"out", "a folder name"},
                                     {"format", "sds, wav, aiff or none"},
                                     {"handshake"},
                                     {"no-handshake"},
                                     {"idle", "a number of seconds"},
                                     {"count", "a number"},
                                     {"request", "a sample number"},
                                     {"sds-dev", "a number"}});
    if (args.help) return print_help(receive_help);
    if (!args.problem.empty()) return usage_error(command, args.problem);
    Settings settings;
    load_config(settings);
    Options options;
    std::string problem = apply_options(args, settings, options);
    if (!problem.empty()) return usage_error(command, problem);

    CliMidi midi;
    settings.midi_in = find_port(*midi.service, false, options.from, problem);
    if (settings.midi_in < 0) return usage_error(command, problem);
    settings.midi_out = choose_port(*midi.service, true, options.to, settings.midi_out,
                                    settings.midi_out_name, problem);
    if (settings.midi_out < 0 && !problem.empty())
        return options.to.empty() ? failure(command, problem) : usage_error(command, problem);
    // The ports are found for this run: by index from here on.
    settings.midi_in_name.clear();
    settings.midi_out_name.clear();
    if (settings.midi_out < 0 && options.request)
        return usage_error(command, "--request needs an output to ask on: give --to PORT");
    if (settings.midi_out < 0 && settings.ignore_hs == 0)
        return usage_error(command,
                           "the SDS handshake answers the device: give --to PORT, or "
                           "--no-handshake");
    if (!make_received_folder(options.out))
        return failure(command, "cannot make the folder '" + options.out + "'");
    const std::string unwritable = check_received_folder(options.out);
    if (!unwritable.empty())
        return failure(command, "cannot write into '" + options.out + "': " + unwritable);
    const std::string from_name = midi_in_name(*midi.service, settings.midi_in);

    TransferList list;
    std::mutex list_mutex;
    MidiPorts ports;
    wire_ports(ports, midi, settings);
    Recorder recorder;
    recorder.state = &midi.state;
    recorder.settings = &settings;
    recorder.list = &list;
    recorder.list_mutex = &list_mutex;
    connect_recorder(ports, recorder);
    // What arrives passes through here first, so that the idle time and the progress line see
    // the bytes as they come.
    Arrivals arrivals;
    arrivals.recorder = &recorder;
    ports.hooks.recorder = &arrivals;
    ports.hooks.record = [](void* instance, std::span<const SysexPiece> pieces) {
        auto& a = *static_cast<Arrivals*>(instance);
        int64_t count = 0;
        for (const SysexPiece& piece : pieces)
            if (piece.kind != SysexPiece::lost) count += static_cast<int64_t>(piece.size);
        a.bytes.fetch_add(count);
        a.last_ns.store(now_ns());
        record_pieces(*a.recorder, pieces);
    };
    ports.hooks.stop_recording = [](void* instance) {
        stop_recording(*static_cast<Arrivals*>(instance)->recorder);
    };

    on_ctrl_c(on_interrupt);

    midi.state.receive_state = receive_idle;
    if (settings.midi_out >= 0) {
        open_midi_out(ports);
        if (ports.open_out_index.load() < 0) {
            return failure(command, port_failure(midi, text_out_port_failed));
        }
    }
    start_recording(recorder);
    if (ports.open_in_index.load() < 0) {
        close_midi_out(ports);
        std::string reason = port_failure(midi, text_in_port_failed);
        for (const PortError& error : port_errors(ports))
            if (error.text != text_in_port_failed) reason = error.text;
        return failure(command, reason);
    }
    if (!is_recording(recorder)) {
        close_midi_in(ports);
        close_midi_out(ports);
        return failure(command, "no memory for the receive buffer");
    }
    if (options.request) request_sample(recorder, *options.request);
    const int64_t started_ns = now_ns();

    const bool terminal = ::isatty(2);
    ReceivedFiles files;
    files.folder = options.out;
    bool written = true;
    bool ended_by_itself = false;
    std::string why_ended;
    const auto idle_limit = options.idle ? static_cast<int64_t>(*options.idle * 1e9) : int64_t{-1};
    // A request waits for its answer as long as --idle allows, or a few seconds.
    const auto request_limit =
        static_cast<int64_t>((options.idle ? *options.idle : request_answer_seconds) * 1e9);
    auto next_port_check = std::chrono::steady_clock::now() + port_check_interval;
    uint64_t sysex_bytes_seen = 0;
    const auto write_stored = [&] {
        written =
            write_new_entries(files, command, list, list_mutex, &recorder.partial_dumps) && written;
    };
    // The window's timer: every 100 ms the entries stored are written and the limits checked.
    for (;;) {
        wait_transfer_until(
            midi.state, std::chrono::steady_clock::now() + std::chrono::milliseconds(100),
            [&] { return interrupted || midi.state.receive_state.load() != receive_recording; });
        write_stored();
        if (terminal) show_progress(midi.state, arrivals, files.entries_written);
        if (interrupted) break;
        // What comes next would be lost as this entry was: the receive ends now.
        if (files.lost_entries > 0) {
            ended_by_itself = true;
            why_ended =
                "an entry could be written neither to the folder nor to the temporary folder";
            break;
        }
        if (midi.state.receive_state.load() != receive_recording) {
            ended_by_itself = true;
            std::lock_guard lock(recorder.mutex);
            why_ended = recorder.stopped_full
                            ? "the receive buffer of 8 MiB is full"
                            : "a sample dump was given up after its packets were refused";
            break;
        }
        if (options.count && files.entries_written >= static_cast<size_t>(*options.count)) break;
        // Bytes that came while no recording ran (before the request's dump began) are arrivals
        // all the same.
        const uint64_t sysex_bytes = ports.in ? ports.in->sysex_bytes() : 0;
        if (sysex_bytes != sysex_bytes_seen) {
            sysex_bytes_seen = sysex_bytes;
            arrivals.last_ns.store(now_ns());
        }
        const int64_t last = arrivals.last_ns.load();
        if (idle_limit >= 0 && last != 0 && now_ns() - last >= idle_limit) break;
        if (options.request && last == 0 && now_ns() - started_ns >= request_limit) {
            ended_by_itself = true;
            why_ended = "nothing came within " + seconds_text(request_limit) +
                        " of the request for sample " + std::to_string(*options.request) +
                        " (a sample the device does not hold?)";
            break;
        }
        // The device switched off or the server gone: nothing more can come.
        if (std::chrono::steady_clock::now() >= next_port_check) {
            next_port_check = std::chrono::steady_clock::now() + port_check_interval;
            if (!input_listed(*midi.service, from_name)) {
                ended_by_itself = true;
                why_ended = "the input '" + from_name + "' is gone";
                break;
            }
        }
    }
    // Stop Rec: what was received of a dump still coming becomes an entry, the device hears a
    // CANCEL. Everything stored is written before any port is closed: a close that hangs on a
    // server gone must not cost what arrived.
    stop_recording(recorder);
    int32_t cut_off = 0;
    {
        std::lock_guard lock(recorder.mutex);
        cut_off = recorder.stopped_inside;
    }
    if (terminal) std::fputs("\r\033[K", stderr);
    write_stored();
    const uint64_t lost = ports.in ? ports.in->lost_bytes() : 0;
    close_midi_in(ports);
    close_midi_out(ports);

    // A port that failed on the way (a handshake reply that could not be sent) says why.
    const std::vector<PortError> errors = port_errors(ports);
    for (const PortError& error : errors) failure(command, error.text);
    if (lost > 0)
        failure(command, std::to_string(lost) +
                             " bytes were lost at the MIDI input: they came faster than they "
                             "could be taken");
    if (interrupted) {
        std::fprintf(stderr, "jx-cli receive: stopped\n");
        return 128 + interrupted;
    }
    if (ended_by_itself) failure(command, "the recording ended by itself: " + why_ended);
    if (cut_off > 0)
        failure(command, "the recording stopped inside a SysEx message: its first " +
                             std::to_string(cut_off) + " bytes are kept without their end");
    if (!written || !errors.empty() || lost > 0 || ended_by_itself || files.partial_dumps > 0 ||
        cut_off > 0)
        return 1;
    return 0;
}

}  // namespace jx::cli
