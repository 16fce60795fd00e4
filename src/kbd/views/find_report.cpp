#include "kbd/views/find_report.h"

#include <algorithm>

#include <fmt/format.h>

#include "kbd/views/unicode_names.h"
#include "kbd/image/error.h"
#include "kbd/views/drawn_keyboard.h"
#include "kbd/model/char_labels.h"

namespace kbd {
namespace {

// "U+1E5B ṛ", or the code point alone for a character with no glyph.
std::string label(const std::u16string& ch) {
    const char32_t cp = codePoint(ch);
    const std::string g = glyph(cp);
    return g.empty() ? fmt::format("U+{:04X}", uint32_t(cp)) : fmt::format("U+{:04X} {}", uint32_t(cp), g);
}

const char* const kCapsNote = "with Caps Lock off";

std::string waysText(const std::vector<Sequence>& ways, size_t indent) {
    size_t width = 0;
    for (const auto& w : ways) width = std::max(width, w.chords().size());
    std::string o;
    for (const auto& w : ways)
        o += fmt::format("{:{}}{:<{}}  keys {}{}\n", "", indent, w.chords(), width, w.places(),
                         w.capsDependent ? fmt::format(" ({})", kCapsNote) : "");
    return o;
}

nlohmann::json strokeJson(const Stroke& s) {
    return {{"chord", s.chord},
            {"vk", s.vk},
            {"mask", s.mask},
            {"held", s.mods},
            {"place", s.place},
            {"scanCode", s.scan.code},
            {"prefix", s.scan.prefix == Prefix::E0 ? "e0" : s.scan.prefix == Prefix::E1 ? "e1" : ""},
            {"code", domCode(s.scan)}};
}

nlohmann::json sequenceJson(const Sequence& seq) {
    nlohmann::json strokes = nlohmann::json::array();
    for (const Stroke* s : seq.strokes) strokes.push_back(strokeJson(*s));
    return {{"keys", seq.chords()}, {"capsLockOff", seq.capsDependent}, {"strokes", strokes}};
}

// The distinct characters of text, in order of first appearance.
std::vector<std::u16string> distinct(const std::u16string& text) {
    std::vector<std::u16string> out;
    for (auto& c : characters(text))
        if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(std::move(c));
    return out;
}

// A character in a Markdown table cell.
std::string markdownCell(const std::string& s) {
    std::string o;
    for (char c : s) {
        if (std::string_view("\\`*_[]<>|~").find(c) != std::string_view::npos) o += '\\';
        o += c;
    }
    return o;
}

}  // namespace

nlohmann::json characterJson(const std::u16string& ch, const std::vector<Sequence>& ways) {
    nlohmann::json seqs = nlohmann::json::array();
    for (const auto& w : ways) seqs.push_back(sequenceJson(w));
    const char32_t cp = codePoint(ch);
    return {{"char", utf8(ch)}, {"codePoint", cp}, {"name", charName(cp)}, {"found", !ways.empty()},
            {"sequences", seqs}};
}

std::string charactersText(const Finder& finder, const std::u16string& text, bool& allFound) {
    allFound = true;
    std::string o;
    for (const auto& ch : distinct(text)) {
        const auto ways = finder.find(ch);
        o += fmt::format("{}  {}\n", label(ch), charName(codePoint(ch)));
        if (ways.empty()) {
            allFound = false;
            o += "  not on this layout\n";
        } else {
            o += waysText(ways, 2);
        }
    }
    return o;
}

nlohmann::json charactersJson(const Finder& finder, const std::u16string& text, bool& allFound) {
    allFound = true;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& ch : distinct(text)) {
        const auto ways = finder.find(ch);
        allFound &= !ways.empty();
        list.push_back(characterJson(ch, ways));
    }
    return {{"characters", list}};
}

Sequence keysFor(const Finder& finder, const std::u16string& text) {
    auto ways = finder.find(text, 1);
    if (!ways.empty()) return std::move(ways.front());
    for (const auto& ch : characters(text))
        if (finder.find(ch, 1).empty())
            throw Error(fmt::format("{} ({}) is not on this layout", label(ch), charName(codePoint(ch))));
    throw Error("this layout cannot type the text as a whole");
}

nlohmann::json keysJson(const std::u16string& text, const Sequence& seq) {
    nlohmann::json j = sequenceJson(seq);
    j["text"] = utf8(text);
    return j;
}

std::string allText(const Finder& finder) {
    std::string o;
    for (const auto& [ch, ways] : finder.all()) {
        const std::u16string s(1, char16_t(ch));
        o += fmt::format("{:<10}  {}\n", label(s), charName(ch));
        o += waysText(ways, 12);
    }
    return o;
}

std::string allMarkdown(const Finder& finder) {
    std::string o = fmt::format(
        "# Characters\n\n"
        "The {} characters the layout types on its own, by code point, each with its shortest key "
        "sequences as `kbdtool type` takes them (⇪: only with Caps Lock off) and where the keys are, "
        "by ISO position (E04 is the 4 key, D01 the Q key, A03 the space bar). Written by "
        "`kbdtool find --all --markdown`.\n\n"
        "| Code point | Character | Keys | Where the keys are | Name |\n"
        "|---|---|---|---|---|\n",
        finder.all().size());
    for (const auto& [ch, ways] : finder.all()) {
        std::string keys, places;
        for (const auto& w : ways) {
            keys += fmt::format("{}`{}`{}", keys.empty() ? "" : "<br>", w.chords(), w.capsDependent ? " ⇪" : "");
            places += (places.empty() ? "" : "<br>") + w.places();
        }
        o += fmt::format("| U+{:04X} | {} | {} | {} | {} |\n", ch, markdownCell(glyph(ch)), keys, places,
                         markdownCell(charName(ch)));
    }
    return o;
}

nlohmann::json allJson(const Finder& finder) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [ch, ways] : finder.all()) list.push_back(characterJson(std::u16string(1, char16_t(ch)), ways));
    return {{"characters", list}};
}

}  // namespace kbd
