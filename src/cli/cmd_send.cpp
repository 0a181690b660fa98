// jx-cli send: the files as entries of a transfer list, all selected, sent by the send engine
// itself as the main window's Send does, to a MIDI output and, for the answers, from an input.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/config.h"
#include "audio/sample_words.h"
#include "cli/cli.h"
#include "cli/cli_midi.h"
#include "midi/send_engine.h"
#include "transfer/add_files.h"

namespace jx::cli {

namespace {

const char* const send_help =
    "usage: jx-cli send FILE... --to PORT [--from PORT] [--delay MS] [--handshake|--no-handshake]\n"
    "                   [--xsds] [--zbname] [--sds-dev N] [--samplepos N] [--turbo]\n\n"
    "Sends the files in order as Send does: SysEx files message by message, WAV, AIFF and AIFC\n"
    "samples as MIDI Sample Dumps. PORT is an index of 'jx-cli ports' or a case-insensitive part\n"
    "of a port's name. The settings come from the preferences; these options change them for\n"
    "this run only.\n\n"
    "  --to PORT         the MIDI output to send to\n"
    "  --from PORT       the MIDI input the device answers on (needed by the handshake and\n"
    "                    --turbo; without it the preferences' input is used)\n"
    "  --delay MS        pause after each SysEx message, in milliseconds\n"
    "  --handshake       send samples under the SDS handshake\n"
    "  --no-handshake    send samples without waiting for answers\n"
    "  --xsds            extended dump header and sample name message\n"
    "  --zbname          the KVR-9ZB name message after each sample's header\n"
    "  --sds-dev N       the SDS device number, 0 to 127\n"
    "  --samplepos N     the files go to sample numbers from N - 1 on, one number for each\n"
    "                    file in order, SysEx files too (default 1): the third file, if a\n"
    "                    sample, goes to N + 1\n"
    "  --turbo           ask the device for its Turbo speed first and print the speed in force\n"
    "  --help            this text\n\n"
    "On a terminal a progress line is shown on stderr. At the end one JSON line per entry:\n"
    "  {\"file\": ..., \"type\": ..., \"sent\": n, \"result\": \"sent\"|\"stopped\"|\"not sent\"}\n"
    "Under the handshake the device has 2 seconds to answer a dump header, then 65 ms for the\n"
    "sample name message (--xsds) and for each packet (a WAIT gives 5 seconds more). A file\n"
    "that is neither SysEx nor a sample, or that cannot be read, is refused before anything is\n"
    "sent.\n"
    "Exit status 0 when everything was sent; 1 on a file refused, a port error, a cancel from\n"
    "the device, a handshake time-out or a NAK for a packet other than the last, with the reason\n"
    "on stderr; 2 for a usage error; 128 + the signal after Ctrl-C (130), SIGTERM or SIGHUP,\n"
    "which stop the send as Stop Send does. A dump this side ends tells the device with CANCEL.\n";

constexpr const char* command = "send";

// Ctrl-C (and SIGTERM, SIGHUP): Stop Send, from the signal handler with the two plain stores the
// window makes. `interrupted` holds the signal's number.
std::atomic<TransferState*> interrupted_state{nullptr};
volatile sig_atomic_t interrupted = 0;

void on_interrupt(int signal) {
    interrupted = signal;
    if (TransferState* state = interrupted_state.load()) request_cancel_from_signal(*state);
}

struct Options {
    std::vector<std::string> files;
    std::string to, from;
    bool turbo = false;
    std::string samplepos = "1";
};

// Whether Send finds a whole message in the entry: an F0 with an F7 after it.
bool holds_sysex_message(const Entry& entry) {
    const uint8_t* begin = entry.bytes();
    const uint8_t* end = begin + entry.length();
    const uint8_t* start = std::find(begin, end, uint8_t{0xF0});
    return std::find(start, end, uint8_t{0xF7}) != end;
}

// The option values over the settings; a usage problem, or empty.
std::string apply_options(const Arguments& args, Settings& settings, Options& options) {
    options.files = args.operands;
    for (const auto& [name, value] : args.options) {
        if (name == "to") {
            options.to = value;
        } else if (name == "from") {
            options.from = value;
        } else if (name == "delay") {
            std::optional<int32_t> ms = read_decimal<int32_t>(value, 0, INT32_MAX);
            if (!ms) return "--delay takes a number of milliseconds";
            settings.midi_del = *ms;
        } else if (name == "handshake" || name == "no-handshake") {
            settings.ignore_hs = name == "no-handshake";
        } else if (name == "xsds") {
            settings.use_xsds = 1;
        } else if (name == "zbname") {
            settings.send_zbname = 1;
        } else if (name == "sds-dev") {
            const std::optional<uint8_t> n = read_sds_device(value);
            if (!n) return text_sds_dev_range;
            settings.sds_dev = *n;
        } else if (name == "samplepos") {
            if (!read_decimal<uint32_t>(value, 0, UINT32_MAX))
                return "--samplepos takes a number from 0 to 4294967295";
            options.samplepos = value;
        } else if (name == "turbo") {
            options.turbo = true;
        }
    }
    if (options.files.empty()) return "no file given";
    if (options.to.empty()) return "--to is missing";
    return {};
}

void show_progress(const TransferList& list, std::mutex& list_mutex, const TransferState& state,
                   const SendReport& p, int total, int& last_count,
                   std::chrono::steady_clock::time_point& last_time) {
    if (p.current < 1) return;
    const auto now = std::chrono::steady_clock::now();
    const int count = state.sent_count.load();
    const double seconds = std::chrono::duration<double>(now - last_time).count();
    const double rate = seconds > 0 && count >= last_count ? (count - last_count) / seconds : 0;
    last_count = count;
    last_time = now;
    std::string name;
    {
        std::lock_guard lock(list_mutex);  // the send thread marks the entries it takes
        for (const ListItem& item : list.items)
            if (item.entry && item.entry->send_mark == 'S') name = item.name;
    }
    std::fprintf(stderr, "\r\033[K(%d/%d) %s: %d sent, %d%%, %.0f/s", p.current, total,
                 name.c_str(), count, state.progress_percent.load(), rate);
    std::fflush(stderr);
}

}  // namespace

int cmd_send(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv,
                                    {{"to", "a port"},
                                     {"from", "a port"},
                                     {"delay", "a number of milliseconds"},
                                     {"handshake"},
                                     {"no-handshake"},
                                     {"xsds"},
                                     {"zbname"},
                                     {"sds-dev", "a number"},
                                     {"samplepos", "a number"},
                                     {"turbo"}});
    if (args.help) return print_help(send_help);
    if (!args.problem.empty()) return usage_error(command, args.problem);
    Settings settings;
    load_config(settings);
    Options options;
    std::string problem = apply_options(args, settings, options);
    if (!problem.empty()) return usage_error(command, problem);

