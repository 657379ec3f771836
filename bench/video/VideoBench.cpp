// Speed of the way from a decoded picture to the 16-bit picture on screen,
// side by side in one run at 352x288, 1280x720 and 1920x1080:
//   - the reference table conversion (24-bit, then 16-bit, then the row flip),
//   - the fused scalar pass and the AVX2 pass (both bit-exact with the tables),
//   - libyuv I420ToRGB24 / I420ToRGB565 and swscale yuv420p to bgr24 / rgb565le
//     (speed anchors only: they round differently);
// and decode plus conversion per frame against decode alone (timed frame by
// frame, interleaved), whether a 10 ms pause after each picture helps, and the
// window's conversion at the size shown (1080p into 1280x720) of the whole
// picture against the digital zoom's part at 2x and 8x, and into the single
// view of a 480x640 window by source rows against gathered. After the
// Google Benchmark table it prints ratios measured in this same run.
//
//   build/bench/video/bench_video                       (everything)
//   build/bench/video/bench_video --benchmark_filter=1920x1080

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/H264TestEncoder.h"
#include "video/ColourTables.h"
#include "video/DigitalZoom.h"
#include "video/FastConversion.h"
#include "video/H264Decoder.h"
#include "video/PictureTransform.h"
#include "video/SampledConversion.h"
#include "video/VideoPipeline.h"

#ifdef KAVREL_BENCH_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

namespace {

using namespace kavrel;

struct Size {
    int width;
    int height;
    std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
};
const Size kSizes[] = {{352, 288}, {1280, 720}, {1920, 1080}};

// One random picture per size, and every output buffer, made once.
struct Work {
    Size size;
    test::YuvPicture picture;
    ColourTables tables;
    std::vector<uint8_t> rgb;
    std::vector<uint16_t> screen;

