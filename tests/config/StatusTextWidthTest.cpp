// The delivered status-line texts fit one line of the 480-pixel-wide window in
// the program's font (Liberation Sans, 10 points: skin/SkinBitmap's SkinFont at
// that window size).

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <algorithm>

#include "config/Localisation.h"
#include "config/ProfileFile.h"

namespace kavrel {
namespace {

constexpr int kWindowWidth = 480;
constexpr int kMargin = 40;  // room for the status label's inset

TEST(StatusTextWidthTest, EveryStatusTextFitsOneLine) {
    ProfileFile file(KAVREL_RES_DIR "/config.txt");
    ASSERT_EQ(file.Load(), ProfileLoadResult::Loaded);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(10);
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const char* section : {"lan0", "lan1", "lan2"}) {
        for (std::u16string_view key : kStatusTextKeys) {
            QString text =
                QString::fromStdString(file.Get(section, std::string(key.begin(), key.end())));
            if (key == u"change_channel")
                text += QStringLiteral(" 32");  // shown with the number
            // A clip's name, as long as an IPv4 address makes it.
            text.replace(QStringLiteral("%s"),
                         QStringLiteral("192.168.100.100_ch32_20261209-141503-2.mp4"));
            const int width = metrics.horizontalAdvance(text);
            EXPECT_GT(width, 0) << "no font engine: " << text.toStdString();
            EXPECT_LE(width, kWindowWidth - kMargin) << section << " " << text.toStdString();
            widest = std::max(widest, width);
        }
    }
    RecordProperty("widest_status_text_px", widest);
}

}  // namespace
}  // namespace kavrel
