#pragma once
// Recording what arrives at the MIDI input while the user has pressed Receive: starting and
// stopping, and the recorder that sorts the SysEx messages the input has framed. Plain
// SysEx is kept byte for byte; universal messages (F0 7E, the Sample Dump Standard) go to the SDS
// receiver; the device's Turbo answers are taken in and dropped; a KVR-9ZB name message names the
// dump being received.
#include <cstddef>
#include <cstdint>
#include <span>

#include "midi/receive_buffer.h"

namespace jx {

// Ties the recorder to the ports: the input hands it what arrives while recording and tells it
// of the input's close.
void connect_recorder(MidiPorts& ports, Recorder& recorder);

// Receive while idle: reopens the input, makes a receive buffer and shows "Receiving...".
void start_recording(Recorder& recorder);
// Stop Rec, the input's close, a full buffer and an SDS dump given up: what was received becomes
// an entry at the end of the list.
void stop_recording(Recorder& recorder);

// The recorder, for pieces of SysEx the input framed, in arrival order.
void record_pieces(Recorder& recorder, std::span<const SysexPiece> pieces);

// Replays a captured byte stream through the recorder, framed as an input frames what arrives:
// real-time bytes and bytes outside SysEx messages are dropped, a status byte other than F7 ends a
// message cut short.
void replay_stream(Recorder& recorder, const uint8_t* data, size_t length);

// Stop Rec with recorder.mutex held (the SDS receiver giving up, a full buffer).
void stop_recording_locked(Recorder& recorder);

}  // namespace jx
