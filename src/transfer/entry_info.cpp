#include "transfer/entry_info.h"

#include <cstdio>

#include "analysis/sample_dump.h"
#include "analysis/sysex_scan.h"
#include "audio/aiff.h"
#include "audio/sds.h"
#include "audio/wav.h"

namespace jx {

EntryInfo describe_entry(const Entry& entry) {
    EntryInfo info;
    const uint8_t* d = entry.bytes();
    size_t n = entry.length();
    // Maker dumps come first, even inside a sample file: the devices are tested in this order.
    for (uint8_t device :
         {device::ka, device::kb, device::kc, device::pulsebench, device::ke, device::kg}) {
        if (match_device(d, n, device)) {
            info.text = describe_dump(device, d, n).value_or("");
            return info;
        }
    }
    if (is_wav(d, n)) return describe_wav(d, n);
    if (is_aiff(d, n)) return describe_aiff(d, n);
    if (is_aifc(d, n)) return describe_aifc(d, n);
    if (is_sds_dump_header(d, n)) info.text = describe_sample_dump(d, n);
    return info;
}

EntryInfo describe_parsed_sample(ReadResult result, const SampleInfo& info,
                                 const SampleFailureTexts& texts) {
    EntryInfo shown;
    shown.is_sample = true;
    if (result != read_ok) {
        shown.text = result == read_chunk_size ? texts.chunk_size
                     : result == read_not_pcm  ? texts.not_pcm
                                               : texts.unknown_format;
        return shown;
    }
    char text[256];
    // The files keep loop points as unsigned 32-bit numbers: one past 2^31 is shown as the file
    // holds it, not as a negative number.
    const unsigned loop_start = static_cast<uint32_t>(info.loop_start);
    const unsigned loop_end = static_cast<uint32_t>(info.loop_end);
    if (!info.loop_present)
        std::snprintf(text, sizeof text,
                      "Sample length: %d Channels: %d Sample Rate: %d\nBits: %d Loop OFF.",
                      info.length, info.channels, info.rate, info.bits);
    else if (info.loop_type == loop_type_none)
        std::snprintf(text, sizeof text,
                      "Sample length: %d Channels: %d Sample Rate: %d\nBits: %d Loop OFF. "
                      "Loop start: %u Loop end: %u",
                      info.length, info.channels, info.rate, info.bits, loop_start, loop_end);
    else
        std::snprintf(text, sizeof text,
                      "Sample length: %d Channels: %d Sample Rate: %d\nBits: %d Loop ON. "
                      "Loop start: %u Loop end: %u",
                      info.length, info.channels, info.rate, info.bits, loop_start, loop_end);
    shown.text = text;
    shown.enable_loop = true;
    shown.enable_channel = info.channels == 2;
    // The waveform conversion takes mono and stereo samples with a loop window it can hold.
    int64_t loop_window = int64_t{info.loop_end} - info.loop_start;
    shown.enable_tonepak = loop_window < 16384 && info.channels < 3;
    return shown;
}

EntryInfo describe_wav(const uint8_t* data, size_t length) {
    SampleInfo info;
    return describe_parsed_sample(
        parse_wav(info, data, length), info,
        {"Unknown Wave Format", "Wave: Chunk size error", "Wave: Not PCM or Float"});
}

EntryInfo describe_aiff(const uint8_t* data, size_t length) {
    SampleInfo info;
    return describe_parsed_sample(
        parse_aiff(info, data, length), info,
        {"Unknown AIFF\tFormat", "AIFF: Chunk size error", "Unknown AIFF\tFormat"});
}

EntryInfo describe_aifc(const uint8_t* data, size_t length) {
    SampleInfo info;
    return describe_parsed_sample(
        parse_aifc(info, data, length), info,
        {"Unknown AIFC\tFormat", "AIFC: Chunk size error", "AIFC: Not PCM or Float"});
}

EntryView view_entry(const Entry& entry) {
    EntryView view{describe_entry(entry)};
    if (view.info.is_sample) {
        view.loop_option = entry.loop_option;
        view.channel_option = entry.channel_option;
    }
    return view;
}

void show_entry_view(TransferList& list, const EntryView& view) {
    if (view.info.is_sample) {
        set_loop_mode(list, view.loop_option, true);
        set_channel_mode(list, view.channel_option, true);
    }
    list.show_next.info = view.info;
}

void show_entry_info(TransferList& list, const Entry* entry) {
    if (entry != nullptr) show_entry_view(list, view_entry(*entry));
}

const char* loop_caption(LoopMode mode) {
    static const char* captions[] = {"Loop: File", "Loop: On", "Loop: Off"};
    return captions[mode >= 0 && mode <= 2 ? mode : 0];
}

const char* channel_caption(ChannelMode mode) {
    static const char* captions[] = {"L+R", "Left", "Right"};
    return captions[mode >= 0 && mode <= 2 ? mode : 0];
}

void set_loop_mode(TransferList& list, char option, bool show) {
    if (is_mode_option(option)) list.loop_mode = loop_mode_of(option);
    if (show) list.show_next.loop = list.loop_mode.load();
}

void set_channel_mode(TransferList& list, char option, bool show) {
    if (is_mode_option(option)) list.channel_mode = channel_mode_of(option);
    if (show) list.show_next.channel = list.channel_mode.load();
}

void press_loop_button(TransferList& list) {
    set_loop_mode(list, mode_option((list.loop_mode + 1) % 3), true);
    if (Entry* entry = entry_at(list, first_selected(list)))
        entry->loop_option = mode_option(list.loop_mode);
}

void press_channel_button(TransferList& list) {
    set_channel_mode(list, mode_option((list.channel_mode + 1) % 3), true);
    if (Entry* entry = entry_at(list, first_selected(list)))
        entry->channel_option = mode_option(list.channel_mode);
}

std::string send_counter_text(int index, int count) {
    char text[32] = "";
    if (index >= 0) std::snprintf(text, sizeof text, "(%i/%i)", index, count);
    return text;
}

}  // namespace jx
