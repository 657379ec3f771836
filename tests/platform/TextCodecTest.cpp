#include <gtest/gtest.h>

#include "platform/TextCodec.h"

namespace kavrel {
namespace {

TEST(TextCodecTest, RoundTripsEveryPlane) {
    const std::u16string text = u"abc \u00e9\u4e2d\u6587 \U0001F600";
    const std::string utf8 = ToUtf8(text);
    EXPECT_EQ(utf8, "abc \xC3\xA9\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80");
    EXPECT_EQ(FromUtf8(utf8), text);
}

TEST(TextCodecTest, IllFormedInputBecomesReplacementCharacter) {
    EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("a\xE4\xB8"), u"a\uFFFD");         // truncated sequence
    EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD");           // overlong
    EXPECT_EQ(FromUtf8("\xED\xA0\x80" "x"), u"\uFFFDx");  // encoded surrogate
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDC00), u'a'}), "\xEF\xBF\xBD" "a");
}

}  // namespace
}  // namespace kavrel
