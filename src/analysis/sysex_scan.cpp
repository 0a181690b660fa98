#include "analysis/sysex_scan.h"

#include <array>
#include <cstdio>

#include "analysis/upgrade.h"

namespace jx {

namespace {

struct KindCounts {
    std::array<int, 6> normal{};
    std::array<int, 6> broken{};
};

// Index of the counted kind for a message id, or -1 when the id is not counted.
int kind_index(uint8_t device_code, uint8_t id) {
    if (device_code == device::ke || device_code == device::kg) {
        if (id >= 'R' && id <= 'W') {
            static constexpr int order[] = {1, 2, 3, 4, 5, 0};  // R S T U V W
            return order[id - 'R'];
        }
        return -1;
    }
    switch (id) {
        case 'P':
            return 0;
        case 'R':
            return 1;
        case 'g':
            return 2;
        case 'i':
            return 3;
        default:
            return -1;
    }
}

constexpr uint8_t waveform_id = 0x5D;

// What one pass over a dump learns: the counted kinds, the waveform messages and the upgrade.
struct DumpScan {
    KindCounts counts;
    int waveforms = 0;
    int broken_waveforms = 0;
    int waveform_position = 0;  // position byte of the waveform message met last
    UpgradeCheck upgrade;
};

DumpScan scan_dump(uint8_t device_code, const uint8_t* data, size_t length) {
    DumpScan scan;
    scan.upgrade.device_code = device_code;
    IntegrityTest test(data, length);
    int checksum_start = (device_code == device::ke || device_code == device::kg) ? 4 : 3;
    bool counts_kinds = device_code != device::kc;
    for_each_message(data, length, device_code, [&](size_t i, uint8_t id) {
        if (id == upgrade_packet_id || id == upgrade_control_id) {
            check_upgrade_message(scan.upgrade, test, i);
            return;
        }
        if (device_code == device::kb && id == waveform_id) {
            if (i + 3 < length) scan.waveform_position = data[i + 3];
            if (message_intact(test, i, 4))
                ++scan.waveforms;
            else
                ++scan.broken_waveforms;
            return;
        }
        int kind = counts_kinds ? kind_index(device_code, id) : -1;
        if (kind < 0) return;
        if (message_intact(test, i, checksum_start))
            ++scan.counts.normal[kind];
        else
            ++scan.counts.broken[kind];
    });
    return scan;
}

std::string six_kind_text(const KindCounts& c) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "Normal Globals: %i Kits: %i Sounds: %i\n       Patterns: %i Songs: %i "
                  "Settings: %i\nBroken Globals: %i Kits: %i Sounds: %i\n       Patterns: %i "
                  "Songs: %i Settings: %i",
                  c.normal[0], c.normal[1], c.normal[2], c.normal[3], c.normal[4], c.normal[5],
                  c.broken[0], c.broken[1], c.broken[2], c.broken[3], c.broken[4], c.broken[5]);
    return text;
}

std::string four_kind_text(const KindCounts& c) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Normal Globals: %i Kits: %i Patterns: %i Songs: %i \nBroken Globals: %i "
                  "Kits: %i Patterns: %i Songs: %i",
                  c.normal[0], c.normal[1], c.normal[2], c.normal[3], c.broken[0], c.broken[1],
                  c.broken[2], c.broken[3]);
    return text;
}

// The count text of device 03 with a line for its TonePAK waveforms; a dump of waveforms alone
// leaves the counts out and starts with an empty line.
std::string waveform_text(const DumpScan& scan) {
    int w = scan.waveforms, x = scan.broken_waveforms;
    if (w + x == 0) return four_kind_text(scan.counts);
    bool no_kinds = true;
    for (int k = 0; k < 4; ++k)
        if (scan.counts.normal[k] != 0 || scan.counts.broken[k] != 0) no_kinds = false;
    std::string text = no_kinds ? "" : four_kind_text(scan.counts);
    char line[96];
    if (w == 1 && x == 0)
        std::snprintf(line, sizeof line, "\nTonePAK waveform at position %i",
                      scan.waveform_position + 1);
    else if (w == 0 && x == 1)
        std::snprintf(line, sizeof line, "\nTonePAK waveform (broken)");
    else
        std::snprintf(line, sizeof line, "\nNormal TPAK waveforms: %i, broken TPAK waveforms: %i",
                      w, x);
    return text + line;
}

}  // namespace

std::optional<std::string> describe_dump(uint8_t device_code, const uint8_t* data, size_t length) {
    switch (device_code) {
        case device::pulsebench:
            return std::string("PULSEBENCH");
        case device::ka:
        case device::kb:
        case device::kc:
        case device::ke:
        case device::kg:
            break;
        default:
            return std::nullopt;
    }
    DumpScan scan = scan_dump(device_code, data, length);
    if (is_upgrade(scan.upgrade)) return upgrade_verdict(scan.upgrade);
    switch (device_code) {
        case device::ka:
            return four_kind_text(scan.counts);
        case device::kb:
            return waveform_text(scan);
        case device::kc:
            // Device 05 dumps carry nothing but upgrades: without one there is nothing to tell,
            // and the panel must not keep the text of the entry shown before.
            return std::string();
        default:
            return six_kind_text(scan.counts);
    }
}

}  // namespace jx
