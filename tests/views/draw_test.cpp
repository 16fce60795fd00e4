// The SVG drawings: the committed pictures in docs/ are current, every key
// shows what it types, the marks are where they belong, and the documents
// stay well-formed whatever text the layout carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

#include <fmt/format.h>

#include "kbd/views/draw.h"
#include "support/fixture.h"
#include "kbd/image/mapped_image.h"
#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"

using kbd::Drawing;
using kbd::KeyChar;
using kbdtest::layout;
namespace def = kbd::def;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t SHIFT = def::KBDSHIFT;

const std::string& drawing(const std::vector<Drawing>& all, const std::string& name) {
    for (const auto& d : all)
        if (d.fileName == name) return d.svg;
    throw std::logic_error("no drawing " + name);
}

const std::vector<Drawing>& drawings() {
    static const std::vector<Drawing> d = kbd::drawLayout(layout());
    return d;
}

// The <g> of the key with a plain scan code.
std::string keyGroup(const std::string& svg, uint8_t sc) {
    const size_t at = svg.find(fmt::format("id=\"sc-{:02x}\"", sc));
    if (at == std::string::npos) return {};
    const size_t open = svg.rfind("<g", at);
    return svg.substr(open, svg.find("</g>", at) - open);
}

KeyChar keyChar(uint8_t sc, uint8_t mask) {
    const auto entry = kbd::scanEntry(layout(), {kbd::Prefix::None, sc});
    return entry ? kbd::charFor(layout(), kbd::virtualKey(*entry, true, mask & SHIFT), mask, false) : KeyChar{};
}

// A character as a key's text shows it: by code point when Private Use.
std::string text(uint16_t ch) {
    if (ch >= 0xE000 && ch <= 0xF8FF) return fmt::format(">{:04X}<", ch);
    std::string s;
    for (char c : kbd::utf8(std::u16string(1, char16_t(ch))))
        s += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return ">" + s + "<";
}

// The character keys of the main block, by plain scan code.
std::vector<uint8_t> characterKeys() {
    std::vector<uint8_t> v;
    for (uint8_t sc = 0x02; sc <= 0x0D; ++sc) v.push_back(sc);
    for (uint8_t sc = 0x10; sc <= 0x1B; ++sc) v.push_back(sc);
    for (uint8_t sc = 0x1E; sc <= 0x29; ++sc) v.push_back(sc);
    for (uint8_t sc = 0x2B; sc <= 0x35; ++sc) v.push_back(sc);
    v.push_back(0x56);
    return v;
}

