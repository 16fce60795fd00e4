// The JSON view: every cell we ship survives a trip through the text the
// command prints, and the document names what a reader needs.
#include <array>
#include <cstdio>

#include <gtest/gtest.h>

#include "support/fixture.h"
#include "kbd/model/layout_json.h"
#include "kbd/model/char_labels.h"

using namespace kbd;
using nlohmann::json;

namespace {

std::string run(const std::string& args) {
    std::string out;
    FILE* p = popen((std::string(KBDTOOL_PATH) + " " + args).c_str(), "r");
    std::array<char, 4096> buf;
    size_t n;
    while (p && (n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    if (p) pclose(p);
    return out;
}

}  // namespace

TEST(Json, DumpRoundTripsTheWholeModel) {
    const json doc = json::parse(run(std::string("dump --json '") + kbdtest::imagePath() + "'"));
    EXPECT_EQ(layoutFromJson(doc), kbdtest::layout());
    EXPECT_EQ(doc["root"]["localeFlagNames"], json::array({"KLLF_ALTGR"}));
    EXPECT_EQ(doc["charTables"][1]["rows"][18]["attributeNames"], json::array({"CAPLOCK", "CAPLOKALTGR"}));
    EXPECT_EQ(doc["scanCodes"][0x36]["flags"], json::array({"KBDEXT"}));
    EXPECT_EQ(doc["deadKeyNames"][6]["name"], "LATIN SMALL LETTER H");
}

TEST(Json, TypeGivesEventsAndText) {
    const json doc = json::parse(run(std::string("type --json '") + kbdtest::imagePath() + "' Shift+4 a CapsLock AltGr+q Period"));
    ASSERT_EQ(doc["events"].size(), 5u);
    EXPECT_EQ(doc["events"][0]["key"]["kind"], "dead");
    EXPECT_EQ(doc["events"][1]["output"], json::array({0x0101}));
    EXPECT_TRUE(doc["events"][1]["composed"]);
    EXPECT_TRUE(doc["events"][2]["capsLock"]);
    EXPECT_EQ(doc["text"], "\u0101\u00C4");
    EXPECT_EQ(doc["pendingDead"], 0x2E);
}

TEST(Json, DocumentsOfAnotherShapeAreRefusedAsErrors) {
    // Every wrong shape is a kbd::Error naming the field, never another exception.
    const json good = toJson(kbdtest::decoded());
    const auto refuses = [](const json& doc, const std::string& want) {
        try {
            layoutFromJson(doc);
            ADD_FAILURE() << "accepted; expected " << want;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(want), std::string::npos) << e.what();
        }
    };
    refuses(json::object(), "missing field 'format'");
    refuses(json::array(), "missing field 'format'");
    refuses(json{{"format", "other"}}, "not a kbdtool layout document");
    refuses(json{{"format", "kbdtool-layout"}}, "missing field 'root'");
    json doc = good;
    doc["modifiers"]["maxModBits"] = "seven";
    refuses(doc, "field 'maxModBits'");
    doc = good;
    doc["charTables"] = 5;
    refuses(doc, "field 'charTables' is not a list");
    doc = good;
    doc["charTables"][0]["rows"][0] = json::array();
    refuses(doc, "missing field 'vk'");
    doc = good;
    doc["charTables"][1]["rows"][2]["cells"].erase(0);
    refuses(doc, "charTables[1] row 2 (vk 0x");
    doc = good;
    doc["charTables"][1]["rows"][2]["cells"].push_back(0xF001);  // a dead cell past the next row's end
    refuses(doc, "charTables[1] row 2 (vk 0x");
    doc = good;
    doc.erase("deadKeyNames");
    refuses(doc, "missing field 'deadKeyNames'");
}

TEST(Json, NamesThatUtf8CannotCarryStillRoundTrip) {
    Decoded d = kbdtest::decoded();
    d.layout.keyNames[0].name = std::u16string{0xD800, u'x'};       // an unpaired surrogate
    d.layout.deadKeyNames[0] = std::u16string{0xDFFF, u'y'};
    EXPECT_EQ(layoutFromJson(json::parse(toJson(d).dump())), d.layout);
}

TEST(Text, Utf8KeepsPairsAndRepairsLoneSurrogates) {
    EXPECT_EQ(utf8(u"a\u0101\u1E47\uF173\U0001D11E"), "a\u0101\u1E47\uF173\U0001D11E");
    EXPECT_EQ(utf8(std::u16string(1, char16_t(0xD800))), "\uFFFD");             // high, at the end
    EXPECT_EQ(utf8(std::u16string{char16_t(0xDC00), u'a'}), "\uFFFDa");         // low, alone
    EXPECT_EQ(utf8(std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)}),
              "\uFFFD\U00010000");                                          // high, then a pair
    EXPECT_EQ(utf8(u"\uFEFF\uFFFEx"), "\uFEFF\uFFFEx");                          // no byte-order marks
    EXPECT_EQ(charLabel(0xF173), "U+F173");       // Private Use: no glyph
    EXPECT_EQ(charLabel(0x0008), "U+0008 BS");
    EXPECT_EQ(charLabel(0x0101), "U+0101 \u0101");
}
