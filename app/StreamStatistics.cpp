#include "app/StreamStatistics.h"

#include <cstdio>
#include <cstring>

namespace kavrel {

std::string StreamStatisticsLine(int channel, const StreamFormatInfo& format,
                                 StatisticsSeparator separator, VideoCodec codec,
                                 std::string_view streamLabel) {
    const char* pattern = separator == StatisticsSeparator::AfterStreamFormat
                              ? "CH=%lld,FPS=%d,Size=%dx%d,Rate=%ukb"
                              : "CH=%lld,FPS=%d,Size=%d*%d,Rate=%ukb";
    // A channel read from config.txt may be any int: widen before adding one.
    char line[96];
    std::snprintf(line, sizeof line, pattern, (long long)channel + 1, int(format.FramesPerSecond()),
                  int(format.Width()), int(format.Height()), unsigned(format.BitRate() / 1000u));
    if (codec == VideoCodec::kUnknown)
        return line;
    // A stream has one camera: its codec stands where the channel would.
    std::string named = CodecName(codec);
    if (!streamLabel.empty()) {
        named += ',';
        named += streamLabel;
    }
    return named + std::string(std::strchr(line, ','));
}

}  // namespace kavrel
