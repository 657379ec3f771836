// The wall's views in the settings store: exact round trips whatever the
// fields hold, bad stored text read as no view or an empty tile, the slots,
// the tour interval, and a private file rewritten once per save.

#include "settings/WallStore.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TextCodec.h"
#include "settings/HistoryStore.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel {

// Readable failures: the fields, not the bytes.
void PrintTo(const TileSource& tile, std::ostream* out) {
    *out << "{" << ToUtf8(tile.server.address) << "/" << ToUtf8(tile.server.port) << "/"
         << ToUtf8(tile.server.userName) << "/***/" << tile.server.channel << "/"
         << int(tile.variant) << "/" << tile.channel << "}";
}

namespace {

TileSource Tile(std::u16string address, std::u16string password, int channel,
                ProtocolVariant variant = ProtocolVariant::Current) {
    TileSource tile;
    tile.server = {std::move(address), u"9000", u"viewer", std::move(password), 3};
    tile.variant = variant;
    tile.channel = channel;
    return tile;
}

// Texts a user could type or paste into an address, user or password box,
// with every separator and escape the stored form uses.
const std::u16string kHostile[] = {
    u"",
    u"a b/c%d%u0041%41-",
    u"wall1 2x2 0  - -",
    u"pa;ss,wo=rd[x]#\"'\\\n\t",
    u"\u6444\u50cf\u673a \U0001F4F7",
    std::u16string(1, char16_t(0xD800)) + u"lone",  // unpaired surrogate
    std::u16string(u"nul\0inside", 10),
};

class WallStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        m_path = m_folder.File("orvane/settings.ini");
        SetSettingsStoreFile(FromUtf8(m_path));
    }
    void TearDown() override { SetSettingsStoreFile({}); }

    test::TempFolder m_folder;
    std::string m_path;
};

TEST_F(WallStoreTest, ViewsWithHostileFieldsComeBackExactly) {
    int slot = 1;
    for (const std::u16string& text : kHostile) {
        TileSource everyField = Tile(text, text, 31, ProtocolVariant::Legacy);
        everyField.server.port = everyField.server.userName = text;
        everyField.server.channel = -1;
        TileSource onlyPort;  // no address, yet not the default: kept as it is
        onlyPort.server.port = u"80";
        const NamedView named{text,
                              {WallLayout::OnePlusFive, {everyField, {}, onlyPort}, slot % 2 == 0}};

        const std::u16string stored = FormatWallView(named.view, named.name);
        EXPECT_EQ(stored.find_first_not_of(u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                           u"0123456789-._~%+/ "),
                  std::u16string::npos)
            << "not plain ASCII: " << ToUtf8(stored);
        ASSERT_TRUE(SaveNamedView(slot, named));
        EXPECT_EQ(LoadNamedView(slot), named) << ToUtf8(stored);
        ASSERT_TRUE(SaveCurrentWallView(named.view));
        EXPECT_EQ(LoadCurrentWallView(), named.view);
        ++slot;
    }

    // Every layout full; tiles a layout cannot show are not stored.
    for (WallLayout layout : {WallLayout::Single, WallLayout::Grid2, WallLayout::Grid3,
                              WallLayout::Grid4, WallLayout::OnePlusFive}) {
        WallView view{layout, {}, true};
        for (int i = 0; i <= TileCount(layout); ++i)
            view.tiles.push_back(Tile(u"cam" + FromUtf8(std::to_string(i)), u"pw", i));
        const std::u16string stored = FormatWallView(view);
        view.tiles.pop_back();
        EXPECT_EQ(ParseWallView(stored), (NamedView{u"", view})) << ToUtf8(stored);
    }
}

