#include "app/ReconnectPolicy.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

std::chrono::milliseconds RetryDelay(const ReconnectPolicy& policy, int retry, double unit) {
    if (policy.steps.empty())
        return std::chrono::milliseconds(0);
    const size_t index = size_t(std::clamp(retry - 1, 0, int(policy.steps.size()) - 1));
    const double base = double(policy.steps[index].count());
    const double factor = 1.0 + policy.jitter * (2.0 * std::clamp(unit, 0.0, 1.0) - 1.0);
    return std::chrono::milliseconds(std::llround(std::max(0.0, base * factor)));
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
