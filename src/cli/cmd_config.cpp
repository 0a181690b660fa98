// jx-cli config: shows the settings in effect and changes the preference values.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/config.h"
#include "cli/cli.h"
#include "platform/store/registry.h"

namespace jx::cli {

namespace {

const char* const config_help =
    "usage: jx-cli config [--set NAME=VALUE ...]\n\n"
    "Prints the settings in effect (what the registry store holds over the defaults) as one\n"
    "JSON object keyed by the registry value names. With --set, changes preference values as\n"
    "the preferences dialog's Ok does, stores the ten preferences and prints the result.\n\n"
    "  NAME                    VALUE\n"
    "  midi_in                 a MIDI input device index, or -1 for none (forgets midi_in_name)\n"
    "  midi_outs (midi_out)    a MIDI output device index 0 to 255, or -1 for none (forgets\n"
    "                          midi_out_name)\n"
    "  midi_in_name, midi_out_name\n"
    "                          a port's name as `jx-cli ports` shows it, found before the index\n"
    "                          (empty: by index only)\n"
    "  midi_del                milliseconds between SysEx messages, 0 to 4294967295\n"
    "  sds_dev                 SDS device number, 0 to 127\n"
    "  turbo_lim               Turbo speed index 1 to 11 (11: no limit)\n"
    "  rec_format              0 SDS, 1 WAV, 2 AIFF, 3 None, or -1\n"
    "  syx_reload, use_xsds, ignore_hs, send_zbname    0 or 1\n\n"
    "The store is $XDG_CONFIG_HOME/Tessarin/registry.reg (default ~/.config). A bad name or\n"
    "value changes nothing and exits with status 2.\n";

// Applies one NAME=VALUE; an empty result, or the reason it cannot.
std::string apply(Settings& s, const std::string& assignment) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos) return "expected NAME=VALUE, got '" + assignment + "'";
    std::string name = assignment.substr(0, eq);
    std::string text = assignment.substr(eq + 1);
    if (name == "midi_in_name" || name == "midi_out_name") {
        (name == "midi_in_name" ? s.midi_in_name : s.midi_out_name) = text;
        return "";
    }
    // A device chosen by index is no longer the one stored by name.
    if (name == "midi_in") s.midi_in_name.clear();
    if (name == "midi_out" || name == "midi_outs") s.midi_out_name.clear();
    struct Preference {
        const char* name;
        long long low, high;
        int32_t* setting;
    };
    const Preference preferences[] = {{"midi_in", -1, INT32_MAX, &s.midi_in},
                                      {"midi_outs", -1, 255, &s.midi_out},
                                      {"midi_out", -1, 255, &s.midi_out},
                                      {"midi_del", 0, UINT32_MAX, &s.midi_del},
                                      {"turbo_lim", 1, 11, &s.turbo_lim},
                                      {"rec_format", -1, 3, &s.rec_format},
                                      {"syx_reload", 0, 1, &s.syx_reload},
                                      {"use_xsds", 0, 1, &s.use_xsds},
                                      {"ignore_hs", 0, 1, &s.ignore_hs},
                                      {"send_zbname", 0, 1, &s.send_zbname},
                                      {"sds_dev", 0, 127, nullptr}};
    for (const Preference& p : preferences) {
        if (name != p.name) continue;
        std::optional<long long> value = read_decimal(text, p.low, p.high);
        if (!value)
            return "bad value '" + text + "' for " + name + " (" + std::to_string(p.low) + " to " +
                   std::to_string(p.high) + ")";
        // Unsigned fields keep their 32 bits in the signed setting, as the dialog stores them.
        if (p.setting != nullptr)
            *p.setting = static_cast<int32_t>(static_cast<uint32_t>(*value));
        else
            s.sds_dev = static_cast<uint8_t>(*value);
        return "";
    }
    if (name == "win_w" || name == "win_h" || name == "win_x" || name == "win_y")
        return "'" + name + "' is the window placement, not a preference";
    return "unknown preference '" + name + "'";
}

// midi_del is shown unsigned, as it is entered.
void print_settings(const Settings& s) {
    print_json_line({{"midi_in", s.midi_in},
                     {"midi_del", static_cast<uint32_t>(s.midi_del)},
                     {"syx_reload", s.syx_reload},
                     {"use_xsds", s.use_xsds},
                     {"ignore_hs", s.ignore_hs},
                     {"win_w", s.win_w},
                     {"win_h", s.win_h},
                     {"win_x", s.win_x},
                     {"win_y", s.win_y},
                     {"midi_outs", s.midi_out},
                     {"turbo_lim", s.turbo_lim},
                     {"sds_dev", s.sds_dev},
                     {"rec_format", s.rec_format},
                     {"send_zbname", s.send_zbname},
                     {"midi_in_name", s.midi_in_name},
                     {"midi_out_name", s.midi_out_name}});
}

}  // namespace

int cmd_config(int argc, char** argv) {
    // --set takes one NAME=VALUE, and any more that follow it as operands.
    Arguments args = read_arguments(argc, argv, {{"set", "NAME=VALUE"}});
    if (args.help) return print_help(config_help);
    if (!args.problem.empty()) return usage_error("config", args.problem);
    const bool set = !args.options.empty();
    if (!set && !args.operands.empty())
        return usage_error("config", "unexpected argument '" + args.operands[0] + "'");
    std::vector<std::string> assignments;
    for (const auto& option : args.options) assignments.push_back(option.second);
    assignments.insert(assignments.end(), args.operands.begin(), args.operands.end());

    Settings settings;
    std::string problem;
    if (!set) {
        // The defaults are what the program would use then; they are shown, but the user hears
        // that they are not what is stored.
        bool read = load_config(settings, &problem);
        if (!read) failure("config", problem + "; showing the defaults");
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
    if (!change(trial)) return usage_error("config", usage_problem);
    if (!update_prefs(settings, change, &problem)) return failure("config", problem);
    print_settings(settings);
    return 0;
}

}  // namespace jx::cli