    explicit Work(Size s)
        : size(s),
          picture(test::MakeNoisePicture(s.width, s.height, 7)),
          rgb(3 * size_t(s.width) * s.height),
          screen(size_t(s.width) * s.height) {
        tables.Build();
    }
    const uint8_t* Y() const { return picture.Y(); }
    const uint8_t* U() const { return picture.U(); }
    const uint8_t* V() const { return picture.V(); }
};

Work& WorkFor(Size size) {
    static std::map<int, std::unique_ptr<Work>> works;
    auto& work = works[size.width];
    if (!work)
        work = std::make_unique<Work>(size);
    return *work;
}

void TableRgb24(Work& w) {
    ConvertToRgb(w.tables, w.picture.bytes.data(), w.rgb.data(), w.size.width, w.size.height);
}
void TableRgb565(Work& w) {
    ConvertToRgb565(w.rgb.data(), w.screen.data(), w.size.width, w.size.height);
}
void TableFlip(Work& w) {
    FlipRows(w.screen.data(), w.size.width, w.size.height);
}
void TableAll(Work& w) {
    TableRgb24(w);
    TableRgb565(w);
    TableFlip(w);
}
void FusedScalar(Work& w) {
    ConvertToScreenScalar(w.tables, w.picture.bytes.data(), w.screen.data(), w.size.width,
                          w.size.height);
}
void FusedAvx2(Work& w) {
    ConvertToScreenAvx2(w.picture.bytes.data(), w.screen.data(), w.size.width, w.size.height);
}
void FusedAvx512(Work& w) {
    ConvertToScreenAvx512(w.picture.bytes.data(), w.screen.data(), w.size.width, w.size.height);
}
void LibyuvRgb24(Work& w) {
    libyuv::I420ToRGB24(w.Y(), w.size.width, w.U(), w.size.width / 2, w.V(), w.size.width / 2,
                        w.rgb.data(), 3 * w.size.width, w.size.width, w.size.height);
}
void LibyuvRgb565(Work& w) {
    libyuv::I420ToRGB565(w.Y(), w.size.width, w.U(), w.size.width / 2, w.V(), w.size.width / 2,
                         reinterpret_cast<uint8_t*>(w.screen.data()), 2 * w.size.width,
                         w.size.width, w.size.height);
}
void Memcpy(Work& w) {
    std::memcpy(w.rgb.data(), w.picture.bytes.data(), w.picture.bytes.size());
}

// The window's conversion: the picture (or the zoom's part of it, round the
// middle) sampled into a 1280x720 back image of 32-bit values.
void SampledAtLevel(Work& w, int level) {
    static std::vector<uint32_t> back(1280 * 720);
    static SamplingScratch scratch;
    DigitalZoom zoom;
    zoom.ZoomAt(level, 0.5, 0.5);
    ConvertSampled(BestConversionPath(),
                   PackedPicture(w.picture.bytes.data(), w.size.width, w.size.height), false,
                   back.data(), 1280, 1280, 720, scratch, zoom.Part());
}
void Sampled1x(Work& w) {
    SampledAtLevel(w, 0);
}
void Sampled2x(Work& w) {
    SampledAtLevel(w, 3);
}
void Sampled8x(Work& w) {
    SampledAtLevel(w, DigitalZoom::kMaxLevel);
}

// The single view's picture in the 480x640 window (415x340, aspect kept):
// each sampled source row converted once against every shown pixel gathered.
void SampledWindow(Work& w, Sampling sampling) {
    static std::vector<uint32_t> back(415 * 340);
    static SamplingScratch scratch;
    ConvertSampled(BestConversionPath(),
                   PackedPicture(w.picture.bytes.data(), w.size.width, w.size.height), false,
                   back.data(), 415, 415, 340, scratch, {}, sampling);
}
void SampledWindowRows(Work& w) {
    SampledWindow(w, Sampling::kBest);
}
void SampledWindowGather(Work& w) {
    SampledWindow(w, Sampling::kGather);
}

#ifdef KAVREL_BENCH_SWSCALE
void Swscale(Work& w, AVPixelFormat format, uint8_t* target, int stride) {
    static std::map<std::pair<int, int>, SwsContext*> contexts;  // kept for the process
    SwsContext*& context = contexts[{w.size.width, int(format)}];
    if (context == nullptr) {
        context = sws_getContext(w.size.width, w.size.height, AV_PIX_FMT_YUV420P, w.size.width,
                                 w.size.height, format, SWS_POINT, nullptr, nullptr, nullptr);
    }
    const uint8_t* planes[3] = {w.Y(), w.U(), w.V()};
    const int strides[3] = {w.size.width, w.size.width / 2, w.size.width / 2};
    uint8_t* targets[1] = {target};
    const int targetStrides[1] = {stride};
    sws_scale(context, planes, strides, 0, w.size.height, targets, targetStrides);
}
void SwscaleBgr24(Work& w) {
    Swscale(w, AV_PIX_FMT_BGR24, w.rgb.data(), 3 * w.size.width);
}
void SwscaleRgb565(Work& w) {
    Swscale(w, AV_PIX_FMT_RGB565LE, reinterpret_cast<uint8_t*>(w.screen.data()), 2 * w.size.width);
}
#endif

void RunConversion(benchmark::State& state, Size size, void (*convert)(Work&)) {
    Work& work = WorkFor(size);
    for (auto _ : state) {
        convert(work);
        benchmark::DoNotOptimize(work.screen.data());
        benchmark::DoNotOptimize(work.rgb.data());
        benchmark::ClobberMemory();
    }
}

// A camera-like stream (veryfast, GOP 50, default rate control), one GOP long.
const std::vector<test::EncodedFrame>& StreamFor(Size size) {
    static std::map<int, std::vector<test::EncodedFrame>> streams;
    auto& frames = streams[size.width];
    if (frames.empty()) {
        std::vector<test::YuvPicture> pictures;
        for (int i = 0; i < 50; ++i)
            pictures.push_back(test::MakeScenePicture(size.width, size.height, i));
        test::EncoderOptions options;
        options.width = size.width;
        options.height = size.height;
        options.qp = -1;
        options.gopSize = 50;
        options.preset = "veryfast";
        options.profile = "main";
        frames = test::EncodeSequence(options, pictures);
    }
    return frames;
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Decodes the whole GOP per iteration (with a fresh decoder) and converts
// each picture with the best path. Decoding and conversion are timed frame by
// frame, interleaved, so their ratio does not depend on how busy the machine
// was during one benchmark or the other.
void RunDecode(benchmark::State& state, Size size) {
    const auto& frames = StreamFor(size);
    Work& work = WorkFor(size);
    std::vector<uint8_t> planar(PlanarLayoutFor(size.width, size.height).totalBytes);
    const ConversionPath path = BestConversionPath();
    double decodeMs = 0;
    double convertMs = 0;
    double count = 0;
    for (auto _ : state) {
        DecoderPtr decoder = OpenDecoder();
        for (const auto& frame : frames) {
            int width = 0;
            int height = 0;
            const double start = ThreadCpuMs();
            if (DecodeFrame(*decoder, frame.bytes.data(), int(frame.bytes.size()), planar.data(),
                            planar.size(), &width, &height) != DecodeStatus::kPicture) {
                state.SkipWithError("decode failed");
                return;
            }
            const double decoded = ThreadCpuMs();
            ConvertToScreen(path, work.tables, planar.data(), work.screen.data(), width, height);
            const double converted = ThreadCpuMs();
            decodeMs += decoded - start;
            convertMs += converted - decoded;
            count += 1;
        }
        benchmark::DoNotOptimize(work.screen.data());
    }
    state.counters["decode_ms"] = decodeMs / count;
    state.counters["convert_ms"] = convertMs / count;
}

// Takes pictures as the video window does: one copy into a locked slot.
class SlotSink : public PictureSink {
  public:
    void OnPicture(const uint16_t* pixels, int width, int height) override {
        std::lock_guard lock(m_mutex);
        m_slot.assign(pixels, pixels + size_t(width) * height);
        ++m_pictures;
        m_changed.notify_all();
    }
    void OnSnapshotWritten(bool, const std::string&) override {}
    void WaitFor(int pictures) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_pictures >= pictures; });
    }
    void Reset() {
        std::lock_guard lock(m_mutex);
        m_pictures = 0;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<uint16_t> m_slot;  // guarded by m_mutex
    int m_pictures = 0;            // guarded by m_mutex
};

