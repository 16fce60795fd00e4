// The learning page: its embedded data, looked up as the page's script looks
// it up, types what the simulator types on every key, in every held-key
// combination and Caps Lock state, after every dead key; and the page stands
// alone and stays small.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "kbd/typing/find.h"
#include "support/fixture.h"
#include "kbd/views/page.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

using kbdtest::layout;
using json = nlohmann::json;

namespace {

const kbd::Finder& finder() {
    static const kbd::Finder f(layout());
    return f;
}

kbd::ScanCode scanOf(const json& key) {
    const std::string id = key["id"];
    if (id.starts_with("e0-")) return {kbd::Prefix::E0, uint8_t(std::stoul(id.substr(3), nullptr, 16))};
    return {kbd::Prefix::None, uint8_t(std::stoul(id, nullptr, 16))};
}

}  // namespace

TEST(Page, DataTypesWhatTheSimulatorTypes) {
    const json d = kbd::pageData(finder(), "t");
    const uint8_t comboKeys[] = {kbd::vk::LSHIFT, kbd::vk::LCONTROL, kbd::vk::LMENU, kbd::vk::RMENU};
    std::vector<std::pair<int, kbd::Sequence>> pendings{{-1, {}}};
    for (const auto& [dead, seq] : finder().pendingStates()) pendings.push_back({dead, seq});
    ASSERT_GE(pendings.size(), 12u);
    size_t compared = 0;
    for (const auto& [dead, seq] : pendings)
        for (const auto& key : d["keys"]) {
            if (!key["role"].get<std::string>().empty()) continue;
            for (unsigned c = 0; c < 16; ++c)
                for (bool caps : {false, true}) {
                    kbd::Session s(layout());
                    for (const auto* st : seq.strokes) s.press(st->vk, st->held);
                    ASSERT_EQ(s.pendingDead() ? int(*s.pendingDead()) : -1, dead);
                    s.setCapsLock(caps);
                    kbd::KeyState held;
                    for (unsigned i = 0; i < 4; ++i)
                        if (c & (1u << i)) held.set(comboKeys[i]);
                    const auto r = s.press(scanOf(key), held);
                    // The script: the key's result in this state, then what it
                    // gives with this dead key pending.
                    const json& after = d["after"][std::to_string(dead)][key["r"][c * 2 + caps].get<size_t>()];
                    EXPECT_EQ(after[0].get<std::string>(), kbd::utf8(r.out))
                        << key["code"] << " combo " << c << " caps " << caps << " after " << dead;
                    EXPECT_EQ(after[1].get<int>(), s.pendingDead() ? int(*s.pendingDead()) : -1) << key["code"];
                    ++compared;
                }
        }
    EXPECT_GT(compared, 20000u);
}

TEST(Page, StandsAloneAndStaysSmall) {
    const std::string page = kbd::pageHtml(finder(), "kbd<Qelvo>");
    EXPECT_LT(page.size(), 300u * 1024);
    for (const char* outside : {"<script src", "<link", "@import", "http://", "https://", "url("})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_EQ(page.find("@DATA@"), std::string::npos);
    EXPECT_NE(page.find("<title>kbd&lt;Qelvo&gt;: learning the layout</title>"), std::string::npos);
    // Only the template's own script ends: no data can close it early.
    const size_t script = page.find("<script>");
    EXPECT_EQ(page.find("</script>", script), page.rfind("</script>"));
    EXPECT_EQ(page.find("<!--", script), std::string::npos);
}

TEST(Page, SearchDataIsFindsData) {
    const json d = kbd::pageData(finder(), "t");
    ASSERT_EQ(d["find"].size(), finder().all().size());
    for (const auto& [ch, ways] : finder().all()) {
        const json& f = d["find"][kbd::utf8(std::u16string(1, char16_t(ch)))];
        ASSERT_EQ(f["ways"].size(), ways.size()) << ch;
        EXPECT_EQ(f["ways"][0][0], ways.front().chords());
    }
}
