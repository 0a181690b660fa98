#include "app/config.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/os/text.h"
#include "platform/store/registry.h"

namespace jx {

namespace {

constexpr size_t midi_outs_size = 5;
constexpr size_t port_name_size = 1024;

// A 32-bit value read into a zeroed four-byte buffer without looking at its stored type; a
// shorter value fills the low bytes. False when it is missing or longer than four bytes.
bool read_dword(const RegistryFile& store, const std::string& key, const char* name,
                int32_t& setting) {
    uint8_t buffer[4] = {0, 0, 0, 0};
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    if (query_registry_value(store, key, name, &type, buffer, &size) != reg_success) return false;
    setting = static_cast<int32_t>(buffer[0] | (buffer[1] << 8) | (buffer[2] << 16) |
                                   (static_cast<uint32_t>(buffer[3]) << 24));
    return true;
}

// A text value up to its first zero; false when it is missing or longer than the buffer.
bool read_text(const RegistryFile& store, const std::string& key, const char* name,
               std::string& setting) {
    std::vector<uint8_t> buffer(port_name_size);
    uint32_t size = static_cast<uint32_t>(buffer.size());
    uint32_t type = 0;
    if (query_registry_value(store, key, name, &type, buffer.data(), &size) != reg_success)
        return false;
    size_t length = 0;
    while (length < size && buffer[length] != 0) ++length;
    setting.assign(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(length));
    return true;
}

RegistryValue text_value(const char* name, const std::string& text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return {name, reg_sz, std::move(data)};
}

RegistryValue dword_value(const char* name, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    return {name,
            reg_dword,
            {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
             static_cast<uint8_t>(v >> 24)}};
}

void read_settings(const RegistryFile& store, Settings& s) {
    const std::string key = registry_key_path(config_key);
    if (!has_registry_key(store, key)) return;
    const std::pair<const char*, int32_t*> in_order[] = {
        {"midi_in", &s.midi_in},   {"midi_del", &s.midi_del},   {"syx_reload", &s.syx_reload},
        {"use_xsds", &s.use_xsds}, {"ignore_hs", &s.ignore_hs}, {"win_w", &s.win_w},
        {"win_h", &s.win_h},       {"win_x", &s.win_x},         {"win_y", &s.win_y}};
    for (auto [name, setting] : in_order) read_dword(store, key, name, *setting);

    // The text ends at its first zero, or at the end of the buffer.
    uint8_t outs[midi_outs_size] = {};
    uint32_t size = sizeof outs;
    uint32_t type = 0;
    if (query_registry_value(store, key, "midi_outs", &type, outs, &size) != reg_success)
        std::memset(outs, 0, sizeof outs);

    int32_t value = 0;
    if (read_dword(store, key, "turbo_lim", value) && value >= 1 && value <= 11)
        s.turbo_lim = value;
    if (read_dword(store, key, "sds_dev", value)) s.sds_dev = static_cast<uint8_t>(value & 0xFF);
    read_dword(store, key, "rec_format", s.rec_format);
    read_dword(store, key, "send_zbname", s.send_zbname);
    read_text(store, key, "midi_in_name", s.midi_in_name);
    read_text(store, key, "midi_out_name", s.midi_out_name);

    size_t text_length = 0;
    while (text_length < size && text_length < sizeof outs && outs[text_length] != 0) ++text_length;
    int32_t out = parse_midi_outs(outs, text_length);
    if (out >= 0) s.midi_out = out;
}

// The preference values, in the order the preferences dialog stores them, then the ports'
// names. A name is left out while it is empty and the store holds none, so that a store of an
// earlier version keeps its form until a port is chosen by name.
std::vector<RegistryValue> preference_values(const Settings& s, const RegistryFile& store) {
    std::string outs = midi_outs_text(s.midi_out);
    std::vector<RegistryValue> values = {
        dword_value("midi_in", s.midi_in),
        dword_value("midi_del", s.midi_del),
        dword_value("syx_reload", s.syx_reload),
        dword_value("use_xsds", s.use_xsds),
        dword_value("turbo_lim", s.turbo_lim),
        dword_value("ignore_hs", s.ignore_hs),
        {"midi_outs", reg_sz, std::vector<uint8_t>(outs.begin(), outs.end())},
        {"sds_dev", reg_dword, {s.sds_dev}},
        dword_value("rec_format", s.rec_format),
        dword_value("send_zbname", s.send_zbname)};
    const std::string key = registry_key_path(config_key);
    const std::pair<const char*, const std::string*> names[] = {
        {"midi_in_name", &s.midi_in_name}, {"midi_out_name", &s.midi_out_name}};
    for (auto [name, text] : names) {
        std::string stored;
        if (!text->empty() || read_text(store, key, name, stored))
            values.push_back(text_value(name, *text));
    }
    return values;
}

std::vector<RegistryValue> placement_values(const Settings& s) {
    return {dword_value("win_w", s.win_w), dword_value("win_h", s.win_h),
            dword_value("win_x", s.win_x), dword_value("win_y", s.win_y)};
}

// Sets the values in one rewrite of the store, under its lock.
bool store_values(RegistryEdit& edit, const std::vector<RegistryValue>& values,
                  std::string* problem) {
    const std::string key = registry_key_path(config_key);
    for (const RegistryValue& value : values) {
        if (set_registry_value(edit.store, key, value) != reg_success) {
            end_registry_edit(edit);
            return false;
        }
    }
    return commit_registry_edit(edit, problem) == reg_success;
}

}  // namespace

std::string midi_outs_text(int32_t midi_out) {
    std::string text(midi_outs_size, '\0');
    if (midi_out >= 0 && midi_out <= 0xFF) {
        const char* digits = "0123456789abcdef";
        text[0] = digits[midi_out >> 4];
        text[1] = digits[midi_out & 0xF];
    }
    return text;
}

int32_t parse_midi_outs(const uint8_t* text, size_t length) {
    size_t at = 0;
    while (at < length && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    int32_t number = -1;
    for (int digits = 0; digits < 2 && at < length && hex_digit(static_cast<char>(text[at])) >= 0;
         ++digits, ++at)
        number = (number < 0 ? 0 : number * 16) + hex_digit(static_cast<char>(text[at]));
    return number;
}

bool load_config(Settings& s, std::string* problem) {
    RegistryFile store;
    std::string why;
    std::string file = registry_file_path();
    if (!read_registry_store(file, store, &why)) {
        if (problem) *problem = "cannot read '" + file + "': " + why;
        return false;
    }
    read_settings(store, s);
    return true;
}

bool save_prefs(const Settings& s, std::string* problem) {
    RegistryEdit edit;
    if (begin_registry_edit(registry_file_path(), edit, problem) != reg_success) return false;
    return store_values(edit, preference_values(s, edit.store), problem);
}

bool update_prefs(Settings& s, const std::function<bool(Settings&)>& change, std::string* problem) {
    RegistryEdit edit;
    if (begin_registry_edit(registry_file_path(), edit, problem) != reg_success) return false;
    read_settings(edit.store, s);
    if (!change(s)) return false;
    return store_values(edit, preference_values(s, edit.store), problem);
}

bool save_placement(const Settings& s) {
    RegistryEdit edit;
    if (begin_registry_edit(registry_file_path(), edit) != reg_success) return false;
    return store_values(edit, placement_values(s), nullptr);
}

}  // namespace jx