// Does a 10 ms pause after each picture serve a purpose?
// A backlog of one GOP is queued, then decoded and delivered; meanwhile a
// second thread stands for the user-interface thread: it wakes every
// millisecond and records how late it woke. Run with pause 0 and pause 10.
void RunBacklog(benchmark::State& state, Size size, int pauseMs) {
    const auto& frames = StreamFor(size);
    SlotSink sink;
    VideoPipeline pipeline(&sink);
    pipeline.SetPauseAfterPicture(std::chrono::milliseconds(pauseMs));
    double worstLateMs = 0;
    double lateSumMs = 0;
    long ticks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sink.Reset();
        for (const auto& frame : frames) {
            pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
        }
        std::atomic<bool> running{true};
        std::thread ticker([&] {
            auto next = std::chrono::steady_clock::now();
            while (running) {
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
                const double late = std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - next)
                                        .count();
                worstLateMs = std::max(worstLateMs, late);
                lateSumMs += late;
                ++ticks;
            }
        });
        state.ResumeTiming();
        pipeline.StartDecoding(VideoFormat{size.width, size.height});
        sink.WaitFor(int(frames.size()));
        state.PauseTiming();
        running = false;
        ticker.join();
        pipeline.StopDecoding();
        state.ResumeTiming();
    }
    state.counters["ui_late_worst_ms"] = worstLateMs;
    state.counters["ui_late_mean_ms"] = ticks > 0 ? lateSumMs / double(ticks) : 0.0;
}

