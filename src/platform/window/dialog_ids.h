#pragma once
// Resource ids of the controls of the main window (dialog 101), the preferences dialog (111) and
// the Request sample dialog (200), shared by every layer that talks to the window.

namespace jx::ids {

constexpr int main_dialog = 101;
constexpr int configure = 102;
constexpr int receive = 103;
constexpr int send = 104;
constexpr int save = 105;
constexpr int load = 106;
constexpr int transfer_list = 107;
constexpr int close_entries = 108;
constexpr int file_info = 109;
constexpr int progress = 119;
constexpr int file_info_group = 121;
constexpr int status = 122;
constexpr int tonepak = 123;
constexpr int channel_button = 124;
constexpr int loop_button = 125;
constexpr int samplepos = 126;
constexpr int global_group = 127;
constexpr int send_counter = 128;
constexpr int status_group = 130;
constexpr int samplepos_label = 131;
constexpr int turbo_check = 132;
constexpr int turbo_speed = 133;
constexpr int exit_button = 1;

// The preferences dialog (dialog 111).
constexpr int preferences_dialog = 111;
constexpr int midi_in_list = 112;
constexpr int pref_ok = 113;
constexpr int pref_cancel = 114;
constexpr int midi_out_list = 115;
constexpr int delay_edit = 116;
constexpr int reload_files = 118;
constexpr int turbo_limit = 134;
constexpr int use_handshake = 135;
constexpr int sds_devno = 136;
constexpr int rec_format = 137;
constexpr int send_zbname = 1001;
constexpr int use_xsds = 1002;

// The Request sample dialog (dialog 200).
constexpr int request_sample_dialog = 200;
constexpr int request_number = 201;
constexpr int request_sds_device = 202;
constexpr int request_ok = 1;
constexpr int request_cancel = 2;

}  // namespace jx::ids
