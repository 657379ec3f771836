#pragma once
// The statistics line of the status line: what the server announced for the
// stream (the viewer measures nothing itself).
//
//   when a stream format arrives:   "CH=%d,FPS=%d,Size=%dx%d,Rate=%dkb"
//   when timer 1000 restores it:    "CH=%d,FPS=%d,Size=%d*%d,Rate=%dkb"
//
// with the 1-based channel, the frame rate, width, height and the bit rate
// divided by 1000 in unsigned arithmetic (remainder dropped). Pure; any thread.
//
// A stream that names its codec (an RTSP camera) shows it in place of the
// channel: "H.264,FPS=25,Size=704x576,Rate=0kb". A camera of two streams
// names the one shown after it: "H.264,Sub,FPS=25,Size=352x288,Rate=0kb".

#include <string>
#include <string_view>

#include "protocol/WireFormat.h"
#include "video/StreamCodec.h"

namespace kavrel {

enum class StatisticsSeparator { AfterStreamFormat, AfterTimer };

// `channel` is 0-based.
std::string StreamStatisticsLine(int channel, const StreamFormatInfo& format,
                                 StatisticsSeparator separator,
                                 VideoCodec codec = VideoCodec::kUnknown,
                                 std::string_view streamLabel = {});

}  // namespace kavrel
