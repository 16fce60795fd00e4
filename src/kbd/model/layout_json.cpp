#include "kbd/model/layout_json.h"

#include <fmt/format.h>

#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

namespace kbd {
namespace {

using nlohmann::json;


json scanRow(uint8_t sc, uint16_t entry) {
    return {{"scanCode", sc}, {"entry", entry}, {"vk", entry & 0xFF}, {"vkName", vkName(entry & 0xFF)},
            {"flags", flagNames("ScanFlag", entry & 0xFF00, 4)}};
}

json keyNames(const std::vector<KeyName>& list) {
    json a = json::array();
    for (const auto& n : list)
        a.push_back({{"scanCode", n.scanCode},
                     {"name", utf8(n.name)},
                     {"units", std::vector<uint16_t>(n.name.begin(), n.name.end())}});
    return a;
}

// A field of an object; Error when j is not an object or lacks it.
const json& field(const json& j, const char* key) {
    if (!j.is_object() || !j.contains(key)) throw Error(fmt::format("JSON layout: missing field '{}'", key));
    return j.at(key);
}

template <class T>
T get(const json& j, const char* key) {
    try {
        return field(j, key).get<T>();
    } catch (const json::exception& e) {
        throw Error(fmt::format("JSON layout: field '{}': {}", key, e.what()));
    }
}

// A list field: Error when it is not an array.
const json& list(const json& j, const char* key) {
    const json& a = field(j, key);
    if (!a.is_array()) throw Error(fmt::format("JSON layout: field '{}' is not a list", key));
    return a;
}

}  // namespace

json toJson(const Decoded& d) {
    const Layout& L = d.layout;
    json j;
    j["format"] = "kbdtool-layout";
    j["formatVersion"] = 1;

    const json flags = flagNames("LocaleFlag", L.localeFlags & 0xFFFF, 4);
    j["root"] = {{"address", d.root},       {"pointerSize", d.pointerSize},
                 {"localeFlags", L.localeFlags}, {"localeFlagNames", flags},
                 {"tableVersion", L.localeFlags >> 16}, {"nLgMax", L.nLgMax},
                 {"cbLgEntry", L.cbLgEntry}, {"hasLigatures", L.hasLigatures},
                 {"type", L.type},          {"subType", L.subType}};

    json bits = json::array();
    for (const auto& m : L.modifierBits) bits.push_back({{"vk", m.vk}, {"vkName", vkName(m.vk)}, {"bits", m.bits}});
    j["modifiers"] = {{"bits", bits}, {"maxModBits", L.maxModBits}, {"modNumber", L.modNumber}};

    json tables = json::array();
    for (const auto& t : L.charTables) {
        json rows = json::array();
        for (const auto& r : t.rows)
            rows.push_back({{"vk", r.vk},
                            {"vkName", r.vk == def::VK_NONE ? std::string("dead characters") : vkName(r.vk)},
                            {"attributes", r.attributes},
                            {"attributeNames", flagNames("Attribute", r.attributes, 2)},
                            {"cells", r.cells}});
        tables.push_back({{"nModifications", t.nModifications}, {"cbSize", t.cbSize}, {"rows", rows}});
    }
    j["charTables"] = tables;
    // Only a layout with a ligature table has the field, so that the
    // documents of layouts without one stay as they were.
    if (L.hasLigatures) {
        json ligs = json::array();
        for (const auto& g : L.ligatures)
            ligs.push_back({{"vk", g.vk}, {"vkName", vkName(g.vk)}, {"column", g.column}, {"chars", g.chars}});
        j["ligatures"] = ligs;
    }

    json dead = json::array();
    for (const auto& k : L.deadKeys)
        dead.push_back({{"dead", k.dead}, {"base", k.base}, {"composed", k.composed}, {"flags", k.flags}});
    j["deadKeys"] = dead;

    json sc = json::array();
    for (size_t i = 0; i < L.scanCodes.size(); ++i) sc.push_back(scanRow(static_cast<uint8_t>(i), L.scanCodes[i]));
    j["scanCodes"] = sc;
    for (const auto* list : {&L.scanCodesE0, &L.scanCodesE1}) {
        json a = json::array();
        for (const auto& r : *list) a.push_back(scanRow(r.scanCode, r.entry));
        j[list == &L.scanCodesE0 ? "scanCodesE0" : "scanCodesE1"] = a;
    }
    j["keyNames"] = keyNames(L.keyNames);
    j["keyNamesExt"] = keyNames(L.keyNamesExt);
    json dn = json::array();
    for (const auto& n : L.deadKeyNames) {
        std::vector<uint16_t> units(n.begin(), n.end());
        dn.push_back({{"dead", n.empty() ? 0 : n[0]}, {"name", n.empty() ? "" : utf8(n.substr(1))}, {"units", units}});
    }
    j["deadKeyNames"] = dn;
    return j;
}

Layout layoutFromJson(const json& j) {
    if (get<std::string>(j, "format") != "kbdtool-layout") throw Error("JSON layout: not a kbdtool layout document");
    Layout L;
    const json& root = field(j, "root");
    L.localeFlags = get<uint32_t>(root, "localeFlags");
    L.nLgMax = get<uint8_t>(root, "nLgMax");
    L.cbLgEntry = get<uint8_t>(root, "cbLgEntry");
    L.hasLigatures = get<bool>(root, "hasLigatures");
    L.type = get<uint32_t>(root, "type");
    L.subType = get<uint32_t>(root, "subType");
    const json& mods = field(j, "modifiers");
    for (const auto& m : list(mods, "bits")) L.modifierBits.push_back({get<uint8_t>(m, "vk"), get<uint8_t>(m, "bits")});
    L.maxModBits = get<uint16_t>(mods, "maxModBits");
    L.modNumber = get<std::vector<uint8_t>>(mods, "modNumber");
    for (const auto& t : list(j, "charTables")) {
        CharTable tab{get<uint8_t>(t, "nModifications"), get<uint8_t>(t, "cbSize"), {}};
        for (const auto& r : list(t, "rows")) {
            tab.rows.push_back({get<uint8_t>(r, "vk"), get<uint8_t>(r, "attributes"), get<std::vector<uint16_t>>(r, "cells")});
            // Every row has a cell for each column of its table, no fewer
            // (the simulator and check read each column) and no more (a dead
            // cell's character is read from the same column of the next row).
            if (const auto& row = tab.rows.back(); row.cells.size() != tab.nModifications)
                throw Error(fmt::format("JSON layout: charTables[{}] row {} (vk {}) has {} cells; the table has {} columns",
                                        L.charTables.size(), tab.rows.size() - 1, hex(row.vk), row.cells.size(),
                                        tab.nModifications));
        }
        L.charTables.push_back(std::move(tab));
    }
    if (L.hasLigatures && j.contains("ligatures"))
        for (const auto& g : list(j, "ligatures"))
            L.ligatures.push_back({get<uint8_t>(g, "vk"), get<uint16_t>(g, "column"), get<std::vector<uint16_t>>(g, "chars")});
    for (const auto& k : list(j, "deadKeys"))
        L.deadKeys.push_back({get<uint16_t>(k, "base"), get<uint16_t>(k, "dead"), get<uint16_t>(k, "composed"),
                              get<uint16_t>(k, "flags")});
    for (const auto& s : list(j, "scanCodes")) L.scanCodes.push_back(get<uint16_t>(s, "entry"));
    for (const auto& s : list(j, "scanCodesE0")) L.scanCodesE0.push_back({get<uint8_t>(s, "scanCode"), get<uint16_t>(s, "entry")});
    for (const auto& s : list(j, "scanCodesE1")) L.scanCodesE1.push_back({get<uint8_t>(s, "scanCode"), get<uint16_t>(s, "entry")});
    // The code units are the name exactly; "name" is for reading, and loses
    // what UTF-8 cannot carry (an unpaired surrogate).
    auto names16 = [](const json& list, std::vector<KeyName>& out) {
        for (const auto& n : list) {
            const auto units = get<std::vector<uint16_t>>(n, "units");
            out.push_back({get<uint8_t>(n, "scanCode"), std::u16string(units.begin(), units.end())});
        }
    };
    names16(list(j, "keyNames"), L.keyNames);
    names16(list(j, "keyNamesExt"), L.keyNamesExt);
    for (const auto& n : list(j, "deadKeyNames")) {
        const auto units = get<std::vector<uint16_t>>(n, "units");
        L.deadKeyNames.emplace_back(units.begin(), units.end());
    }
    return L;
}

}  // namespace kbd
