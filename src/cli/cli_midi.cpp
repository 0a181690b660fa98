#include "cli/cli_midi.h"

#include <signal.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace jx::cli {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// The process number keeps this program's client names apart from another jx-cli's.
CliMidi::CliMidi()
    : server(make_server_backend("jx-cli-" + std::to_string(::getpid()),
                                 midi_api_from_environment())) {
    service->backends = {server.get(), &loopback};
    connect_transfer_state(*service, state);
}

CliMidi::~CliMidi() {
    service.reset();
    state.engine = nullptr;
}

int find_port(MidiService& service, bool output, const std::string& text, std::string& problem) {
    const int count = output ? midi_out_count(service) : midi_in_count(service);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(output ? midi_out_name(service, i) : midi_in_name(service, i));
    const char* direction = output ? "output" : "input";
    if (!text.empty() && std::all_of(text.begin(), text.end(), ::isdigit)) {
        const int index = text.size() < 10 ? std::stoi(text) : count;
        if (index < count) return index;
    }
    std::vector<int> matches;
    const std::string wanted = lower(text);
    for (int i = 0; i < count; ++i) {
        const std::string name = lower(names[i]);
        if (name == wanted) return i;
        if (!wanted.empty() && name.find(wanted) != std::string::npos) matches.push_back(i);
    }
    if (matches.size() == 1) return matches.front();
    if (matches.empty()) {
        problem = std::string("no MIDI ") + direction + "s match '" + text + "'; the " + direction +
                  "s are:";
        for (int i = 0; i < count; ++i) matches.push_back(i);
        if (count == 0) problem += " none";
    } else {
        problem = std::string("several MIDI ") + direction + "s match '" + text +
                  "'; give one of them exactly:";
    }
    for (int i : matches) problem += "\n  " + std::to_string(i) + ": " + names[i];
    return -1;
}

int choose_port(MidiService& service, bool output, const std::string& option, int32_t configured,
                const std::string& configured_name, std::string& problem) {
    if (!option.empty()) return find_port(service, output, option, problem);
    if (!configured_name.empty()) {
        const int found = configured_port(service, output, configured, configured_name);
        if (found < 0)
            problem = std::string("the MIDI ") + (output ? "output" : "input") + " '" +
                      configured_name + "' chosen in the settings is not there";
        return found;
    }
    const int count = output ? midi_out_count(service) : midi_in_count(service);
    return configured < count ? configured : -1;
}

void wire_ports(MidiPorts& ports, CliMidi& midi, const Settings& settings) {
    ports.service = midi.service.get();
    ports.settings = &settings;
    ports.state = &midi.state;
}

std::vector<PortError> port_errors(MidiPorts& ports) {
    std::vector<PortError> errors = ports.errors.take();
    std::erase_if(errors, [](const PortError& error) { return error.missing(); });
    return errors;
}

std::string port_failure(const CliMidi& midi, const char* text) {
    std::string reason = text;
    std::string why = midi_open_error_text(*midi.service);
    if (why.empty()) why = midi.server->unavailable_reason();
    if (!why.empty()) reason += ": " + why;
    return reason;
}

#ifdef _WIN32
// The console calls the handler on a thread of its own; it runs once, as SA_RESETHAND has it.
void on_ctrl_c(void (*handler)(int)) {
    static void (*ctrl_c_handler)(int) = nullptr;
    ctrl_c_handler = handler;
    SetConsoleCtrlHandler(
        [](DWORD event) -> BOOL {
            if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
            if (auto* h = std::exchange(ctrl_c_handler, nullptr)) {
                h(SIGINT);
                return TRUE;
            }
            return FALSE;
        },
        TRUE);
}
#else
void on_ctrl_c(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    // A terminal closed or a service manager's stop ends the transfer as Ctrl-C does: the ports
    // closed, what arrived written.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}
#endif

}  // namespace jx::cli
