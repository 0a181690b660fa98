#include "analysis/message_table.h"

#include <array>
#include <cstdio>

#include "analysis/maker_messages.h"
#include "analysis/upgrade.h"
#include "audio/sds.h"
#include "audio/waveform_synthesis.h"

namespace jx {

namespace {

constexpr uint32_t our_maker = uint32_t{maker_id[0]} << 16 | maker_id[1] << 8 | maker_id[2];

// The kind of a maker message by device code and id, as the counts of the File Info name them.
MessageKind maker_kind(int device_code, uint8_t id) {
    if (id == upgrade_packet_id) return MessageKind::upgrade_block;
    if (id == upgrade_control_id) return MessageKind::upgrade_control;
    switch (device_code) {
        case device::ke:
        case device::kg:
            switch (id) {
                case 'W':
                    return MessageKind::global;
                case 'R':
                    return MessageKind::kit;
                case 'S':
                    return MessageKind::sound;
                case 'T':
                    return MessageKind::pattern;
                case 'U':
                    return MessageKind::song;
                case 'V':
                    return MessageKind::settings;
            }
            return MessageKind::other;
        case device::ka:
        case device::kb:
            if (device_code == device::kb && id == tonepak_message_id) return MessageKind::waveform;
            switch (id) {
                case 'P':
                    return MessageKind::global;
                case 'R':
                    return MessageKind::kit;
                case 'g':
                    return MessageKind::pattern;
                case 'i':
                    return MessageKind::song;
            }
            return MessageKind::other;
    }
    return MessageKind::other;
}

bool upgrade_device(int device_code) {
    return device_code == device::ka || device_code == device::kb || device_code == device::kc ||
           device_code == device::ke || device_code == device::kg;
}

MessageDamage damage_of(MessageFault fault) {
    switch (fault) {
        case MessageFault::none:
            return MessageDamage::none;
        case MessageFault::cut_short:
            return MessageDamage::cut_short;
        case MessageFault::bad_checksum:
            return MessageDamage::bad_checksum;
        case MessageFault::bad_length:
            return MessageDamage::bad_length;
    }
    return MessageDamage::none;
}

// The walk's state: the integrity test over the whole data, as the File Info scan keeps it, and
// one upgrade check per device code.
struct Walk {
    const uint8_t* data;
    size_t length;
    IntegrityTest test;
    std::array<UpgradeCheck, 8> upgrades{};
    Walk(const uint8_t* d, size_t n) : data(d), length(n), test(d, n) {
        for (size_t k = 0; k < upgrades.size(); ++k) upgrades[k].device_code = uint8_t(k);
    }
};

void read_maker_message(Walk& walk, MessageRow& row, bool whole) {
    const uint8_t* m = walk.data + row.offset;
    if (row.length < 5) return;
    row.device = m[4];
    if (row.length < 7 || m[5] != 0x00) return;
    const size_t i = row.offset + 6;
    row.kind = maker_kind(row.device, m[6]);
    switch (row.kind) {
        case MessageKind::other:
            return;
        case MessageKind::upgrade_block:
        case MessageKind::upgrade_control: {
            if (!upgrade_device(row.device)) {
                row.kind = MessageKind::other;
                return;
            }
            UpgradeCheck& check = walk.upgrades[row.device];
            // The check keeps one flag for the whole upgrade; this message's own part in it is
            // whether the flag goes up while it is judged.
            const bool broken_before = check.broken;
            check.broken = false;
            check_upgrade_message(check, walk.test, i);
            if (check.broken) row.damage = MessageDamage::bad_upgrade;
            check.broken = check.broken || broken_before;
            const bool packet_encoded = row.device == device::ke || row.device == device::kg;
            if (row.kind == MessageKind::upgrade_block && packet_encoded && row.length > 9)
                row.number = decode21(m + 7);
            break;
        }
        default: {
            const bool six_kinds = row.device == device::ke || row.device == device::kg;
            const int checksum_start = six_kinds || row.kind == MessageKind::waveform ? 4 : 3;
            row.damage = damage_of(message_fault(walk.test, i, checksum_start));
            // The byte before the checksummed bytes holds the record's position.
            const size_t at = 6 + checksum_start - 1;
            if (at < row.length) row.number = m[at];
        }
    }
    if (!whole) row.damage = MessageDamage::cut_short;
}

void read_universal_message(MessageRow& row, const uint8_t* m, bool whole) {
    row.kind = MessageKind::universal;
    if (row.length > 2) row.device = m[2];
    if (row.maker != universal_non_realtime || row.length < 4) return;
    switch (m[3]) {
        case sds::dump_header: {
            row.kind = MessageKind::sample_dump_header;
            SdsHeader header;
            if (sds_parse_header(m, row.length, header) != message_whole)
                row.damage = MessageDamage::cut_short;
            if (row.length > 5) row.number = header.sample_number;
            return;
        }
        case sds::data_packet: {
            row.kind = MessageKind::sample_dump_packet;
            SdsPacket packet;
            if (sds_parse_packet(m, row.length, packet) != message_whole)
                row.damage = MessageDamage::cut_short;
            else if (!packet.checksum_ok)
                row.damage = MessageDamage::bad_checksum;
            if (row.length > 4) row.number = m[4];
            return;
        }
        case sds::extended:
            if (row.length < 5) return;
            if (m[4] == sds::extended_header) {
                row.kind = MessageKind::sample_dump_header;
                SdsHeader header;
                if (sds_parse_extended_header(m, row.length, header) != message_whole)
                    row.damage = MessageDamage::cut_short;
                else
                    row.number = header.sample_number;
            } else if (m[4] == sds::sample_name) {
                row.kind = MessageKind::sample_name;
                SdsSampleName name;
                if (sds_parse_sample_name(m, row.length, name) != message_whole)
                    row.damage = MessageDamage::cut_short;
                else
                    row.number = name.sample_number;
            }
            return;
    }
    if (!whole) row.damage = MessageDamage::cut_short;
}

}  // namespace

std::vector<MessageRow> list_messages(const uint8_t* data, size_t length) {
    std::vector<MessageRow> rows;
    Walk walk(data, length);
    size_t p = 0;
    while (p < length) {
        if (data[p] != sysex_start) {
            ++p;
            continue;
        }
        // Real-time bytes (F8 to FF) may stand anywhere, also inside a message, which they do
        // not end: the message is listed whole, as the recorder and the send take it.
        size_t end = p + 1;
        while (end < length && (data[end] < 0x80 || data[end] >= 0xF8)) ++end;
        const bool whole = end < length && data[end] == sysex_end;
        MessageRow row;
        row.offset = p;
        row.length = (whole ? end + 1 : end) - p;
        const uint8_t* m = data + p;
        if (row.length > 1 && m[1] < 0x80) {
            row.has_maker = true;
            row.long_maker = m[1] == 0x00;
            if (!row.long_maker)
                row.maker = m[1];
            else if (row.length > 3)
                row.maker = uint32_t{m[1]} << 16 | m[2] << 8 | m[3];
        }
        if (row.long_maker && row.maker == our_maker && row.length > 3)
            read_maker_message(walk, row, whole);
        else if (!row.long_maker && (row.maker == 0x7E || row.maker == 0x7F))
            read_universal_message(row, m, whole);
        if (!whole) row.damage = MessageDamage::cut_short;
        rows.push_back(row);
        p = end > p ? end : p + 1;
    }
    return rows;
}

std::string maker_text(const MessageRow& row) {
    if (!row.has_maker) return {};
    char text[12];
    if (row.long_maker)
        std::snprintf(text, sizeof text, "00 %02X %02X", (row.maker >> 8) & 0xFF, row.maker & 0xFF);
    else
        std::snprintf(text, sizeof text, "%02X", row.maker & 0xFF);
    return text;
}

const char* kind_text(MessageKind kind) {
    switch (kind) {
        case MessageKind::other:
            return "other";
        case MessageKind::global:
            return "global";
        case MessageKind::kit:
            return "kit";
        case MessageKind::sound:
            return "sound";
        case MessageKind::pattern:
            return "pattern";
        case MessageKind::song:
            return "song";
        case MessageKind::settings:
            return "settings";
        case MessageKind::waveform:
            return "waveform";
        case MessageKind::upgrade_block:
            return "upgrade block";
        case MessageKind::upgrade_control:
            return "upgrade control";
        case MessageKind::sample_dump_header:
            return "sample dump header";
        case MessageKind::sample_dump_packet:
            return "sample dump packet";
        case MessageKind::sample_name:
            return "sample name";
        case MessageKind::universal:
            return "universal";
    }
    return "other";
}

const char* damage_text(MessageDamage damage) {
    switch (damage) {
        case MessageDamage::none:
            return "";
        case MessageDamage::cut_short:
            return "cut short";
        case MessageDamage::bad_checksum:
            return "bad checksum";
        case MessageDamage::bad_length:
            return "bad length";
        case MessageDamage::bad_upgrade:
            return "upgrade packet out of order or bad checksum";
    }
    return "";
}

std::vector<HeaderField> header_fields(const MessageRow& row, const uint8_t* data) {
    std::vector<HeaderField> fields = {{0, 1, "start"}};
    const uint8_t* m = data + row.offset;
    auto add = [&](size_t offset, size_t length, std::string label) {
        if (offset + length <= row.length) fields.push_back({offset, length, std::move(label)});
    };
    add(1, row.long_maker ? 3 : 1, "maker");
    const bool ours = row.long_maker && row.maker == our_maker;
    const bool universal = !row.long_maker && (row.maker == 0x7E || row.maker == 0x7F);
    if (ours) {
        add(4, 1, "device");
        add(5, 1, "00");
        add(6, 1, "id");
        if (row.kind == MessageKind::upgrade_block && row.number >= 0)
            add(7, 3, "packet number");
        else if (row.number >= 0 && row.kind != MessageKind::upgrade_control)
            add(row.device == device::ke || row.device == device::kg ||
                        row.kind == MessageKind::waveform
                    ? 9
                    : 8,
                1, "position");
    } else if (universal) {
        add(2, 1, "channel");
        add(3, 1, "sub-id");
        if (row.kind == MessageKind::sample_dump_header && row.length > 4 && m[3] == sds::extended)
            add(4, 1, "sub-id 2");
        else if (row.kind == MessageKind::sample_dump_header)
            add(4, 2, "sample number");
        else if (row.kind == MessageKind::sample_dump_packet)
            add(4, 1, "packet number");
    }
    if (row.length > 1 && data[row.offset + row.length - 1] == sysex_end)
        fields.push_back({row.length - 1, 1, "end"});
    return fields;
}

}  // namespace jx