// Keeps each run's time per iteration, in milliseconds, for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Conversions and decoding: the fastest repetition's CPU time (the
    // machine is shared, and its other work only ever adds time). The
    // backlog runs: wall-clock time, which is what the pause changes.
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min") {
                m_ms[name] = run.GetAdjustedCPUTime();  // in the run's unit: ms
                for (const char* counter : {"decode_ms", "convert_ms"}) {
                    const auto it = run.counters.find(counter);
                    if (it != run.counters.end())
                        m_ms[name + "#" + counter] = it->second.value;
                }
            } else if (run.run_type == Run::RT_Iteration && name.rfind("backlog", 0) == 0) {
                m_ms[name] = run.GetAdjustedRealTime();
                for (const char* counter : {"ui_late_mean_ms", "ui_late_worst_ms"}) {
                    const auto it = run.counters.find(counter);
                    if (it != run.counters.end())
                        m_ms[name + "#" + counter] = it->second.value;
                }
            }
        }
    }

    void PrintRatios() const {
        std::printf(
            "\nRatios from this run: fastest of 5 repetitions, CPU time (backlog: wall clock)\n"
            "time / time of the reference; lower is faster\n");
        for (const Size& size : kSizes) {
            const std::string s = size.Name();
            const double yuv565 = Find("libyuv_I420ToRGB565/" + s);
            const double table = Find("table_all/" + s);
            if (yuv565 <= 0 && table <= 0)
                continue;
            std::printf("\n%-28s %9s %20s %14s\n", s.c_str(), "ms/frame", "/ libyuv RGB565",
                        "/ table_all");
            for (const char* name :
                 {"table_rgb24", "table_rgb565", "table_flip", "table_all", "fused_scalar",
                  "fused_avx2", "fused_avx512", "libyuv_I420ToRGB24", "libyuv_I420ToRGB565",
                  "swscale_bgr24", "swscale_rgb565le", "memcpy_yuv_frame"}) {
                const double ms = Find(std::string(name) + "/" + s);
                if (ms <= 0)
                    continue;
                std::printf("  %-26s %9.3f %20.2f %14.2f\n", name, ms,
                            yuv565 > 0 ? ms / yuv565 : 0.0, table > 0 ? ms / table : 0.0);
            }
            const double backlog0 = Find("backlog_pause0/" + s);
            const double backlog10 = Find("backlog_pause10/" + s);
            if (backlog0 > 0 && backlog10 > 0) {
                std::printf(
                    "  backlog of 50 frames shown: pause 0 ms %.3f ms/frame, pause 10 ms "
                    "%.3f ms/frame: ratio %.2f\n",
                    backlog0 / 50, backlog10 / 50, backlog10 / backlog0);
                std::printf(
                    "  meanwhile a 1 ms ticker woke late by: pause 0 ms mean %.2f worst "
                    "%.2f ms, pause 10 ms mean %.2f worst %.2f ms\n",
                    Find("backlog_pause0/" + s + "#ui_late_mean_ms"),
                    Find("backlog_pause0/" + s + "#ui_late_worst_ms"),
                    Find("backlog_pause10/" + s + "#ui_late_mean_ms"),
                    Find("backlog_pause10/" + s + "#ui_late_worst_ms"));
            }
            const double whole = Find("sampled_1x_into_1280x720/" + s);
            const double eight = Find("sampled_8x_into_1280x720/" + s);
            if (whole > 0 && eight > 0) {
                std::printf(
                    "  shown at 1280x720 (%s): 1x %.3f ms/frame, 2x %.3f, 8x %.3f: 8x / 1x "
                    "%.2f\n",
                    ConversionPathName(BestConversionPath()), whole,
                    Find("sampled_2x_into_1280x720/" + s), eight, eight / whole);
            }
            const double decode = Find("decode_convert/" + s + "#decode_ms");
            const double convert = Find("decode_convert/" + s + "#convert_ms");
            if (decode > 0) {
                std::printf(
                    "  per frame, interleaved: decode %.3f ms, %s conversion %.3f ms: "
                    "(decode + conversion) / decode %.3f\n",
                    decode, ConversionPathName(BestConversionPath()), convert,
                    (decode + convert) / decode);
            }
        }
    }

  private:
    double Find(const std::string& name) const {
        const auto it = m_ms.find(name);
        return it == m_ms.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> m_ms;
};

benchmark::internal::Benchmark* Repeated(benchmark::internal::Benchmark* bench) {
    return bench->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
        });
}

void RegisterAll() {
    struct Entry {
        const char* name;
        void (*convert)(Work&);
        ConversionPath needs;
    };
    constexpr ConversionPath kAny = ConversionPath::kScalar;
    std::vector<Entry> entries = {
        {"table_rgb24", TableRgb24, kAny},
        {"table_rgb565", TableRgb565, kAny},
        {"table_flip", TableFlip, kAny},
        {"table_all", TableAll, kAny},
        {"fused_scalar", FusedScalar, kAny},
        {"fused_avx2", FusedAvx2, ConversionPath::kAvx2},
        {"fused_avx512", FusedAvx512, ConversionPath::kAvx512},
        {"libyuv_I420ToRGB24", LibyuvRgb24, kAny},
        {"libyuv_I420ToRGB565", LibyuvRgb565, kAny},
#ifdef KAVREL_BENCH_SWSCALE
        {"swscale_bgr24", SwscaleBgr24, kAny},
        {"swscale_rgb565le", SwscaleRgb565, kAny},
#endif
        {"memcpy_yuv_frame", Memcpy, kAny},
        {"sampled_1x_into_1280x720", Sampled1x, kAny},
        {"sampled_2x_into_1280x720", Sampled2x, kAny},
        {"sampled_8x_into_1280x720", Sampled8x, kAny},
        {"window_415x340_by_rows", SampledWindowRows, kAny},
        {"window_415x340_gathered", SampledWindowGather, kAny},
    };
    for (const Size& size : kSizes) {
        for (const Entry& entry : entries) {
            if (!CpuSupports(entry.needs))
                continue;
            Repeated(
                benchmark::RegisterBenchmark((std::string(entry.name) + "/" + size.Name()).c_str(),
                                             RunConversion, size, entry.convert))
                ->MinTime(0.1);
        }
        Repeated(benchmark::RegisterBenchmark(("decode_convert/" + size.Name()).c_str(), RunDecode,
                                              size))
            ->MinTime(0.3);
        for (int pause : {0, 10}) {
            benchmark::RegisterBenchmark(
                ("backlog_pause" + std::to_string(pause) + "/" + size.Name()).c_str(), RunBacklog,
                size, pause)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(4)
                ->UseRealTime();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