// Tags balance, attribute quotes pair up, and every '&' starts an entity.
::testing::AssertionResult wellFormed(const std::string& svg) {
    std::vector<std::string> open;
    for (size_t i = 0; i < svg.size(); ++i) {
        if (svg[i] == '&') {
            const size_t semi = svg.find(';', i);
            const std::string ent = svg.substr(i, semi == std::string::npos ? 1 : semi - i + 1);
            if (ent != "&amp;" && ent != "&lt;" && ent != "&gt;" && ent != "&quot;")
                return ::testing::AssertionFailure() << "bare & at " << i;
        }
        if (svg[i] == '>') return ::testing::AssertionFailure() << "bare > at " << i;
        if (svg[i] != '<') continue;
        const size_t end = svg.find('>', i);
        if (end == std::string::npos) return ::testing::AssertionFailure() << "unclosed tag at " << i;
        const std::string tag = svg.substr(i + 1, end - i - 1);
        i = end;
        if (std::count(tag.begin(), tag.end(), '"') % 2) return ::testing::AssertionFailure() << "quotes in <" << tag;
        if (tag[0] == '?' || tag.back() == '/') continue;
        const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" \n") - (tag[0] == '/'));
        if (tag[0] != '/') {
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            return ::testing::AssertionFailure() << "</" << name << "> closes " << (open.empty() ? "nothing" : open.back());
        } else {
            open.pop_back();
        }
    }
    if (!open.empty()) return ::testing::AssertionFailure() << "<" << open.back() << "> never closed";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(Pictures, DocsMatchTheBuiltImage) {
    const fs::path docs = fs::path(__FILE__).parent_path() / ".." / ".." / "docs";
    for (const char* name : {"base-shift.svg", "altgr.svg"})
        EXPECT_TRUE(fs::exists(docs / name)) << name << " is missing: cmake --build build/host --target pictures";
    for (const auto& d : drawings()) {
        std::ifstream f(docs / d.fileName, std::ios::binary);
        if (!f) continue;  // only the pictures kept in docs/ are compared
        const std::string committed{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        EXPECT_TRUE(committed == d.svg) << "docs/" << d.fileName
                                        << " is out of date: cmake --build build/host --target pictures";
    }
}

TEST(KeyboardDrawing, EveryKeyShowsItsCharactersOnItsOwnKey) {
    const std::string& svg = drawing(drawings(), "base-shift.svg");
    for (uint8_t sc : characterKeys()) {
        const std::string g = keyGroup(svg, sc);
        ASSERT_FALSE(g.empty()) << fmt::format("no key for scan code {:02X}", sc);
        for (uint8_t mask : {uint8_t(0), SHIFT}) {
            const KeyChar c = keyChar(sc, mask);
            if (c.kind == KeyChar::Kind::None) continue;
            const std::string want = text(c.ch);
            EXPECT_NE(g.find(want), std::string::npos) << fmt::format("{:02X} mask {} lacks {}", sc, mask, want);
        }
    }
    // Keys that give only controls carry their name and the control's.
    EXPECT_NE(keyGroup(svg, 0x0E).find(">Backspace<"), std::string::npos);
    EXPECT_NE(keyGroup(svg, 0x0E).find(">BS<"), std::string::npos);
    EXPECT_NE(keyGroup(drawing(drawings(), "ctrl.svg"), 0x1C).find(">LF<"), std::string::npos);
}

TEST(KeyboardDrawing, DeadAndCapsLockKeysAreMarked) {
    const std::string& bs = drawing(drawings(), "base-shift.svg");
    const std::string& ag = drawing(drawings(), "altgr.svg");
    for (uint8_t sc : characterKeys()) {
        const KeyChar lo = keyChar(sc, 0), up = keyChar(sc, SHIFT);
        const bool dead = lo.kind == KeyChar::Kind::Dead || up.kind == KeyChar::Kind::Dead;
        const std::string g = keyGroup(bs, sc);
        EXPECT_EQ(g.find(" dead") != std::string::npos, dead) << fmt::format("key {:02X}", sc);
        if (dead) {
            EXPECT_NE(g.find("dk\">"), std::string::npos) << fmt::format("key {:02X}", sc);
        }
    }
    // Q is CAPLOCK|CAPLOKALTGR, R only CAPLOCK, the semicolon key neither.
    const std::string mark = "\u21EA";
    EXPECT_NE(keyGroup(bs, 0x10).find(mark), std::string::npos);
    EXPECT_NE(keyGroup(bs, 0x13).find(mark), std::string::npos);
    EXPECT_EQ(keyGroup(bs, 0x27).find(mark), std::string::npos);
    EXPECT_NE(keyGroup(ag, 0x10).find(mark), std::string::npos);
    EXPECT_EQ(keyGroup(ag, 0x13).find(mark), std::string::npos);
}

TEST(Drawings, AreWellFormedWithNoPrivateUseGlyphs) {
    for (const auto& d : drawings()) {
        EXPECT_TRUE(wellFormed(d.svg)) << d.fileName;
        EXPECT_NE(d.svg.find("viewBox=\"0 0 "), std::string::npos) << d.fileName;
        // U+E000..U+F8FF is EE 80 80 .. EF A3 BF in UTF-8.
        for (size_t i = 0; i + 1 < d.svg.size(); ++i) {
            const uint8_t a = d.svg[i], b = d.svg[i + 1];
            ASSERT_FALSE(a == 0xEE || (a == 0xEF && b <= 0xA3)) << d.fileName << " has a Private Use glyph at " << i;
        }
    }
    // Text from the layout is escaped.
    kbd::Layout L = layout();
    L.deadKeyNames[0] = std::u16string(1, L.deadKeyNames[0][0]) + u"A & <B> \"C\"";
    for (const auto& d : kbd::drawLayout(L)) EXPECT_TRUE(wellFormed(d.svg)) << d.fileName;
}

TEST(Drawings, EachDeadKeyHasASheetListingItsGroup) {
    std::vector<uint16_t> seen;
    for (const auto& dk : layout().deadKeys) {
        if (std::find(seen.begin(), seen.end(), dk.dead) != seen.end()) continue;
        seen.push_back(dk.dead);
        const auto n = std::count_if(layout().deadKeys.begin(), layout().deadKeys.end(),
                                     [&](const kbd::DeadKey& k) { return k.dead == dk.dead; });
        const std::string& svg = drawing(drawings(), fmt::format("dead-{:04X}.svg", dk.dead));
        size_t shownCount = 0;
        for (size_t at = svg.find("<g class=\"comp"); at != std::string::npos; at = svg.find("<g class=\"comp", at + 1))
            ++shownCount;
        EXPECT_EQ(shownCount, size_t(n)) << fmt::format("dead key {:04X}", dk.dead);
        EXPECT_NE(svg.find(kbd::utf8(*kbd::deadKeyName(layout(), dk.dead))), std::string::npos);
    }
    const std::string& macron = drawing(drawings(), "dead-00AF.svg");
    EXPECT_NE(macron.find("Shift on key E04"), std::string::npos);
    EXPECT_NE(macron.find(">U+0101<"), std::string::npos);
}

TEST(Drawings, CtrlDrawingOnlyWhenCtrlGivesCharacters) {
    kbd::Layout L = layout();
    const unsigned col = *kbd::columnFor(L, def::KBDCTRL);
    for (auto& t : L.charTables)
        for (auto& r : t.rows)
            if (col < r.cells.size()) r.cells[col] = def::WCH_NONE;
    for (const auto& d : kbd::drawLayout(L)) EXPECT_NE(d.fileName, "ctrl.svg");
    EXPECT_NO_THROW(drawing(drawings(), "ctrl.svg"));
}

TEST(Drawings, WritingIntoAFileFails) {
    const fs::path file = fs::temp_directory_path() / fmt::format("kbd_draw_{}", ::getpid());
    std::ofstream(file) << "x";
    EXPECT_THROW(kbd::writeDrawings(layout(), file.string()), kbd::Error);
    fs::remove(file);
}
