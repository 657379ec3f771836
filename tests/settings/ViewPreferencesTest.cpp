// The window's place and the aspect choice in the settings store: what a new
// user starts with, and that a stored choice wins over it.

#include "settings/ViewPreferences.h"

#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "settings/HistoryStore.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel {
namespace {

class ViewPreferencesTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        SetSettingsStoreFile(FromUtf8(m_folder.File("orvane/settings.ini")));
    }
    void TearDown() override { SetSettingsStoreFile({}); }

    test::TempFolder m_folder;
};

TEST_F(ViewPreferencesTest, NewUserKeepsAspectAndAStoredChoiceWins) {
    // No settings.ini at all, as on a first start.
    EXPECT_EQ(LoadViewPreferences(), (ViewPreferences{QRect(), false, true}));

    struct Case {
        const char16_t* stored;
        bool keepAspect;
    } cases[] = {
        {u"0", false},  // a user who chose stretch keeps it
        {u"1", true},
        {u"yes", true},  // hand-edited: no choice, the default
        {u"", true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteRegistryString(u"keep_aspect", c.stored));
        EXPECT_EQ(LoadViewPreferences().keepAspect, c.keepAspect) << ToUtf8(c.stored);
    }

    // Another key present (an older settings.ini with a window place) does
    // not make the missing aspect key mean stretch.
    SetSettingsStoreFile(FromUtf8(m_folder.File("older/settings.ini")));
    ASSERT_TRUE(WriteRegistryString(u"window_geometry", u"10 20 800 600"));
    EXPECT_EQ(LoadViewPreferences(), (ViewPreferences{QRect(10, 20, 800, 600), false, true}));

    // Both choices come back as saved.
    for (bool keep : {false, true}) {
        const ViewPreferences saved{QRect(1, 2, 640, 480), true, keep};
        ASSERT_TRUE(SaveViewPreferences(saved));
        EXPECT_EQ(LoadViewPreferences(), saved);
    }
}

}  // namespace
}  // namespace kavrel
