#pragma once
// Asking the device for one of its samples while recording, as a sampler's "send sample" does.
#include <cstdint>

#include "midi/receive_buffer.h"

namespace jx {

// Starts recording as Receive does (a recording that runs goes on), then sends the SDS dump
// request for the sample number, on the SDS device number of the settings, to the output. The
// dump that answers is recorded as any other. False when no recording runs or no output is
// configured: then nothing is asked.
bool request_sample(Recorder& recorder, int32_t sample_number);

}  // namespace jx
