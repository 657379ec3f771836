// Append plus dispatch over a stream of video records, read in 10240-byte
// chunks as the receive thread would, next to a plain memcpy of the same
// chunks into a buffer of the same size. Prints the ratio of the two rates.
//
//   build/bench/protocol/bench_protocol

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/CProtocolEngine.h"
#include "protocol/WireFormat.h"

namespace {

using kavrel::CProtocolEngine;
using kavrel::CServerNotify;

constexpr size_t kChunk = 10240;
constexpr size_t kStreamBytes = 16 << 20;

// 16 MB of packets, each one video record of 2 to 40 KB (key frames larger),
// the mix a camera server sends.
const std::vector<uint8_t>& VideoStream() {
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> bytes;
        uint32_t state = 1;
        for (int i = 0; bytes.size() < kStreamBytes; ++i) {
            state = state * 1664525u + 1013904223u;
            const bool key = i % 25 == 0;
            const size_t size = key ? 40000 : 2000 + (state >> 8) % 18000;
            std::vector<uint8_t> payload(size, uint8_t(i));
            kavrel::wire::PacketBuilder packet{uint32_t(i)};
            packet.Add(key ? kavrel::wire::kVideoKeyFrame : kavrel::wire::kVideoFrameAlt, payload);
            const auto& whole = packet.Bytes();
            bytes.insert(bytes.end(), whole.begin(), whole.end());
        }
        return bytes;
    }();
    return stream;
}

// Takes the frame as the video window would begin to: looks at its length.
class CountingListener final : public CServerNotify {
  public:
    void OnServerEvent(int) override {}
    void OnDvsInfo(kavrel::DvsInfo) override {}
    void OnStreamFormat(kavrel::StreamFormatInfo) override {}
    void OnVideoData(int, const uint8_t* bytes, int length, int, int, int) override {
        benchmark::DoNotOptimize(bytes);
        m_bytes += size_t(length);
    }
    size_t Bytes() const { return m_bytes; }

  private:
    size_t m_bytes = 0;
};

void BM_AppendDispatch(benchmark::State& state) {
    const auto& stream = VideoStream();
    CountingListener listener;
    auto engine = std::make_unique<CProtocolEngine>(&listener);
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += kChunk) {
            const size_t n = std::min(kChunk, stream.size() - at);
            if (!engine->Append(stream.data() + at, int(n)))
                state.SkipWithError("stream refused");
        }
    }
    benchmark::DoNotOptimize(listener.Bytes());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}
BENCHMARK(BM_AppendDispatch)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
    const auto& stream = VideoStream();
    std::vector<uint8_t> buffer(CProtocolEngine::kReceiveBufferSize);
    size_t write = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += kChunk) {
            const size_t n = std::min(kChunk, stream.size() - at);
            if (write + n > buffer.size())
                write = 0;
            std::memcpy(buffer.data() + write, stream.data() + at, n);
            write += n;
            benchmark::ClobberMemory();
        }
    }
    benchmark::DoNotOptimize(buffer.data());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps each benchmark's rate for the ratio.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end())
                continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
                m_rates[run.run_name.function_name] = rate->second.value;
            }
        }
    }
    double Rate(const std::string& name) const {
        const auto found = m_rates.find(name);
        return found == m_rates.end() ? 0.0 : found->second;
    }

  private:
    std::map<std::string, double> m_rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double engine = reporter.Rate("BM_AppendDispatch");
    const double copy = reporter.Rate("BM_Memcpy");
    if (engine > 0 && copy > 0) {
        std::printf("\nAppend+dispatch: %.0f MB/s, memcpy: %.0f MB/s, ratio %.2f of memcpy\n",
                    engine / 1e6, copy / 1e6, engine / copy);
    }
    benchmark::Shutdown();
    return 0;
}
