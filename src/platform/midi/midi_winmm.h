#pragma once
// The MIDI ports of Windows, through the multimedia service (winmm): the devices it counts,
// named by their capabilities in UTF-8 (a second device of one name gets " (2)").
//
// Output: every message is copied into a buffer of its own and goes to the driver with one
// prepared header (midiOutLongMsg); the driver says it is done through an event (CALLBACK_EVENT),
// and the header is unprepared then. A few messages may wait in the driver; past that, write()
// waits on the event for the oldest to finish, and a driver that finishes nothing for two seconds
// past a message's wire time at normal MIDI speed ends the send with an error that names the port.
// Input: several 16 KiB buffers stay queued (midiInAddBuffer); the function callback hands the
// bytes of every buffer that comes back (MIM_LONGDATA, and MIM_LONGERROR alike) to the sink, and
// a small thread of the connection queues the buffer again, since winmm must not be called from
// its own callback. Short messages are not the program's business. Stopping resets the device,
// which returns every buffer, before it is closed.
#include <windows.h>
// windows.h first: mmsystem.h needs its types.
#include <mmsystem.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/midi_server.h"

namespace jx {

// The winmm functions the backend calls, each with the arguments and results of the function of
// the same name; system() is the service itself. Tests stand in for it.
class WinmmCalls {
  public:
    virtual ~WinmmCalls() = default;
    static WinmmCalls& system();

    virtual UINT midiOutGetNumDevs() = 0;
    virtual MMRESULT midiOutGetDevCapsW(UINT_PTR id, MIDIOUTCAPSW* caps, UINT size) = 0;
    virtual MMRESULT midiOutOpen(HMIDIOUT* out, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                                 DWORD flags) = 0;
    virtual MMRESULT midiOutClose(HMIDIOUT out) = 0;
    virtual MMRESULT midiOutPrepareHeader(HMIDIOUT out, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutUnprepareHeader(HMIDIOUT out, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutLongMsg(HMIDIOUT out, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutReset(HMIDIOUT out) = 0;
    virtual MMRESULT midiOutGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) = 0;

    virtual UINT midiInGetNumDevs() = 0;
    virtual MMRESULT midiInGetDevCapsW(UINT_PTR id, MIDIINCAPSW* caps, UINT size) = 0;
    virtual MMRESULT midiInOpen(HMIDIIN* in, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                                DWORD flags) = 0;
    virtual MMRESULT midiInClose(HMIDIIN in) = 0;
    virtual MMRESULT midiInPrepareHeader(HMIDIIN in, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInUnprepareHeader(HMIDIIN in, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInAddBuffer(HMIDIIN in, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInStart(HMIDIIN in) = 0;
    virtual MMRESULT midiInStop(HMIDIIN in) = 0;
    virtual MMRESULT midiInReset(HMIDIIN in) = 0;
    virtual MMRESULT midiInGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) = 0;
};

// How long a device may hold what it was given without finishing any of it: past this (for
// output, counted from the moment the message would have left a cable at normal MIDI speed)
// the port has stopped.
constexpr std::chrono::milliseconds winmm_stall_limit{2000};

class WinmmBackend : public ServerMidiBackend {
  public:
    explicit WinmmBackend(WinmmCalls& calls = WinmmCalls::system(),
                          std::chrono::milliseconds stall_limit = winmm_stall_limit);

    // The number of input buffers kept queued at the device.
    static constexpr int in_buffer_count = 8;

    std::string api_name() const override { return "Windows"; }
    std::string unavailable_reason() const override { return {}; }

    int out_count() override;
    std::string out_name(int index) override;
    int in_count() override;
    std::string in_name(int index) override;
    std::unique_ptr<MidiOutConnection> open_out(int index, std::string& error) override;
    std::unique_ptr<MidiInConnection> open_in(int index, MidiInSink& sink,
                                              std::string& error) override;

    // winmm offers no ports of a program's own that others connect to.
    std::unique_ptr<MidiOutConnection> open_virtual_out(const std::string& port_name,
                                                        std::string& error) override;
    std::unique_ptr<MidiInConnection> open_virtual_in(const std::string& port_name,
                                                      MidiInSink& sink,
                                                      std::string& error) override;
    std::string virtual_port_name(const std::string& port_name, bool output) const override;

    struct Device {
        UINT id = 0;
        std::string name;
    };
    // The devices as listed now; one whose capabilities cannot be read (gone since it was
    // counted) is left out.
    std::vector<Device> devices(bool output);

  private:
    bool device_at(bool output, int index, Device& device, std::string& error);
    WinmmCalls& calls_;
    std::chrono::milliseconds stall_limit_;
};

// "WHAT: TEXT." with the service's text for a winmm result, or "WHAT: The MIDI port is gone
// (TEXT)." when the device's driver is no longer there.
std::string winmm_failure(WinmmCalls& calls, bool output, const std::string& what, MMRESULT result);

}  // namespace jx
