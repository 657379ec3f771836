#pragma once
// Command-line options of kavrel-sim, the simulated camera server, and their
// checking. Every option has a default, so the program runs without any; a
// value out of its range is an error with a message, never clamped silently.

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavrel::sim {

// Misbehaviours a test can ask for (--fault NAME, repeatable). Each is meant to
// exercise one reaction of the viewer; see tools/README.md.
enum class Fault : int {
    RefuseLogin,    // "refuse-login": every login is answered with --refuse-code
    NoLoginAnswer,  // "no-login-answer": logins are read and never answered
    Close,          // "close": the connection is closed after --fault-frames video frames
    Stall,        // "stall": nothing more is sent after --fault-frames frames; the connection stays
    Garbage,      // "garbage": --garbage-bytes random bytes after --fault-frames frames
    ShortHeader,  // "short-header": a packet header with length 2 after --fault-frames frames
    LongPacket,   // "long-packet": one well-formed 262164-byte packet after --fault-frames frames
    OneByteWrites,  // "one-byte-writes": every byte is sent by a write of its own
    FlipVersion,    // "flip-version": the announced version flips dialect on every login
    Resize,         // "resize": the picture size changes every --fault-frames frames (announced)
    LargerPicture,  // "larger-picture": pictures are encoded larger than the announced size
    AbsurdSize,     // "absurd-size": the stream format announces 65535 x 65535
    SwitchCodec,    // "switch-codec": H.264 and H.265 take turns every --fault-frames frames
    kCount
};
constexpr int kFaultCount = int(Fault::kCount);

std::string_view FaultName(Fault fault);
// False for an unknown name.
bool FaultFromName(std::string_view name, Fault& out);

class FaultSet {
  public:
    bool Has(Fault fault) const { return m_bits.test(size_t(fault)); }
    void Add(Fault fault) { m_bits.set(size_t(fault)); }
    bool Empty() const { return m_bits.none(); }
    // "stall,garbage" in the order of the enumeration; "none" when empty.
    std::string Names() const;

  private:
    std::bitset<kFaultCount> m_bits;
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

struct SimOptions {
    std::string address = "127.0.0.1";
    int port = 37777;  // 0: any free port
    std::string user = "admin";
    std::string password = "admin";
    int version = 5;   // announced protocol version: 5 and above current dialect, below legacy
    int channels = 4;  // 1..32
    PictureSize size{352, 288};
    int fps = 25;
    int bitRate = 512000;       // bits per second
    int gop = 50;               // frames from one key frame to the next
    uint16_t keyType = 100;     // 100 or 104
    uint16_t frameType = 0;     // 0: 101 in the current dialect, 102 in the legacy one; or 112
    uint16_t formatType = 199;  // 199, 200, 201 or 203
    bool h265 = false;          // --codec h265: the generated picture is encoded with libx265
    std::string file;           // H.264 or H.265 Annex B file to stream instead of the picture
    FaultSet faults;
    int faultFrames = 25;
    int faultChannel = -1;    // the streaming faults strike only this channel's viewers; -1: all
    PictureSize faultSize{};  // resize / larger-picture size; zero: twice --size
    int garbageBytes = 4096;
    int refuseCode = 2;
    int maxConnections = 16;

    // The ONVIF device (OnvifDevice): off unless --onvif-port is given.
    int onvifPort = -1;  // 0: any free port
    std::string onvifMain;
    std::string onvifSub;      // empty: the device has the main profile only
    int onvifClockOffset = 0;  // seconds the device's clock is ahead of the host's
    bool onvifPtz = true;
    bool onvifImaging = true;
    std::string onvifLog;    // one canonical line per PTZ / imaging request
    int discoveryPort = -1;  // UDP port answering WS-Discovery probes; -1: none
    bool discoveryMulticast = false;

    // The size "resize" and "larger-picture" switch to.
    PictureSize EffectiveFaultSize() const;
};

enum class ParseOutcome { Run, Help, Error };

// Parses argv[1..argc-1]. Options may repeat; the last value wins (--fault adds).
// On Error, `error` holds a one-line message naming the option.
ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& out, std::string& error);

std::string HelpText();

}  // namespace kavrel::sim
