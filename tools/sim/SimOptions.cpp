#include "tools/sim/SimOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <map>

namespace kavrel::sim {
namespace {

constexpr std::array<std::string_view, kFaultCount> kFaultNames = {
    "refuse-login",   "no-login-answer", "close",           "stall",        "garbage",
    "short-header",   "long-packet",     "one-byte-writes", "flip-version", "resize",
    "larger-picture", "absurd-size",     "switch-codec",
};

constexpr int kMaxPictureSide = 4096;

bool ParseInt(std::string_view text, long long low, long long high, long long& out) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

// "WxH" with both sides even and within 16..4096 (the encoder needs even sizes).
bool ParseSize(std::string_view text, PictureSize& out) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return false;
    long long w = 0, h = 0;
    if (!ParseInt(text.substr(0, x), 16, kMaxPictureSide, w) ||
        !ParseInt(text.substr(x + 1), 16, kMaxPictureSide, h) || w % 2 != 0 || h % 2 != 0) {
        return false;
    }
    out = {int(w), int(h)};
    return true;
}

}  // namespace

std::string_view FaultName(Fault fault) {
    const int i = int(fault);
    return (i >= 0 && i < kFaultCount) ? kFaultNames[size_t(i)] : "unknown";
}

bool FaultFromName(std::string_view name, Fault& out) {
    const auto it = std::find(kFaultNames.begin(), kFaultNames.end(), name);
    if (it == kFaultNames.end())
        return false;
    out = Fault(it - kFaultNames.begin());
    return true;
}

std::string FaultSet::Names() const {
    std::string names;
    for (int i = 0; i < kFaultCount; ++i) {
        if (!Has(Fault(i)))
            continue;
        if (!names.empty())
            names += ',';
        names += kFaultNames[size_t(i)];
    }
    return names.empty() ? "none" : names;
}

