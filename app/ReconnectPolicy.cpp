#include "app/ReconnectPolicy.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

std::chrono::milliseconds RetryDelay(const ReconnectPolicy& policy, int retry, double unit) {
    if (policy.steps.empty())
        return std::chrono::milliseconds(0);
    const size_t index = size_t(std::clamp(retry - 1, 0, int(policy.steps.size()) - 1));
    const double base = double(policy.steps[index].count());
    const double cap = std::max(0.0, double(policy.steps.back().count()));
    // The whole jitter range stays, mapped below the cap: clamping the long
    // waits to the cap instead would bring half of the viewers back at once.
    const double shortest = std::clamp(base * (1.0 - policy.jitter), 0.0, cap);
    const double longest = std::max(shortest, std::min(cap, base * (1.0 + policy.jitter)));
    const double wait = shortest + (longest - shortest) * std::clamp(unit, 0.0, 1.0);
    return std::chrono::milliseconds(std::llround(wait));
}

QString FormatCountdown(const QString& text, int seconds, int attempt) {
    QString out;
    out.reserve(text.size() + 8);
    int filled = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (filled < 2 && text[i] == QLatin1Char('%') && i + 1 < text.size() &&
            text[i + 1] == QLatin1Char('d')) {
            out += QString::number(filled == 0 ? seconds : attempt);
            ++filled;
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

int SecondsLeft(std::chrono::milliseconds left) {
    if (left.count() <= 0)
        return 0;
    return std::max(1, int((left.count() + 500) / 1000));
}

}  // namespace kavrel
