// jx-cli config: shows the settings in effect and changes the preference values.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/config.h"
#include "cli/commands.h"
#include "platform/registry.h"

namespace jx::cli {

namespace {

const char* const config_help =
    "usage: jx-cli config [--set NAME=VALUE ...]\n\n"
    "Prints the settings in effect (what the registry store holds over the defaults) as one\n"
    "JSON object keyed by the registry value names. With --set, changes preference values as\n"
    "the preferences dialog's Ok does, stores the ten preferences and prints the result.\n\n"
    "  NAME                    VALUE\n"
    "  midi_in                 a MIDI input device index, or -1 for none\n"
    "  midi_outs (midi_out)    a MIDI output device index 0 to 255, or -1 for none\n"
    "  midi_del                milliseconds between SysEx messages, 0 to 4294967295\n"
    "  sds_dev                 SDS device number; its lowest 8 bits are kept (300 gives 44)\n"
    "  turbo_lim               Turbo speed index 1 to 11 (11: no limit)\n"
    "  rec_format              0 SDS, 1 WAV, 2 AIFF, 3 None, or -1\n"
    "  syx_reload, use_xsds, ignore_hs, send_zbname    0 or 1\n\n"
    "The store is $XDG_CONFIG_HOME/Tessarin/registry.reg (default ~/.config). A bad name or\n"
    "value changes nothing and exits with status 2.\n";

// The whole text as a decimal number with an optional minus sign.
bool read_number(const std::string& text, long long& number) {
    if (text.empty() || text.size() > 12) return false;
    size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    for (size_t k = start; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    number = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// Applies one NAME=VALUE; an empty result, or the reason it cannot.
std::string apply(Settings& s, const std::string& assignment) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos) return "expected NAME=VALUE, got '" + assignment + "'";
    std::string name = assignment.substr(0, eq);
    std::string text = assignment.substr(eq + 1);
    struct Preference {
        const char* name;
        long long low, high;
        int32_t* setting;
    };
    const Preference preferences[] = {
        {"midi_in", -1, INT32_MAX, &s.midi_in}, {"midi_outs", -1, 255, &s.midi_out},
        {"midi_out", -1, 255, &s.midi_out},     {"midi_del", 0, UINT32_MAX, &s.midi_del},
        {"turbo_lim", 1, 11, &s.turbo_lim},     {"rec_format", -1, 3, &s.rec_format},
        {"syx_reload", 0, 1, &s.syx_reload},    {"use_xsds", 0, 1, &s.use_xsds},
        {"ignore_hs", 0, 1, &s.ignore_hs},      {"send_zbname", 0, 1, &s.send_zbname},
        {"sds_dev", 0, UINT32_MAX, nullptr}};
    for (const Preference& p : preferences) {
        if (name != p.name) continue;
        long long value = 0;
        if (!read_number(text, value) || value < p.low || value > p.high)
            return "bad value '" + text + "' for " + name + " (" + std::to_string(p.low) + " to " +
                   std::to_string(p.high) + ")";
        // Unsigned fields keep their 32 bits in the signed setting, as the dialog stores them.
        if (p.setting != nullptr)
            *p.setting = static_cast<int32_t>(static_cast<uint32_t>(value));
        else
            s.sds_dev = static_cast<uint8_t>(value & 0xFF);
        return "";
    }
    if (name == "win_w" || name == "win_h" || name == "win_x" || name == "win_y")
        return "'" + name + "' is the window placement, not a preference";
    return "unknown preference '" + name + "'";
}

// midi_del is shown unsigned, as it is entered.
void print_settings(const Settings& s) {
    std::printf(
        "{\"midi_in\": %d, \"midi_del\": %u, \"syx_reload\": %d, \"use_xsds\": %d, "
        "\"ignore_hs\": %d, \"win_w\": %d, \"win_h\": %d, \"win_x\": %d, \"win_y\": %d, "
        "\"midi_outs\": %d, \"turbo_lim\": %d, \"sds_dev\": %d, \"rec_format\": %d, "
        "\"send_zbname\": %d}\n",
        s.midi_in, static_cast<uint32_t>(s.midi_del), s.syx_reload, s.use_xsds, s.ignore_hs,
        s.win_w, s.win_h, s.win_x, s.win_y, s.midi_out, s.turbo_lim, s.sds_dev, s.rec_format,
        s.send_zbname);
}

}  // namespace

int cmd_config(int argc, char** argv) {
    bool set = false;
    std::vector<std::string> assignments;
    for (int k = 0; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--help")) {
            std::fputs(config_help, stdout);
            return 0;
        } else if (!std::strcmp(argv[k], "--set")) {
            set = true;
        } else if (set && argv[k][0] != '-') {
            assignments.push_back(argv[k]);
        } else {
            std::fprintf(stderr,
                         "jx-cli config: unexpected argument '%s' (try 'jx-cli config --help')\n",
                         argv[k]);
            return 2;
        }
    }
    if (set && assignments.empty()) {
        std::fputs("jx-cli config: --set needs NAME=VALUE (try 'jx-cli config --help')\n", stderr);
        return 2;
    }

    Settings settings;
    std::string problem;
    if (!set) {
        // The defaults are what the program would use then; they are shown, but the user hears
        // that they are not what is stored.
        bool read = load_config(settings, &problem);
        if (!read)
            std::fprintf(stderr, "jx-cli config: %s; showing the defaults\n", problem.c_str());
        print_settings(settings);
        return read ? 0 : 1;
    }
    // The values are applied to what the store holds at the moment of writing, under its lock,
    // so that two runs at once keep each other's changes.
    std::string usage_problem;
    auto change = [&](Settings& s) {
        for (const std::string& assignment : assignments) {
            usage_problem = apply(s, assignment);
            if (!usage_problem.empty()) return false;
        }
        return true;
    };
    // A bad name or value is refused before the store is touched.
    Settings trial;
    if (!change(trial)) {
        std::fprintf(stderr, "jx-cli config: %s\n", usage_problem.c_str());
        return 2;
    }
    if (!update_prefs(settings, change, &problem)) {
        std::fprintf(stderr, "jx-cli config: %s\n", problem.c_str());
        return 1;
    }
    print_settings(settings);
    return 0;
}

}  // namespace jx::cli