TEST_F(WallStoreTest, UrlTilesAndViewsStoredBeforeThemReadBack) {
    const std::u16string before = u"wall1 2x2 1 Gate%20A a/80/u/p/-1/1/7 -";
    TileSource old;
    old.server = {u"a", u"80", u"u", u"p", -1};
    old.variant = ProtocolVariant::Legacy;
    old.channel = 7;
    const NamedView expected{u"Gate A", {WallLayout::Grid2, {old, {}}, true}};
    EXPECT_EQ(ParseWallView(before), expected);
    EXPECT_EQ(FormatWallView(expected.view, expected.name), before);

    TileSource url;
    url.server.address = u"rtsp://admin:p%40ss@[fe80::1]:554/live?ch=1&x=a/b#udp";
    const WallView urls{WallLayout::Grid3, {url, old, {}, url}, false};
    ASSERT_TRUE(SaveCurrentWallView(urls));
    EXPECT_EQ(LoadCurrentWallView(), urls);
}

TEST_F(WallStoreTest, BadStoredTextIsNoViewOrAnEmptyTile) {
    const std::u16string good = u"a/80/u/p/-1/1/7";
    TileSource goodTile;
    goodTile.server = {u"a", u"80", u"u", u"p", -1};
    goodTile.variant = ProtocolVariant::Legacy;
    goodTile.channel = 7;
    ASSERT_EQ(ParseWallView(u"wall1 2x2 0  " + good)->view.tiles, std::vector{goodTile});

    // Whole views that are not ours: truncated, another form, unknown layout
    // or flag, a name that does not decode (or that the form would have
    // written otherwise), more tiles than the layout, other blanks.
    for (const std::u16string text :
         {u"", u"wall1", u"wall1 2x2 0", u"wall2 2x2 0 ", u"WALL1 2x2 0 ", u"wall1 5x5 0 ",
          u"wall1 2x2 yes ", u"wall1 2x2 0 %zz", u"wall1 2x2 0 %41", u"wall1 2x2 0 %u0041",
          u"wall1 2x2 0 a%4", u"wall1 1 0  - -", u"wall1 2x2 0  - - - - -", u" wall1 2x2 0 ",
          u"wall1\t2x2\t0\t"}) {
        EXPECT_FALSE(ParseWallView(text)) << ToUtf8(text);
    }

    // Tiles that are not ours (fields missing or extra, numbers out of range
    // or not plain, bad escapes, characters the form escapes): empty, and the
    // others stay.
    for (const std::u16string tile :
         {u"a/80/u/p/-1/1", u"a/80/u/p/-1/1/7/", u"a/80/u/p/-1/1/32", u"a/80/u/p/-1/1/-1",
          u"a/80/u/p/-1/2/7", u"a/80/u/p/32/1/7", u"a/80/u/p/-2/1/7", u"a/80/u/p/-1/1/+7",
          u"a/80/u/p/-1/1/7x", u"a/80/u/p/-1/1/99999999999", u"a/80/u/p/-1/1/",
          u"a:b/80/u/p/-1/1/7", u"a/80/u/%u00zz/-1/1/7", u"\u00e9/80/u/p/-1/1/7", u""}) {
        const std::optional<NamedView> parsed =
            ParseWallView(u"wall1 3x3 1 n " + good + u" " + tile + u" " + good);
        ASSERT_TRUE(parsed) << ToUtf8(tile);
        EXPECT_EQ(parsed->view.tiles, (std::vector{goodTile, TileSource{}, goodTile}))
            << ToUtf8(tile);
        EXPECT_TRUE(parsed->view.fullScreen);
        EXPECT_EQ(parsed->name, u"n");
    }

    // Through the store: a hand-edited value reads as none, never a crash.
    ASSERT_TRUE(WriteRegistryString(kCurrentWallViewName, u"wall1 9x9 0 "));
    EXPECT_FALSE(LoadCurrentWallView());
    ASSERT_TRUE(WriteRegistryString(NamedViewValueName(4), u"garbage, with a comma"));
    EXPECT_FALSE(LoadNamedView(4));
}

