#include "app/config.h"

#include <cstring>
#include <utility>

#include "platform/registry.h"
#include "platform/text.h"

namespace jx {

namespace {

constexpr size_t midi_outs_size = 5;

// A 32-bit value read into a zeroed four-byte buffer without looking at its stored type; a
// shorter value fills the low bytes. False when it is missing or longer than four bytes.
bool read_dword(const RegistryKey& key, const char* name, int32_t& setting) {
    uint8_t buffer[4] = {0, 0, 0, 0};
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    if (reg_query_value(key, name, &type, buffer, &size) != reg_success) return false;
    setting = static_cast<int32_t>(buffer[0] | (buffer[1] << 8) | (buffer[2] << 16) |
                                   (static_cast<uint32_t>(buffer[3]) << 24));
    return true;
}

bool write_dword(const RegistryKey& key, const char* name, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return reg_set_value(key, name, reg_dword, bytes, sizeof bytes) == reg_success;
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

void load_config(Settings& s) {
    RegistryKey key;
    if (reg_open_key(registry_file_path(), config_key, key) != reg_success) return;
    const std::pair<const char*, int32_t*> in_order[] = {
        {"midi_in", &s.midi_in},   {"midi_del", &s.midi_del},   {"syx_reload", &s.syx_reload},
        {"use_xsds", &s.use_xsds}, {"ignore_hs", &s.ignore_hs}, {"win_w", &s.win_w},
        {"win_h", &s.win_h},       {"win_x", &s.win_x},         {"win_y", &s.win_y}};
    for (auto [name, setting] : in_order) read_dword(key, name, *setting);

    // The text ends at its first zero, or at the end of the buffer.
    uint8_t outs[midi_outs_size] = {};
    uint32_t size = sizeof outs;
    uint32_t type = 0;
    if (reg_query_value(key, "midi_outs", &type, outs, &size) != reg_success)
        std::memset(outs, 0, sizeof outs);

    int32_t value = 0;
    if (read_dword(key, "turbo_lim", value) && value >= 1 && value <= 11) s.turbo_lim = value;
    if (read_dword(key, "sds_dev", value)) s.sds_dev = static_cast<uint8_t>(value & 0xFF);
    read_dword(key, "rec_format", s.rec_format);
    read_dword(key, "send_zbname", s.send_zbname);
    reg_close_key(key);

    size_t text_length = 0;
    while (text_length < size && text_length < sizeof outs && outs[text_length] != 0) ++text_length;
    int32_t out = parse_midi_outs(outs, text_length);
    if (out >= 0) s.midi_out = out;
}

bool save_prefs(const Settings& s) {
    RegistryKey key;
    if (reg_create_key(registry_file_path(), config_key, key) != reg_success) return false;
    bool all = true;
    const std::pair<const char*, int32_t> first[] = {
        {"midi_in", s.midi_in},   {"midi_del", s.midi_del},   {"syx_reload", s.syx_reload},
        {"use_xsds", s.use_xsds}, {"turbo_lim", s.turbo_lim}, {"ignore_hs", s.ignore_hs}};
    for (auto [name, value] : first) all = write_dword(key, name, value) && all;
    std::string outs = midi_outs_text(s.midi_out);
    all = reg_set_value(key, "midi_outs", reg_sz, reinterpret_cast<const uint8_t*>(outs.data()),
                        static_cast<uint32_t>(outs.size())) == reg_success &&
          all;
    all = reg_set_value(key, "sds_dev", reg_dword, &s.sds_dev, 1) == reg_success && all;
    all = write_dword(key, "rec_format", s.rec_format) && all;
    all = write_dword(key, "send_zbname", s.send_zbname) && all;
    reg_close_key(key);
    return all;
}

bool save_placement(const Settings& s) {
    RegistryKey key;
    if (reg_create_key(registry_file_path(), config_key, key) != reg_success) return false;
    bool all = true;
    const std::pair<const char*, int32_t> placement[] = {
        {"win_w", s.win_w}, {"win_h", s.win_h}, {"win_x", s.win_x}, {"win_y", s.win_y}};
    for (auto [name, value] : placement) all = write_dword(key, name, value) && all;
    reg_close_key(key);
    return all;
}

}  // namespace jx