PictureSize SimOptions::EffectiveFaultSize() const {
    if (faultSize.width > 0)
        return faultSize;
    return {std::min(size.width * 2, kMaxPictureSide), std::min(size.height * 2, kMaxPictureSide)};
}

ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& out, std::string& error) {
    // Integer options: name → (low, high, where to store).
    struct IntOption {
        long long low;
        long long high;
        std::function<void(long long)> store;
    };
    const std::map<std::string_view, IntOption> intOptions = {
        {"--port", {0, 65535, [&](long long v) { out.port = int(v); }}},
        {"--version", {0, 65535, [&](long long v) { out.version = int(v); }}},
        {"--channels", {1, 32, [&](long long v) { out.channels = int(v); }}},
        {"--fps", {1, 100, [&](long long v) { out.fps = int(v); }}},
        {"--bitrate", {16000, 50000000, [&](long long v) { out.bitRate = int(v); }}},
        {"--gop", {1, 1000, [&](long long v) { out.gop = int(v); }}},
        {"--fault-frames", {0, 1000000, [&](long long v) { out.faultFrames = int(v); }}},
        {"--fault-channel", {0, 31, [&](long long v) { out.faultChannel = int(v); }}},
        {"--garbage-bytes", {1, 1000000, [&](long long v) { out.garbageBytes = int(v); }}},
        {"--refuse-code", {0, 65535, [&](long long v) { out.refuseCode = int(v); }}},
        {"--max-connections", {1, 256, [&](long long v) { out.maxConnections = int(v); }}},
        {"--onvif-port", {0, 65535, [&](long long v) { out.onvifPort = int(v); }}},
        {"--onvif-clock-offset",
         {-100000000, 100000000, [&](long long v) { out.onvifClockOffset = int(v); }}},
        {"--discovery-port", {0, 65535, [&](long long v) { out.discoveryPort = int(v); }}},
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h")
            return ParseOutcome::Help;
        // The switches without a value.
        if (name == "--onvif-no-ptz") {
            out.onvifPtz = false;
            continue;
        }
        if (name == "--onvif-no-imaging") {
            out.onvifImaging = false;
            continue;
        }
        if (name == "--discovery-multicast") {
            out.discoveryMulticast = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + std::string(name) + " (see --help)";
            return ParseOutcome::Error;
        }
        const std::string_view value = argv[++i];
        const auto bad = [&](std::string_view why) {
            error = "bad value '" + std::string(value) + "' for " + std::string(name) + ": " +
                    std::string(why);
            return ParseOutcome::Error;
        };
        long long number = 0;
        if (const auto it = intOptions.find(name); it != intOptions.end()) {
            if (!ParseInt(value, it->second.low, it->second.high, number)) {
                return bad("expected a whole number from " + std::to_string(it->second.low) +
                           " to " + std::to_string(it->second.high));
            }
            it->second.store(number);
        } else if (name == "--address") {
            out.address = std::string(value);
        } else if (name == "--onvif-main") {
            out.onvifMain = std::string(value);
        } else if (name == "--onvif-sub") {
            out.onvifSub = std::string(value);
        } else if (name == "--onvif-log") {
            out.onvifLog = std::string(value);
        } else if (name == "--user") {
            if (value.size() > 32)
                return bad("at most 32 bytes fit the login's user field");
            out.user = std::string(value);
        } else if (name == "--password") {
            if (value.size() > 19)
                return bad("at most 19 bytes fit the login's password field");
            out.password = std::string(value);
        } else if (name == "--size") {
            if (!ParseSize(value, out.size))
                return bad("expected WxH, even, 16 to 4096 each");
        } else if (name == "--fault-size") {
            if (!ParseSize(value, out.faultSize))
                return bad("expected WxH, even, 16 to 4096 each");
        } else if (name == "--key-type") {
            if (value != "100" && value != "104")
                return bad("expected 100 or 104");
            out.keyType = value == "100" ? 100 : 104;
        } else if (name == "--frame-type") {
            if (value == "auto") {
                out.frameType = 0;
            } else if (ParseInt(value, 101, 112, number) &&
                       (number == 101 || number == 102 || number == 112)) {
                out.frameType = uint16_t(number);
            } else {
                return bad("expected auto, 101, 102 or 112");
            }
        } else if (name == "--format-type") {
            if (!ParseInt(value, 199, 203, number) || number == 202) {
                return bad("expected 199, 200, 201 or 203");
            }
            out.formatType = uint16_t(number);
        } else if (name == "--codec") {
            if (value != "h264" && value != "h265")
                return bad("expected h264 or h265");
            out.h265 = value == "h265";
        } else if (name == "--file") {
            if (value.empty())
                return bad("expected a file name");
            out.file = std::string(value);
        } else if (name == "--fault") {
            Fault fault;
            if (!FaultFromName(value, fault))
                return bad("unknown fault (see --help)");
            out.faults.Add(fault);
        } else {
            error = "unknown option " + std::string(name) + " (see --help)";
            return ParseOutcome::Error;
        }
    }
    if (!out.file.empty() &&
        (out.faults.Has(Fault::Resize) || out.faults.Has(Fault::LargerPicture) ||
         out.faults.Has(Fault::SwitchCodec))) {
        error =
            "--fault resize, larger-picture and switch-codec need the generated picture, not "
            "--file";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string HelpText() {
    return R"(Usage: kavrel-sim [options]
A simulated camera server: speaks the server side of the viewer's protocol on
TCP, in either dialect, and streams live H.264 made with libx264, or H.265
made with libx265. Nothing in the protocol names the codec: the viewer finds
it in the stream.

Connection:
  --address A          address to listen on (default 127.0.0.1)
  --port N             TCP port, 0 picks a free one (default 37777)
  --user U             user name a login must carry (default admin, at most 32 bytes)
  --password P         password a login must carry (default admin, at most 19 bytes;
                       a legacy login carries 16, so only its first 16 are compared)
  --version V          protocol version announced on every login (default 5):
                       5 and above is the current dialect, below 5 the legacy one
  --channels N         channels offered, 1 to 32 (default 4)
  --max-connections N  viewers served at once; more are closed at once (default 16)

Picture (generated unless --file is given):
  --size WxH           picture size, even, 16 to 4096 (default 352x288)
  --fps N              frames per second, 1 to 100 (default 25)
  --bitrate N          bits per second (default 512000)
  --gop N              frames from one key frame to the next (default 50)
  --codec C            h264 (libx264, the default) or h265 (libx265)
  --file PATH          stream this H.264 or H.265 Annex B file instead (the
                       codec is found in it), cut into access units, looping;
                       its size is found by decoding it
Record types:
  --key-type T         key frames as 100 or 104 (default 100)
  --frame-type T       other frames as auto (101 current, 102 legacy), 101, 102 or 112
  --format-type T      stream format record 199, 200, 201 or 203 (default 199)

Faults (--fault NAME, repeatable):
  refuse-login         answer every login with --refuse-code (default 2)
  no-login-answer      read logins and never answer them
  close                close the connection after --fault-frames frames (default 25)
  stall                send nothing more after --fault-frames frames, keep the connection
  garbage              send --garbage-bytes random bytes (default 4096) after
                       --fault-frames frames, then go on streaming
  short-header         send a packet header whose length is 2 after --fault-frames frames
  long-packet          send one 262164-byte packet (filler records of type 97)
                       after --fault-frames frames
  one-byte-writes      deliver every byte by a write of its own
  flip-version         flip the announced dialect on every login
  resize               change to --fault-size (announced) every --fault-frames frames
  larger-picture       encode at --fault-size while announcing --size
  absurd-size          announce 65535 x 65535
  switch-codec         change from --codec to the other codec and back every
                       --fault-frames frames (at a key frame, nothing announced)
  --fault-size WxH     size for resize and larger-picture (default twice --size)
  --fault-channel N    the faults struck while streaming (close to resize) strike
                       only viewers of channel N (0-based; default: every viewer)

ONVIF device (Profile S subset, SOAP 1.2 over HTTP on --address):
  --onvif-port N       serve the device, media, PTZ and imaging services on this
                       port, 0 picks a free one; "kavrel-sim onvif on ADDRESS:PORT"
                       goes to stdout. Every request but GetSystemDateAndTime needs
                       a WS-UsernameToken digest of --user / --password whose
                       Created is within 5 s of the device's clock
  --onvif-main URL     stream URI of profile "main" (704x576)
  --onvif-sub URL      stream URI of profile "sub" (352x288); without it one profile
  --onvif-clock-offset S  the device's clock is S seconds ahead of the host's
  --onvif-no-ptz       no PTZ service
  --onvif-no-imaging   no imaging service
  --onvif-log FILE     one line per PTZ, preset and imaging request, and a
                       "Refused OPERATION" line per refused request
  --discovery-port N   answer WS-Discovery probes on UDP N (0 picks a free one)
  --discovery-multicast  also join 239.255.255.250:3702

Wrong user or password is refused with result 2, a channel not offered with 3.
Events are logged on stderr, one line each; SIGINT or SIGTERM ends the program
with a summary. "kavrel-sim listening on ADDRESS:PORT" goes to stdout once
listening. Exit status: 0 after a signal, 1 when it cannot listen or read
--file, 2 for bad options.
)";
}

}  // namespace kavrel::sim
