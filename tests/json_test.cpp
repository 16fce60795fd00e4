// The JSON view: every cell we ship survives a trip through the text the
// command prints, and the document names what a reader needs.
#include <array>
#include <cstdio>

#include <gtest/gtest.h>

#include "fixture.h"
#include "json.h"

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

TEST(Json, DocumentsOfAnotherShapeAreRefused) {
    EXPECT_THROW(layoutFromJson(json::object()), Error);
    EXPECT_THROW(layoutFromJson(json{{"format", "other"}}), Error);
    json doc = toJson(kbdtest::decoded());
    doc["modifiers"]["maxModBits"] = "seven";
    EXPECT_THROW(layoutFromJson(doc), Error);
}

TEST(Json, NamesThatUtf8CannotCarryStillRoundTrip) {
    Decoded d = kbdtest::decoded();
    d.layout.keyNames[0].name = std::u16string{0xD800, u'x'};       // an unpaired surrogate
    d.layout.deadKeyNames[0] = std::u16string{0xDFFF, u'y'};
    EXPECT_EQ(layoutFromJson(json::parse(toJson(d).dump())), d.layout);
}
