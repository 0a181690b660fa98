#!/usr/bin/python3
"""Writes the Standard MIDI File fixtures of the tests with mido (Debian: python3-mido), a
writer independent of jx, and beside each NAME.mid the NAME.syx that its SysEx messages make
in file order, as mido itself encodes them.

Run from this folder: /usr/bin/python3 make_midi_files.py
"""
import mido


def sysex(body, time=0):
    return mido.Message('sysex', data=body, time=time)


def notes(channel, time):
    # Several messages of one status in a row: mido writes them with running status.
    return [mido.Message('note_on', channel=channel, note=60 + k, velocity=100, time=time)
            for k in range(3)] + \
           [mido.Message('note_off', channel=channel, note=60 + k, time=480) for k in range(3)]


def write(name, midi_file):
    midi_file.save(name + '.mid')
    with open(name + '.syx', 'wb') as out:
        for track in midi_file.tracks:
            for message in track:
                if not message.is_meta and message.type == 'sysex':
                    out.write(bytes(message.bin()))


# Format 0: SysEx between channel messages and meta events, a message long enough for a
# two-byte length, and delta-times of several bytes.
one = mido.MidiFile(type=0)
track = mido.MidiTrack()
track.append(mido.MetaMessage('track_name', name='dump'))
track.append(mido.MetaMessage('set_tempo', tempo=500000))
track.append(sysex([0x7E, 0x7F, 0x09, 0x01]))
track.extend(notes(0, 0))
track.append(mido.Message('program_change', channel=0, program=5, time=100000))
track.append(sysex([0x7D] + [k % 128 for k in range(300)], time=20000))
track.append(mido.Message('pitchwheel', channel=0, pitch=1000))
track.append(mido.Message('aftertouch', channel=0, value=64))
track.append(mido.MetaMessage('sequencer_specific', data=[0x7D, 1, 2]))
track.append(sysex([0x7D, 0x01, 0x02]))
one.tracks.append(track)
write('mido_format0', one)

# Format 1: a tempo track without SysEx, then two tracks; the third track's message comes
# first in time but last in the file.
two = mido.MidiFile(type=1)
tempo = mido.MidiTrack()
tempo.append(mido.MetaMessage('time_signature', numerator=3, denominator=4))
tempo.append(mido.MetaMessage('set_tempo', tempo=400000))
two.tracks.append(tempo)
first = mido.MidiTrack()
first.append(mido.Message('control_change', channel=1, control=7, value=90))
first.append(mido.Message('control_change', channel=1, control=10, value=64))
first.append(sysex([0x7D, 0x10, 0x11], time=960))
first.extend(notes(1, 10))
first.append(sysex([0x7D, 0x12], time=5))
two.tracks.append(first)
second = mido.MidiTrack()
second.append(sysex([0x7D, 0x20, 0x21, 0x22]))
second.extend(notes(9, 0))
two.tracks.append(second)
write('mido_format1', two)