    // The entries, in the order given, all selected.
    TransferList list;
    std::mutex list_mutex;
    bool has_sample = false;
    for (const std::string& file : options.files) {
        std::string reason;
        std::unique_ptr<Entry> entry = read_file_entry(file, &reason);
        if (!entry) return failure(command, "cannot read '" + file + "': " + reason);
        const bool sample = sample_kind_of(entry->bytes(), entry->length()) != 0;
        // Send would pass over such a file without a message and report it sent.
        if (!sample && !holds_sysex_message(*entry))
            return failure(command, "'" + file +
                                        "' is neither SysEx (no F0 ... F7 message in it) nor a "
                                        "WAV, AIFF or AIFC sample; nothing was sent");
        has_sample = has_sample || sample;
        const int index = insert_entry(list, file, std::move(entry), -1);
        set_selected(list, index, true);
    }

    CliMidi midi;
    settings.midi_out = find_port(*midi.service, true, options.to, problem);
    if (settings.midi_out < 0) return usage_error(command, problem);
    settings.midi_in = choose_port(*midi.service, false, options.from, settings.midi_in,
                                   settings.midi_in_name, problem);
    if (settings.midi_in < 0 && !problem.empty())
        return options.from.empty() ? failure(command, problem) : usage_error(command, problem);
    // The ports are found for this run: by index from here on.
    settings.midi_in_name.clear();
    settings.midi_out_name.clear();
    if (settings.midi_in < 0 && has_sample && settings.ignore_hs == 0)
        return usage_error(command,
                           "the SDS handshake needs the device's answers: give --from PORT, or "
                           "--no-handshake");
    if (settings.midi_in < 0 && options.turbo)
        return usage_error(command, "--turbo needs the device's answer: give --from PORT");

    SendProgress progress;
    MidiPorts ports;
    wire_ports(ports, midi, settings);

