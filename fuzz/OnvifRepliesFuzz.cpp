// Every ONVIF reply parser on the same untrusted body: none may crash, read
// out of bounds or hand back more than its bounds allow.

#include <cstdint>
#include <cstdlib>

#include "onvif/Replies.h"

using namespace kavrel::onvif;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ParseFault(body);
    ParseSystemDateAndTime(body);
    ParseServices(body);
    if (const auto profiles = ParseProfiles(body);
        profiles && static_cast<int>(profiles->size()) > kMaxProfiles) {
        abort();
    }
    if (const auto presets = ParsePresets(body);
        presets && static_cast<int>(presets->size()) > kMaxPresets) {
        abort();
    }
    // Its text is bounded by the reader; its promise is an RTSP address with
    // a host (a QUrl's string form may be longer than the text, an IDN host
    // in ASCII form, so a length check here would cry wolf).
    if (const auto uri = ParseStreamUri(body);
        uri && (uri->host().isEmpty() || !uri->scheme().startsWith("rtsp", Qt::CaseInsensitive))) {
        abort();
    }
    ImagingOptions options;
    ParseImagingOptions(body, options);
    ParseIris(body);
    ParseProbeMatches(body);
    return 0;
}
