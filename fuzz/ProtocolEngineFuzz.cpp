// Feeds the protocol engine arbitrary bytes in arbitrary chunk sizes, in both
// dialects, and checks every callback's arguments: video payloads lie inside
// the engine's own receive buffer and within what was received, codes are the
// four the engine may raise, and nothing arrives after a malformed stream.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/DebugSink.h"
#include "protocol/CProtocolEngine.h"

namespace {

using kavrel::CProtocolEngine;

[[noreturn]] void Fail(const char* what) {
    __builtin_trap();
    (void)what;
}

class CheckingListener final : public kavrel::CServerNotify {
  public:
    const uint8_t* lowest = nullptr;  // the engine object's extent
    const uint8_t* highest = nullptr;
    size_t received = 0;  // bytes appended so far
    bool mayCall = true;

    void OnServerEvent(int code) override {
        if (!mayCall)
            Fail("callback after malformed stream");
        if (code != 4 && code != 5 && code != 9 && code != 10)
            Fail("unknown event code");
    }
    void OnDvsInfo(kavrel::DvsInfo info) override {
        if (!mayCall)
            Fail("callback after malformed stream");
        volatile uint8_t count = info.ChannelCount();
        (void)count;
    }
    void OnStreamFormat(kavrel::StreamFormatInfo info) override {
        if (!mayCall)
            Fail("callback after malformed stream");
        volatile uint32_t sum = info.BitRate() + info.Width() + info.Height();
        (void)sum;
    }
    void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                     int keyFrame) override {
        if (!mayCall)
            Fail("callback after malformed stream");
        if (tag != 0 || extra1 != 0 || extra2 != 0)
            Fail("tag or extras not zero");
        if (keyFrame != 0 && keyFrame != 1)
            Fail("key-frame flag");
        if (length < 0 || static_cast<size_t>(length) > received)
            Fail("length beyond input");
        if (length > 0 && (bytes < lowest || bytes + length > highest))
            Fail("payload outside buffer");
        // Touch every byte so AddressSanitizer sees any stray read.
        uint8_t x = 0;
        for (int i = 0; i < length; ++i)
            x = uint8_t(x ^ bytes[i]);
        volatile uint8_t sink = x;
        (void)sink;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kavrel::SetDebugSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    CheckingListener listener;
    auto engine = std::make_unique<CProtocolEngine>(&listener);
    listener.lowest = reinterpret_cast<const uint8_t*>(engine.get());
    listener.highest = listener.lowest + sizeof(CProtocolEngine);
    // No client: the login only fixes the dialect the dispatcher reads with.
    const auto variant =
        (data[0] & 1) ? kavrel::ProtocolVariant::Legacy : kavrel::ProtocolVariant::Current;
    engine->SendLogin(u"user", u"", 0, variant);
    // The low bits of the first byte pick a chunk-size pattern; the stream
    // itself follows unchanged, so the same stream is seen cut many ways.
    const unsigned pattern = data[0] >> 1;
    size_t pos = 1;
    unsigned step = 0;
    while (pos < size) {
        size_t chunk;
        switch (pattern % 4) {
            case 0:
                chunk = size - pos;
                break;  // all at once
            case 1:
                chunk = 1;
                break;  // one byte per read
            case 2:
                chunk = 1 + (step * 7919u + pattern) % 10240;
                break;
            default:
                chunk = 1 + (step * 31u + pattern) % 97;
                break;
        }
        if (chunk > size - pos)
            chunk = size - pos;
        // The engine only ever sees copies, as from a socket read buffer.
        std::vector<uint8_t> read(data + pos, data + pos + chunk);
        listener.received += chunk;
        if (!engine->Append(read.data(), static_cast<int>(read.size()))) {
            listener.mayCall = false;
            // A broken stream stays broken and buffers nothing more.
            if (engine->Append(read.data(), static_cast<int>(read.size())))
                Fail("recovered");
            break;
        }
        pos += chunk;
        ++step;
    }
    engine->Disconnect();
    return 0;
}