TEST_F(WallStoreTest, SlotsAreSavedOverwrittenAndListed) {
    EXPECT_FALSE(LoadCurrentWallView());  // nothing stored yet
    EXPECT_TRUE(FilledViewSlots().empty());

    const NamedView first{u"", WallView{WallLayout::Grid2, {Tile(u"a", u"", 1)}, false}};
    const NamedView second{u"Gate", WallView{WallLayout::Single, {Tile(u"b", u"", 2)}, true}};
    ASSERT_TRUE(SaveNamedView(1, first));
    ASSERT_TRUE(SaveNamedView(9, first));
    ASSERT_TRUE(SaveNamedView(9, second));  // overwrites
    ASSERT_TRUE(WriteRegistryString(NamedViewValueName(5), u"wall1 nope 0 "));
    EXPECT_EQ(FilledViewSlots(), (std::vector<int>{1, 9}));  // an unreadable slot is not filled
    EXPECT_EQ(LoadNamedView(9), second);
    const auto all = LoadNamedViews();
    EXPECT_EQ(all[0], first);
    EXPECT_FALSE(all[4]);
    EXPECT_EQ(all[8], second);

    for (int bad : {0, -1, kNamedViews + 1}) {
        EXPECT_FALSE(SaveNamedView(bad, first)) << bad;
        EXPECT_FALSE(LoadNamedView(bad)) << bad;
    }
    std::u16string stray;
    EXPECT_FALSE(ReadRegistryString(u"wall_view0", stray));
    EXPECT_FALSE(ReadRegistryString(u"wall_view10", stray));
}

TEST_F(WallStoreTest, TourIntervalKeepsToItsRange) {
    EXPECT_EQ(LoadTourSeconds(), kDefaultTourSeconds);  // nothing stored
    for (const char16_t* bad :
         {u"2", u"3601", u"0", u"-5", u"", u"ten", u"15s", u" 15", u"1e3", u"99999999999999"}) {
        ASSERT_TRUE(WriteRegistryString(kTourSecondsName, bad));
        EXPECT_EQ(LoadTourSeconds(), kDefaultTourSeconds) << ToUtf8(bad);
    }
    for (auto [saved, loaded] :
         std::initializer_list<std::pair<int, int>>{{3, 3}, {3600, 3600}, {1, 3}, {100000, 3600}}) {
        ASSERT_TRUE(SaveTourSeconds(saved));
        EXPECT_EQ(LoadTourSeconds(), loaded) << saved;
    }
}

TEST_F(WallStoreTest, EachSaveRewritesThePrivateFileOnceAndKeepsTheRest) {
    ASSERT_TRUE(WriteRegistryString(u"history0", u"cam!.!80!.!!.!secret!.!1!.!"));
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);

    // Every sync writes a new file under a temporary name of its own and
    // renames it into place: count those files.
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(::inotify_add_watch(watcher, m_folder.File("orvane").c_str(), IN_CREATE), 0);
    WallView view{WallLayout::Grid4, {}, true};
    for (int i = 0; i < TileCount(view.layout); ++i)
        view.tiles.push_back(Tile(u"10.0.0." + FromUtf8(std::to_string(i)), u"pw", i));
    EXPECT_TRUE(SaveNamedView(3, {u"All sixteen", view}));
    EXPECT_TRUE(SaveCurrentWallView(view));
    EXPECT_TRUE(SaveTourSeconds(30));
    int rewrites = 0;
    alignas(inotify_event) char events[64 * 1024];
    for (ssize_t got; (got = ::read(watcher, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string name = event->len > 0 ? event->name : "";
            if (name.rfind("settings.ini.", 0) == 0 && name != "settings.ini.lock")
                ++rewrites;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watcher);
    EXPECT_EQ(rewrites, 3);  // one per save
    EXPECT_EQ(test::FileMode(m_path), 0600u);

    std::u16string history;
    ASSERT_TRUE(ReadRegistryString(u"history0", history));
    EXPECT_EQ(history, u"cam!.!80!.!!.!secret!.!1!.!");
    EXPECT_EQ(LoadNamedView(3), (NamedView{u"All sixteen", view}));
}

}  // namespace
}  // namespace kavrel
