// The text of each exported file, and writing them. The layout id and the
// file names are fixed by what libxkbcommon looks for under
// $XDG_CONFIG_HOME/xkb: symbols/ID, types/ID, rules/evdev (+ evdev.xml).
#include <fstream>

#include <fmt/format.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "kbd/image/error.h"
#include "kbd/model/char_labels.h"
#include "kbd/xkb/export.h"

namespace kbd::xkb {
namespace {

// The layout id xkeyboard-config keeps for a user's own layout; desktop
// settings that list only layouts the system knows accept it.
constexpr const char* kCustomId = "custom";

// The most layouts one keymap holds in the settings of common desktops.
constexpr unsigned kMaxLayouts = 4;

std::string levelName(const KeyType& t, unsigned level) {
    static const char* const base[] = {"Base", "Shift", "AltGr", "Shift AltGr"};
    if (level < t.baseLevels) return base[level];
    for (unsigned i = 0; i < t.baseLevels; ++i)
        if (t.capsLevels[i] == level) return fmt::format("{} with Caps Lock", base[i]);
    return fmt::format("Level {}", level + 1);
}

std::string modsFor(unsigned baseLevel, bool lock) {
    std::string m;
    auto add = [&](const char* s) { m += (m.empty() ? "" : "+") + std::string(s); };
    if (baseLevel & 1) add("Shift");
    if (lock) add("Lock");
    if (baseLevel & 2) add("LevelThree");
    return m.empty() ? "None" : m;
}

std::string keypadType(const KeyType& t) {
    std::string out = fmt::format("\n    type \"{}\" {{\n", t.name);
    const bool altgr = t.levels > 2;
    out += fmt::format("        modifiers = {};\n", altgr ? "Shift+NumLock+LevelThree" : "Shift+NumLock");
    for (unsigned l3 = 0; l3 <= (altgr ? 1u : 0u); ++l3)
        for (unsigned num = 0; num <= 1; ++num)
            for (unsigned shift = 0; shift <= 1; ++shift) {
                std::string m;
                if (shift) m += "+Shift";
                if (num) m += "+NumLock";
                if (l3) m += "+LevelThree";
                const unsigned level = l3 ? 3 : (num && !shift ? 2 : 1);
                out += fmt::format("        map[{}] = Level{};\n", m.empty() ? "None" : m.substr(1), level);
            }
    out += "        level_name[Level1] = \"Navigation\";\n        level_name[Level2] = \"Number\";\n";
    if (altgr) out += "        level_name[Level3] = \"AltGr\";\n";
    return out + "    };\n";
}

std::string typesBody(const Export& e) {
    std::string out = "    virtual_modifiers NumLock, LevelThree;\n";
    for (const auto& t : e.types) {
        if (t.keypad) {
            out += keypadType(t);
            continue;
        }
        out += fmt::format("\n    type \"{}\" {{\n", t.name);
        out += fmt::format("        modifiers = {};\n", t.baseLevels == 4 ? "Shift+Lock+LevelThree" : "Shift+Lock");
        for (bool lock : {false, true})
            for (unsigned i = 0; i < t.baseLevels; ++i) {
                const unsigned level = lock ? t.capsLevels[i] : i;
                out += fmt::format("        map[{}] = Level{};\n", modsFor(i, lock), level + 1);
            }
        for (unsigned l = 0; l < t.levels; ++l)
            out += fmt::format("        level_name[Level{}] = \"{}\";\n", l + 1, levelName(t, l));
        out += "    };\n";
    }
    return out;
}

std::string symbolsBody(const Export& e) {
    std::string out = fmt::format("    name[Group1] = \"{}\";\n\n", e.name);
    size_t typeWidth = 0;
    for (const auto& t : e.types) typeWidth = std::max(typeWidth, t.name.size());
    for (const auto& k : e.keys) {
        std::string syms;
        for (size_t l = 0; l < k.keysyms.size(); ++l) {
            const std::string name = keysymName(k.keysyms[l]) + (l + 1 < k.keysyms.size() ? "," : "");
            syms += l + 1 < k.keysyms.size() ? fmt::format("{:<17} ", name) : name;
        }
        const std::string key = fmt::format("<{}>", k.position.name);
        const std::string type = fmt::format("\"{}\",", e.types[k.type].name);
        out += fmt::format("    key {:<6} {{ type[Group1] = {:<{}} symbols[Group1] = [ {} ] }};\n", key, type, typeWidth + 3,
                           syms);
    }
    if (e.altgr) out += "\n    include \"level3(ralt_switch)\"\n";
    return out;
}

std::string composeString(const std::u16string& s) {
    std::string out = "\"";
    for (char c : utf8(s)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            out += fmt::format("\\{:03o}", static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out + "\"";
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f) f.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (f) f.close();
    if (!f) throw Error(fmt::format("{}: cannot write the file", path.string()));
}

}  // namespace

std::string symbolsFile(const Export& e) {
    return fmt::format(
        "// Layout {}, from {}: the character keys, with the key types of types/{}\n"
        "// and the dead keys' sequences in the Compose file written with it.\n"
        "default partial alphanumeric_keys\n"
        "xkb_symbols \"basic\" {{\n{}}};\n",
        e.name, e.source, e.name, symbolsBody(e));
}

std::string typesFile(const Export& e) {
    return fmt::format(
        "// Key types of layout {}: the levels Shift, AltGr and Caps Lock select, as on\n"
        "// Windows. Lock belongs to every type, so Caps Lock is always consumed and\n"
        "// never capitalizes a character the type did not choose.\n"
        "default partial xkb_types \"default\" {{\n{}}};\n",
        e.name, typesBody(e));
}

std::string rulesFile(const Export& e) {
    std::string out = fmt::format(
        "// The system's rules, plus the key types of layout {} (also installed as\n"
        "// \"{}\"), whether it is the only layout or one of several.\n"
        "! include %S/evdev\n",
        e.name, kCustomId);
    auto section = [&](const std::string& mlvo) {
        out += fmt::format("\n! {} = types\n  {} = +{}\n  {} = +{}\n", mlvo, e.name, e.name, kCustomId, e.name);
    };
    section("layout");
    for (unsigned i = 1; i <= kMaxLayouts; ++i) section(fmt::format("layout[{}]", i));
    return out;
}

std::string registryFile(const Export& e) {
    return fmt::format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE xkbConfigRegistry SYSTEM \"xkb.dtd\">\n"
        "<xkbConfigRegistry version=\"1.1\">\n"
        "  <layoutList>\n"
        "    <layout>\n"
        "      <configItem>\n"
        "        <name>{}</name>\n"
        "        <shortDescription>{}</shortDescription>\n"
        "        <description>{} (from {})</description>\n"
        "      </configItem>\n"
        "    </layout>\n"
        "  </layoutList>\n"
        "</xkbConfigRegistry>\n",
        e.name, e.name.substr(0, 3), e.name, e.source);
}

std::string composeFile(const Export& e) {
    std::string out = fmt::format(
        "# Dead-key sequences of layout {}, from {}: each composition of the layout,\n"
        "# and for every other key what Windows types (the dead character, then the key's).\n"
        "# Standalone on purpose: the system's table has longer sequences that would\n"
        "# shadow these, so it is not included.\n",
        e.name, e.source);
    for (const auto& l : e.compose) {
        std::string keys;
        for (uint32_t k : l.keys) keys += fmt::format("<{}> ", keysymName(k));
        out += fmt::format("{:<40}: {}\n", keys, composeString(l.result));
    }
    return out;
}

std::string keymapFile(const Export& e) {
    return fmt::format(
        "// Layout {}, from {}, as one keymap: for X11 (xkbcomp keymap.xkb $DISPLAY)\n"
        "// and for a compositor that reads a keymap file.\n"
        "xkb_keymap {{\n"
        "xkb_keycodes {{ include \"evdev+aliases(qwerty)\" }};\n"
        "xkb_types {{\n    include \"complete\"\n{}}};\n"
        "xkb_compat {{ include \"complete\" }};\n"
        "xkb_symbols {{\n    include \"pc+inet(evdev)\"\n{}}};\n"
        "xkb_geometry {{ include \"pc(pc105)\" }};\n"
        "}};\n",
        e.name, e.source, typesBody(e), symbolsBody(e));
}

std::vector<WrittenFile> write(const Export& e, const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"xkb/symbols/" + e.name, symbolsFile(e)},
        {std::string("xkb/symbols/") + kCustomId, symbolsFile(e)},
        {"xkb/types/" + e.name, typesFile(e)},
        {"xkb/rules/evdev", rulesFile(e)},
        {"xkb/rules/evdev.xml", registryFile(e)},
        {"Compose", composeFile(e)},
        {"keymap.xkb", keymapFile(e)},
    };
    std::vector<WrittenFile> written;
    for (const auto& [rel, text] : files) {
        const fs::path p = dir / rel;
        std::error_code ec;
        fs::create_directories(p.parent_path(), ec);
        if (ec) throw Error(fmt::format("{}: cannot create the folder ({})", p.parent_path().string(), ec.message()));
        writeFile(p, text);
        written.push_back({rel, text.size()});
    }
    std::string r = report(e, written).dump(1) + "\n";
    writeFile(dir / "report.json", r);
    written.push_back({"report.json", r.size()});
    return written;
}

nlohmann::json report(const Export& e, const std::vector<WrittenFile>& files) {
    nlohmann::json j;
    j["format"] = "kbdtool-xkb-report";
    j["name"] = e.name;
    j["source"] = e.source;
    j["files"] = nlohmann::json::array();
    for (const auto& f : files) j["files"].push_back({{"path", f.path}, {"size", f.size}});
    j["keys"] = e.keys.size();
    j["types"] = nlohmann::json::array();
    for (const auto& t : e.types) j["types"].push_back(t.name);
    j["deadKeys"] = nlohmann::json::array();
    for (const auto& d : e.deadKeysyms) j["deadKeys"].push_back({{"char", d.dead}, {"keysym", keysymName(d.keysym)}});
    j["composeLines"] = e.compose.size();
    j["approximations"] = nlohmann::json::array();
    for (const auto& a : e.approximations)
        j["approximations"].push_back({{"kind", a.kind}, {"count", a.count}, {"message", a.message}});
    return j;
}

}  // namespace kbd::xkb
