#pragma once
// The TonePAK command: every selected sample entry becomes one waveform message for device 03,
// built from the sample's loop (or the whole sample), in place of the sample in the list.
#include <vector>

#include "audio/transform.h"
#include "transfer/transfer_list.h"

namespace jx {

struct TonepakOutcome {
    bool refused = false;        // a send was running: nothing was done
    std::vector<int> converted;  // list positions of the new waveform entries
};

// Converts every selected entry in list order; the n-th selected entry (from 0) gets waveform
// slot n masked with 3F, converted or not. Each entry's channel option becomes the current
// channel mode. An entry that is not a sample, does not parse whole, has three channels or more,
// or whose loop (end − start) is negative or 16384 frames or more is passed over. A converted
// entry is replaced at its position by a new entry holding the message, named after the sample
// without folder and extension, plus ".syx" unless that name still has an extension, with options
// '0' and '0'. Refused while a send runs, since the send engine reads the entries in place.
// tables must allow any length up to 16384 (fft_init(tables, 16384, fft_flag::any_length)).
TonepakOutcome convert_to_tonepak(TransferList& list, FftTables& tables, bool sending);

}  // namespace jx
