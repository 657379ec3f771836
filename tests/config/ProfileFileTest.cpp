// Parsing, lookup, update and serialisation of the profile file image, without
// touching the disk.

#include "config/ProfileFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrel {
namespace {

using Entries = std::vector<ProfileEntry>;

Entries ParseText(std::string_view text) {
    ProfileFile file("unused");
    file.Parse(text);
    return file.Entries();
}

struct ParseCase {
    const char* name;
    std::string text;
    Entries expected;
};

TEST(ProfileFileParseTest, ClassifiesLines) {
    const ParseCase cases[] = {
        {"key line", "[lan0]\nset_ok=OK\n", {{"lan0", "set_ok", "OK"}}},
        {"two leading blanks stay part of the key",
         "[lan1]\n  title=Hello\n",
         {{"lan1", "  title", "Hello"}}},
        {"blanks around = go, trailing blank of the value stays",
         "[s]\nname = Main gate \n",
         {{"s", "name", "Main gate "}}},
        {"only blanks end a key, a tab stays", "[s]\nk\t =v\n", {{"s", "k\t", "v"}}},
        {"all leading white space of a value goes", "[s]\nk=\t\v\f v\n", {{"s", "k", "v"}}},
        {"further = belong to the value", "[s]\na=b=c\n", {{"s", "a", "b=c"}}},
        {"a line starting with = has the empty key", "[s]\n=x\n", {{"s", "", "x"}}},
        {"a key of blanks only becomes empty", "[s]\n   =x\n", {{"s", "", "x"}}},
        {"no comment syntax", "[s]\n;c=1\n#d\n", {{"s", ";c", "1"}, {"s", "##", "#d"}}},
        {"plain lines lose leading white space, blank lines are empty plain lines",
         "[s]\n  some text \n\n",
         {{"s", "##", "some text "}, {"s", "##", ""}}},
        {"header keeps a trailing blank after ]", "[lan0] \nk=v\n", {{"lan0] ", "k", "v"}}},
        {"only one final ] is dropped", "[a]]\nk=v\n", {{"a]", "k", "v"}}},
        {"header without ]", "[lan0\nk=v\n", {{"lan0", "k", "v"}}},
        {"a blank before [ makes no header",
         "[s]\n [t]\nk=v\n",
         {{"s", "##", "[t]"}, {"s", "k", "v"}}},
        {"sections and keys are case-sensitive, duplicates kept",
         "[S]\nk=1\n[s]\nK=2\nK=3\n",
         {{"S", "k", "1"}, {"s", "K", "2"}, {"s", "K", "3"}}},
        {"plain lines before the first header go to ###",
         "hello\n[s]\nk=v\n",
         {{"###", "##", "hello"}, {"s", "k", "v"}}},
        {"key lines before the first header are kept as plain lines",
         "a=1\nplain\n",
         {{"###", "##", "a=1"}, {"###", "##", "plain"}}},
        {"key lines under [] are kept as plain lines",
         "[s]\nk=v\n[]\nx = 1\n",
         {{"s", "k", "v"}, {"###", "##", "x = 1"}}},
        {"a byte-order mark belongs to the first line",
         "\xEF\xBB\xBF[lan0]\nk=v\n[lan1]\nk=w\n",
         {{"###", "##", "\xEF\xBB\xBF[lan0]"}, {"###", "##", "k=v"}, {"lan1", "k", "w"}}},
        {"CR LF and LF alike, last line without a line end",
         "[s]\r\na=1\r\nb=2\nc=3",
         {{"s", "a", "1"}, {"s", "b", "2"}, {"s", "c", "3"}}},
        {"at most two line-end characters go", "[s]\nk=v\r\r\n", {{"s", "k", "v\r"}}},
        {"empty file", "", {}},
    };
    for (const ParseCase& c : cases) {
        EXPECT_EQ(ParseText(c.text), c.expected) << c.name;
    }
}

TEST(ProfileFileParseTest, LongLinesAreReadWhole) {
    const std::string value(598, 'v');
    const std::string text = "[s]\nk=" + value + "\nnext=1\n";  // a 600-byte key line
    EXPECT_EQ(ParseText(text), (Entries{{"s", "k", value}, {"s", "next", "1"}}));

    ProfileFile file("unused");
    file.Parse(text);
    EXPECT_EQ(file.Serialize(), text);
}

TEST(ProfileFileGetTest, FirstOfDuplicatesWinsAndAbsentIsEmpty) {
    ProfileFile file("unused");
    file.Parse("[s]\nk=1\nk=2\n[t]\nk=3\n");
    EXPECT_EQ(file.Get("s", "k"), "1");
    EXPECT_EQ(file.Get("t", "k"), "3");
    EXPECT_EQ(file.Get("S", "k"), "");
    EXPECT_EQ(file.Get("s", "missing"), "");
    EXPECT_EQ(file.Get("missing", "k"), "");
}

struct SetCase {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
};

TEST(ProfileFileSetTest, PlacesValuesAsTheRulesSay) {
    const SetCase cases[] = {
        {"replaces in place", "[s]\na=1\nb=2\n", "s", "a", "9", "[s]\na=9\nb=2\n"},
        {"of duplicates the last one changes", "[s]\nk=1\nk=2\n", "s", "k", "9", "[s]\nk=1\nk=9\n"},
        {"a new key goes after the section's last line, before the next header",
         "[s]\na=1\n\n[t]\nb=2\n", "s", "c", "3", "[s]\na=1\n\nc=3\n[t]\nb=2\n"},
        {"a new key goes to the last run of a split section",
         "[s]\na=1\n[t]\nb=2\n[s]\nc=3\n[u]\nd=4\n", "s", "e", "5",
         "[s]\na=1\n[t]\nb=2\n[s]\nc=3\ne=5\n[u]\nd=4\n"},
        {"a new section is appended at the end", "[s]\na=1\n", "server", "k", "v",
         "[s]\na=1\n[server]\nk=v\n"},
        {"an empty image gets one header and one key line", "", "server", "k", "v",
         "[server]\nk=v\n"},
        {"names are case-sensitive", "[s]\nk=1\n", "S", "K", "2", "[s]\nk=1\n[S]\nK=2\n"},
        {"a plain line and a headerless key line survive a rewrite", "a=1\nplain\n", "s", "k", "v",
         "a=1\nplain\n[s]\nk=v\n"},
        {"a ## key is written back as its bare value", "[s]\n##=foo\n", "s", "k", "v",
         "[s]\nfoo\nk=v\n"},
        {"rewrites lose blanks around = and leading white space of plain lines",
         "[s]\nname = Main gate \n   note\n", "s", "x", "1", "[s]\nname=Main gate \nnote\nx=1\n"},
        {"an empty header is lost", "[empty]\n[s]\nk=1\n", "s", "k", "2", "[s]\nk=2\n"},
        {"the empty value is written", "[s]\nk=1\n", "s", "k", "", "[s]\nk=\n"},
    };
    for (const SetCase& c : cases) {
        ProfileFile file("unused");
        file.Parse(c.before);
        file.SetEntry(c.section, c.key, c.value);
        EXPECT_EQ(file.Serialize(), c.after) << c.name;
    }
}

TEST(ProfileFileSetTest, SerialisedImageReadsBackToTheSameEntries) {
    const std::string texts[] = {
        "[lan0]\nset_ok=OK\n\nnote\n[server]\nserver_port=80x\n",
        "lead\n[a]\nk=1\n[b]\n=empty key\n[a]\nk=2\n",
        "x=1\n[s]\nk=v\n",
    };
    for (const std::string& text : texts) {
        ProfileFile file("unused");
        file.Parse(text);
        const Entries first = file.Entries();
        file.Parse(file.Serialize());
        EXPECT_EQ(file.Entries(), first) << text;
    }
}

TEST(ProfileFileSetTest, LineBreaksAndKeysWithEqualsAreRefused) {
    // The path lies in a folder that does not exist, so a save would fail too;
    // the point is that the image is not changed by a refused write.
    ProfileFile file("/nonexistent-folder/config.txt");
    file.Parse("[server]\nserver_password=old\n");
    EXPECT_FALSE(file.Set("server", "server_password", "new\n[lan0]\nset_ok=pwned"));
    EXPECT_FALSE(file.Set("server", "server_password", "a\rb"));
    EXPECT_FALSE(file.Set("server", "a=b", "v"));
    EXPECT_FALSE(file.Set("ser\nver", "k", "v"));
    EXPECT_EQ(file.Entries(), (Entries{{"server", "server_password", "old"}}));
}

}  // namespace
}  // namespace kavrel
