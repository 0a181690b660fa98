#include "app/preferences.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/startup.h"
#include "platform/window/dialog_ids.h"

namespace jx {

namespace {

struct TurboLimitEntry {
    const char* text;
    int32_t turbo_lim;
};
constexpr TurboLimitEntry turbo_limits[] = {
    {"None", 11}, {"x8", 7}, {"x6.7", 6}, {"x5", 5}, {"x4", 4}, {"x3.3", 3}, {"x2", 2}, {"x1", 1},
};
constexpr const char* rec_formats[] = {"SDS", "WAV", "AIFF", "None"};
constexpr int ok_result = ids::pref_ok;
constexpr int cancel_result = ids::pref_cancel;

int32_t toggled(int32_t pending) {
    return pending > 0 ? 0 : 1;
}

// Fills a device list and selects the configured device: the one with the stored name when a
// name is stored, else the stored index. An index that is not there becomes none at once; a name
// that is not there stays stored (its interface may be plugged in again) unless another device
// is chosen. Returns the names listed.
template <typename Count, typename Name>
std::vector<std::string> fill_devices(Window& window, int id, int32_t& device,
                                      const std::string& stored_name, Count count, Name name) {
    std::vector<std::string> names;
    const int devices = count();
    int selected = -1;
    for (int k = 0; k < devices; ++k) {
        names.push_back(name(k));
        window.add_string(id, names.back().empty() ? "---" : names.back());
        if (!stored_name.empty() && selected < 0 && names.back() == stored_name) selected = k;
    }
    if (stored_name.empty()) {
        if (device >= 0 && device < devices)
            selected = device;
        else
            device = -1;
    }
    window.select_index(id, selected);
    return names;
}

// The device chosen in a list, kept by index and by name.
void take_device(int selected, const std::vector<std::string>& names, int32_t& device,
                 std::string& name) {
    if (selected < 0 && !name.empty()) return;  // the stored device is away; nothing else chosen
    device = selected;
    name = selected >= 0 && selected < static_cast<int>(names.size()) ? names[selected] : "";
}

}  // namespace

int turbo_limit_of_entry(int entry) {
    constexpr int count = static_cast<int>(std::size(turbo_limits));
    return entry >= 0 && entry < count ? turbo_limits[entry].turbo_lim : -1;
}

int turbo_limit_entry(int32_t turbo_lim) {
    if (turbo_lim == 0) return 7;                     // "x1"
    if (turbo_lim >= 8 && turbo_lim <= 11) return 0;  // "None"
    for (int k = 0; k < static_cast<int>(std::size(turbo_limits)); ++k)
        if (turbo_limits[k].turbo_lim == turbo_lim) return k;
    return -1;
}

void PreferencesDialog::init_dialog(Window& window) {
    window_ = &window;
    Settings& settings = app_.settings;
    for (const TurboLimitEntry& entry : turbo_limits)
        window.add_string(ids::turbo_limit, entry.text);
    window.select_index(ids::turbo_limit, turbo_limit_entry(settings.turbo_lim));
    for (const char* format : rec_formats) window.add_string(ids::rec_format, format);
    window.select_index(ids::rec_format, settings.rec_format >= 0 && settings.rec_format <= 3
                                             ? settings.rec_format
                                             : -1);
    window.check(ids::reload_files, settings.syx_reload > 0);
    window.check(ids::use_xsds, settings.use_xsds != 0);
    window.check(ids::use_handshake, settings.ignore_hs == 0);
    window.check(ids::send_zbname, settings.send_zbname != 0);
    syx_reload_ = settings.syx_reload;
    ignore_hs_ = settings.ignore_hs;
    send_zbname_ = settings.send_zbname;
    use_xsds_ = settings.use_xsds;

    MidiService* service = app_.ports.service;
    in_names_ = fill_devices(
        window, ids::midi_in_list, settings.midi_in, settings.midi_in_name,
        [&] { return service ? midi_in_count(*service) : 0; },
        [&](int k) { return midi_in_name(*service, k); });
    out_names_ = fill_devices(
        window, ids::midi_out_list, settings.midi_out, settings.midi_out_name,
        [&] { return service ? midi_out_count(*service) : 0; },
        [&](int k) { return midi_out_name(*service, k); });

    window.set_text(ids::delay_edit, std::to_string(static_cast<uint32_t>(settings.midi_del)));
    window.set_text(ids::sds_devno, std::to_string(settings.sds_dev));
}

void PreferencesDialog::command(int id) {
    switch (id) {
        case ids::reload_files:
            syx_reload_ = toggled(syx_reload_);
            break;
        case ids::use_handshake:
            ignore_hs_ = toggled(ignore_hs_);
            break;
        case ids::send_zbname:
            send_zbname_ = toggled(send_zbname_);
            break;
        case ids::use_xsds:
            use_xsds_ = toggled(use_xsds_);
            break;
        case ids::pref_ok:
            ok();
            break;
        case ids::pref_cancel:
            window_->end_dialog(cancel_result);
            break;
        default:
            break;
    }
}

void PreferencesDialog::close_request() {
    window_->end_dialog(cancel_result);
}

void PreferencesDialog::ok() {
    Settings& settings = app_.settings;
    settings.syx_reload = syx_reload_;
    settings.ignore_hs = ignore_hs_;
    settings.send_zbname = send_zbname_;
    settings.use_xsds = use_xsds_;
    take_device(window_->selected_index(ids::midi_in_list), in_names_, settings.midi_in,
                settings.midi_in_name);
    take_device(window_->selected_index(ids::midi_out_list), out_names_, settings.midi_out,
                settings.midi_out_name);
    settings.midi_del =
        static_cast<int32_t>(read_unsigned(window_->text(ids::delay_edit)).value_or(0));
    settings.sds_dev =
        static_cast<uint8_t>(read_unsigned(window_->text(ids::sds_devno)).value_or(0) & 0xFF);
    const int limit = turbo_limit_of_entry(window_->selected_index(ids::turbo_limit));
    if (limit >= 0) settings.turbo_lim = limit;
    settings.rec_format = window_->selected_index(ids::rec_format);
    save_prefs(settings);
    open_ports(app_);
    window_->end_dialog(ok_result);
}

}  // namespace jx
