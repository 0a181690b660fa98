#pragma once
// The messages of an entry one by one, as the inspector and `jx-cli messages` list them: where
// each stands, whose it is, what the analysis takes it for, its number and whether it is damaged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

enum class MessageKind : uint8_t {
    other,  // a maker message of an id the analysis does not name, or another maker's message
    global,
    kit,
    sound,
    pattern,
    song,
    settings,
    waveform,         // TonePAK waveform
    upgrade_block,    // upgrade data packet
    upgrade_control,  // upgrade start, end or size message
    sample_dump_header,
    sample_dump_packet,
    sample_name,
    universal,  // any other universal message
};

enum class MessageDamage : uint8_t {
    none,
    cut_short,     // no F7 before the next status byte or the end of the data
    bad_checksum,  // the checksum does not match the bytes it covers
    bad_length,    // the length field does not match the message
    bad_upgrade,   // out of order in its upgrade, or its checksum fails
};

struct MessageRow {
    size_t offset = 0;        // of the F0 in the entry's bytes
    size_t length = 0;        // up to and including the F7, or up to where the message was cut
    uint32_t maker = 0;       // 1 byte (7E, 7F, 43, ...) or 3 (00 6B 2E as 0x006B2E)
    bool long_maker = false;  // the maker id takes three bytes
    bool has_maker = false;   // a data byte follows F0: a lone F0, or F0 F7, names no maker
    int device = -1;          // the maker's device code or a universal message's channel
    MessageKind kind = MessageKind::other;
    int32_t number = -1;  // the record's position, sample or packet number; -1 without one
    MessageDamage damage = MessageDamage::none;
};

// One row per System Exclusive message of the data, in order. A message runs from its F0 to the
// first F7; a status byte or the end of the data before that cuts it short. Bytes outside any
// message are passed over.
std::vector<MessageRow> list_messages(const uint8_t* data, size_t length);

// "00 6B 2E", "7E", ...
std::string maker_text(const MessageRow& row);
// "kit", "sample dump packet", ...
const char* kind_text(MessageKind kind);
// "" for an intact message, else "cut short", "bad checksum", ...
const char* damage_text(MessageDamage damage);

// A labelled span of a message's opening bytes, offsets from its F0.
struct HeaderField {
    size_t offset;
    size_t length;
    std::string label;
};
// The fields of the row's header that the analysis reads (start, maker, device, id, number),
// each inside the message.
std::vector<HeaderField> header_fields(const MessageRow& row, const uint8_t* data);

}  // namespace jx