    interrupted_state = &midi.state;
    on_ctrl_c(on_interrupt);

    open_midi_in(ports);
    int status = 0;
    if (options.turbo && !interrupted) {
        send_turbo_request(ports);
        wait_transfer_until(midi.state,
                            std::chrono::steady_clock::now() + std::chrono::milliseconds(1000),
                            [&] { return midi.state.turbo_speed.load() != 10 || interrupted; });
        if (midi.state.turbo_speed.load() == 10)
            std::fprintf(stderr,
                         "jx-cli send: the device did not answer the Turbo request; "
                         "sending at normal MIDI speed\n");
        print_json_line({{"turbo_speed", midi.state.turbo_speed.load()}});
    }

    open_midi_out(ports);
    if (ports.open_out_index.load() < 0) {
        close_midi_in(ports);
        return failure(command, port_failure(midi, text_out_port_failed));
    }

    const bool terminal = ::isatty(2);
    if (!interrupted) {
        SendContext context{
            &list,    &ports, &settings, &list_mutex, first_sample_number(options.samplepos),
            &progress};
        std::atomic<bool> ended{false};
        SendJob sender;
        // This program's engine runs no other job, so the start cannot be refused; were it,
        // the loop below must not wait for an end that never comes.
        if (!sender.start(context, [&] {
                ended = true;
                notify_transfer(midi.state);
            }))
            ended = true;
        int last_count = 0;
        auto last_time = std::chrono::steady_clock::now();
        // The window's timer: progress every 100 ms.
        while (!wait_transfer_until(
            midi.state, std::chrono::steady_clock::now() + std::chrono::milliseconds(100),
            [&] { return ended.load(); })) {
            if (terminal)
                show_progress(list, list_mutex, midi.state, progress.snapshot(),
                              static_cast<int>(list.items.size()), last_count, last_time);
        }
        sender.join();
        if (terminal) std::fputs("\r\033[K", stderr);
    }
    interrupted_state = nullptr;

    // The port left clean, as at exit: reset and closed, the input closed.
    close_midi_out(ports);
    close_midi_in(ports);

    const SendReport p = progress.snapshot();
    for (size_t i = 0; i < list.items.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        const Entry& entry = *list.items[i].entry;
        std::string result = "not sent";
        int sent = 0;
        if (n <= static_cast<int>(p.sent.size())) {
            result = "sent";
            sent = p.sent[i];
        } else if (n == p.current) {
            result = "stopped";
            const int count = midi.state.sent_count.load();
            sent = count != p.count_at_start ? count : 0;
        }
        print_json_line({{"file", list.items[i].name},
                         {"type", entry_type_text(entry_type(entry))},
                         {"sent", sent},
                         {"result", result}});
    }

    if (interrupted) {
        std::fprintf(stderr, "jx-cli send: stopped\n");
        return 128 + interrupted;
    }
    // The port error that ended the send first, then those met on the way (a Turbo message that
    // did not go out) that say something else.
    const std::vector<PortError> errors = port_errors(ports);
    const auto ended_by = std::find_if(errors.begin(), errors.end(), [](const PortError& error) {
        return error.fault == PortFault::out_send;
    });
    const std::string send_error = ended_by != errors.end() ? ended_by->text : "";
    if (!send_error.empty()) status = failure(command, send_error);
    for (const PortError& error : errors)
        if (error.text != send_error) status = failure(command, error.text);
    if (status == 0 && (midi.state.status_bits.load() & status_remote_cancel)) {
        status = failure(command, "Remotely cancelled.");
    } else if (status == 0 && !p.finished && p.current > 0) {
        // A dump whose header messages (the header, with --xsds the sample name too) were not
        // all answered has sent_count 1: their place.
        const bool header_unanswered = midi.state.sent_count.load() <= 1;
        status = failure(
            command,
            ports.answers.reply == hs_nak
                ? "the answers do not belong to this dump: a NAK for packet " +
                      std::to_string(ports.answers.nak_packet) +
                      ", which was not the last one sent (another sender using the device?)"
            : header_unanswered
                ? "the device did not answer the dump header within 2 seconds (handshake "
                  "time-out): check --from and --sds-dev (the device's number), or send with "
                  "--no-handshake"
                : "the device did not answer in time (handshake time-out)");
    }
    return status;
}

}  // namespace jx::cli
