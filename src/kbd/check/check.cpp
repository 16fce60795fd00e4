#include "kbd/check/check.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>

#include "kbd/model/decoder.h"
#include "kbd/typing/simulator.h"
#include "kbd/model/layout.h"
#include "kbd/model/char_labels.h"
#include "kbd/image/version.h"

namespace kbd {
namespace {

namespace COFF = llvm::COFF;

// A version string says the same as the fixed numbers when its numbers,
// separated by dots or commas (with spaces or not: "1.0.3.40", "1, 0, 3, 40"),
// are those numbers; missing trailing parts are zero ("1.0" is 1.0.0.0).
// Text after the last number ("1.0.3.40 (release)") does not count; other
// text does not match.
bool sameVersion(const std::string& text, uint32_t ms, uint32_t ls) {
    const uint32_t want[4] = {ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF};
    size_t i = 0;
    for (unsigned part = 0; part < 4; ++part) {
        if (part > 0) {
            size_t j = i;
            while (j < text.size() && text[j] == ' ') ++j;
            if (j >= text.size() || (text[j] != '.' && text[j] != ',')) {
                for (unsigned rest = part; rest < 4; ++rest)
                    if (want[rest] != 0) return false;
                break;
            }
            i = j + 1;
            while (i < text.size() && text[i] == ' ') ++i;
        }
        uint64_t n = 0;
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 6) n = n * 10 + (text[i++] - '0');
        if (i == start || n != want[part]) return false;
    }
    return i == text.size() || text[i] == ' ';
}

class Checker {
public:
    explicit Checker(const MappedImage& img) : img_(img) {}

    CheckReport run() {
        image();
        tree();
        version();
        countTheRest();
        return std::move(report_);
    }

private:
    // Findings of one kind (one message form) are listed up to this many;
    // the rest are counted in one line after the last listed. A hostile
    // image can otherwise ask for a line per relocation or per row.
    static constexpr size_t kListedPerKind = 10;

    struct Kind {
        size_t listed = 0, more = 0;
        size_t last = 0;  // index of the last listed finding
    };

    template <class... A>
    void add(Finding::Level level, fmt::format_string<A...> f, A&&... a) {
        const fmt::string_view form = f;
        Kind& k = kinds_[std::string_view(form.data(), form.size())];
        if (k.listed == kListedPerKind) {
            ++k.more;  // the listed ones already decide ok()
            return;
        }
        ++k.listed;
        k.last = report_.findings.size();
        report_.findings.push_back({level, fmt::format(f, std::forward<A>(a)...)});
    }
    template <class... A>
    void error(fmt::format_string<A...> f, A&&... a) {
        add(Finding::Level::Error, f, std::forward<A>(a)...);
    }
    template <class... A>
    void note(fmt::format_string<A...> f, A&&... a) {
        add(Finding::Level::Note, f, std::forward<A>(a)...);
    }

    // After the last listed finding of each kind with more, a line that
    // counts them, at the same level.
    void countTheRest() {
        std::vector<std::pair<size_t, size_t>> at;  // (index of the last listed, how many more)
        for (const auto& [form, k] : kinds_)
            if (k.more) at.emplace_back(k.last, k.more);
        std::sort(at.begin(), at.end(), std::greater<>());
        for (const auto& [last, more] : at) {
            const Finding::Level level = report_.findings[last].level;
            report_.findings.insert(report_.findings.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                                    {level, fmt::format("... and {} more {} like the one above", more,
                                                        level == Finding::Level::Error ? "errors" : "notes")});
        }
    }

    void image() {
        const uint16_t m = img_.machine();
        if (m != COFF::IMAGE_FILE_MACHINE_I386 && m != COFF::IMAGE_FILE_MACHINE_AMD64 && m != COFF::IMAGE_FILE_MACHINE_ARM64)
            error("machine 0x{:X} is none of x86, x64 and ARM64", m);
        if ((m == COFF::IMAGE_FILE_MACHINE_I386) == img_.is64())
            error("machine 0x{:X} with a {} optional header", m, img_.is64() ? "PE32+" : "PE32");
        if (!(img_.fileCharacteristics() & COFF::IMAGE_FILE_DLL)) error("the image is not a DLL (IMAGE_FILE_DLL clear)");
        if (!(img_.fileCharacteristics() & COFF::IMAGE_FILE_EXECUTABLE_IMAGE)) error("the image is not marked executable");
        if (img_.hasImports()) error("the image imports functions; a layout must import nothing");
        if (img_.entryPoint() != 0)
            error("the image has an entry point at RVA 0x{:X}; loading a layout must run no code", img_.entryPoint());
        for (const auto& s : img_.sections())
            if ((s.characteristics & COFF::IMAGE_SCN_MEM_EXECUTE) && (s.characteristics & COFF::IMAGE_SCN_MEM_WRITE))
                error("section {} is both writable and executable", s.name);
        if (img_.headerChecksum() == 0)
            note("the header checksum is not set");
        else if (img_.headerChecksum() != img_.computedChecksum())
            error("the header checksum 0x{:08X} does not match the file (0x{:08X})", img_.headerChecksum(),
                  img_.computedChecksum());
    }

    void tree() {
        const auto exp = img_.findExport(kRootExport);
        if (!exp) {
            error("no export named {}: not a keyboard layout", kRootExport);
            return;
        }
        Decoded d;
        std::vector<Executed> code;
        try {
            d = decode(img_, {0, &code});  // detects 8-byte pointer fields in a 32-bit (WOW64) image
            report_.pointerSize = d.pointerSize;
        } catch (const Error& e) {
            error("{}", e.what());
            return;
        }
        note("tree read with {}-bit pointer fields{}", report_.pointerSize * 8,
             img_.is64() ? "" : report_.pointerSize == 8 ? " (a WOW64 image)" : " (a native 32-bit image)");
        relocations(d, code);
        tables(d.layout);
        elsewhere(d);
        report_.tree = std::move(d);
    }

    // The same file mapped at another base must give the same tables: this is
    // what a missing or stray relocation breaks.
    void elsewhere(const Decoded& here) {
        const uint64_t other = img_.is64() ? (img_.base() == 0x180000000 ? 0x280000000 : 0x180000000)
                                           : (img_.base() == 0x30000000 ? 0x50000000 : 0x30000000);
        try {
            const MappedImage moved = MappedImage::fromBytes(img_.fileBytes(), other);
            const Decoded there = decode(moved, {here.pointerSize});
            if (there.layout != here.layout)
                error("mapped at 0x{:X} the image gives other tables than at 0x{:X}", other, img_.base());
            if (there.root - other != here.root - img_.base())
                error("mapped at 0x{:X} the export returns another root", other);
        } catch (const Error& e) {
            error("mapped at 0x{:X}: {}", other, e.what());
        }
    }

    // Every non-null pointer of the tree, and every address the export's code
    // carries, has a relocation of the right width; nothing else has one.
    void relocations(const Decoded& d, const std::vector<Executed>& code) {
        // A 64-bit image fixes up whole 8-byte pointers; a 32-bit one, even
        // with 8-byte fields (WOW64), fixes up the 32-bit address in the low half.
        const uint8_t want = img_.is64() ? COFF::IMAGE_REL_BASED_DIR64 : COFF::IMAGE_REL_BASED_HIGHLOW;
        // The relocations by RVA (where one RVA has several, the last
        // decides, as it would applied in order), and the spans of the
        // export's code, sorted: a hostile table has millions of entries.
        const std::vector<Relocation>& all = img_.relocations();
        std::vector<std::pair<uint32_t, size_t>> order;  // (RVA, position)
        for (size_t i = 0; i < all.size(); ++i) order.emplace_back(all[i].rva, i);
        std::sort(order.begin(), order.end());
        std::vector<Relocation> relocs;
        for (size_t i = 0; i < order.size(); ++i)
            if (i + 1 == order.size() || order[i + 1].first != order[i].first) relocs.push_back(all[order[i].second]);
        auto find = [&](uint32_t rva) {
            const auto it = std::lower_bound(relocs.begin(), relocs.end(), rva,
                                             [](const Relocation& r, uint32_t v) { return r.rva < v; });
            return it != relocs.end() && it->rva == rva ? &*it : nullptr;
        };
        std::vector<uint32_t> used;
        for (const auto& p : d.pointers) {
            const uint32_t rva = static_cast<uint32_t>(p.field - img_.base());
            const Relocation* r = find(rva);
            if (p.target == 0) {
                if (r) error("{} at RVA 0x{:X} is null but has a relocation", p.what, rva);
                continue;
            }
            used.push_back(rva);
            if (!r)
                error("{} at RVA 0x{:X} has no relocation: it breaks when the image loads at another base", p.what, rva);
            else if (r->type != want)
                error("{} at RVA 0x{:X} has a relocation of type {}, not {}", p.what, rva, r->type, want);
            // In a WOW64 tree the upper half of every pointer is zero.
            if (d.pointerSize == 8 && !img_.is64() && (p.target >> 32) != 0)
                error("{} at RVA 0x{:X} has a non-zero upper half", p.what, rva);
        }
        std::sort(used.begin(), used.end());
        std::vector<Executed> spans = code;
        std::sort(spans.begin(), spans.end(), [](const Executed& a, const Executed& b) { return a.address < b.address; });
        uint64_t reach = 0;  // the furthest end of any span so far, so spans may overlap
        std::vector<uint64_t> reachAt;
        for (const Executed& e : spans) reachAt.push_back(reach = std::max(reach, e.address + e.size));
        auto inCode = [&](uint64_t va) {
            // The last span starting at or before va, or any before it, reaches past va.
            const auto it = std::upper_bound(spans.begin(), spans.end(), va,
                                             [](uint64_t v, const Executed& e) { return v < e.address; });
            return it != spans.begin() && reachAt[static_cast<size_t>(it - spans.begin()) - 1] > va;
        };
        for (const Relocation& r : relocs) {
            if (std::binary_search(used.begin(), used.end(), r.rva)) continue;
            if (!inCode(img_.base() + r.rva))
                error("relocation at RVA 0x{:X} (type {}) fixes up something that is neither a pointer of the tree "
                      "nor the export's code", r.rva, r.type);
        }
    }

    void tables(const Layout& L) {
        std::vector<uint16_t> dead;  // dead characters, in key order
        std::set<uint8_t> keys;
        std::set<std::pair<uint8_t, unsigned>> ligatureCells;
        for (size_t t = 0; t < L.charTables.size(); ++t) {
            const CharTable& tab = L.charTables[t];
            if (tab.nModifications == 0 || tab.nModifications > kMaxColumns)
                note("character table {} has {} columns; the format defines 1 to {}", t + 1, tab.nModifications,
                     kMaxColumns);
            if (tab.cbSize != 2 + 2 * tab.nModifications)
                note("character table {} has {}-byte rows for {} columns", t + 1, tab.cbSize, tab.nModifications);
            for (size_t i = 0; i < tab.rows.size(); ++i) {
                const CharRow& r = tab.rows[i];
                // The row after an SGCAPS row or a dead key is read through
                // the row before it, whatever its own key code.
                const CharRow* prev = i > 0 ? &tab.rows[i - 1] : nullptr;
                const bool follows = prev && ((prev->attributes & def::SGCAPS) ||
                                              std::count(prev->cells.begin(), prev->cells.end(), def::WCH_DEAD) != 0);
                if (r.vk == def::VK_NONE) {
                    if (!follows)
                        note("character table {} row {}: a 0xFF row after no SGCAPS row and no dead key is never read",
                             t + 1, i + 1);
                    continue;
                }
                if (follows) {
                    if (r.vk != prev->vk)
                        note("character table {} row {}: the row read for key 0x{:02X} carries key 0x{:02X}", t + 1,
                             i + 1, prev->vk, r.vk);
                    continue;
                }
                if (!keys.insert(r.vk).second)
                    note("virtual key 0x{:02X} has a second row (character table {} row {}); the first decides", r.vk,
                         t + 1, i + 1);
                if ((r.attributes & def::KANALOK) && kanaBits(L) == 0)
                    note("character table {} row {} (key 0x{:02X}) has KANALOK, but the modifier record has no Kana key",
                         t + 1, i + 1, r.vk);
                if ((r.attributes & def::SGCAPS) && i + 1 >= tab.rows.size())
                    error("character table {} row {} (key 0x{:02X}): an SGCAPS row with no row after it", t + 1, i + 1,
                          r.vk);
                // Cells of the row itself and, for an SGCAPS row, of the Caps
                // Lock row after it: a dead cell's dead character stands in
                // the row after the one that holds it.
                for (size_t at = i; at <= i + 1 && at < tab.rows.size(); ++at) {
                    if (at > i && !(r.attributes & def::SGCAPS)) break;
                    const CharRow& src = tab.rows[at];
                    for (size_t c = 0; c < src.cells.size(); ++c) {
                        if (src.cells[c] == def::WCH_LGTR) {
                            if (L.nLgMax == 0 || !L.hasLigatures)
                                error("character table {} row {}: a ligature cell, but the layout has no ligatures",
                                      t + 1, at + 1);
                            else if (!ligatureFor(L, r.vk, static_cast<unsigned>(c)))
                                note("character table {} row {} (key 0x{:02X}) column {}: a ligature cell with no row "
                                     "in the ligature table gives nothing", t + 1, at + 1, r.vk, c);
                            ligatureCells.insert({r.vk, static_cast<unsigned>(c)});
                        }
                        if (src.cells[c] != def::WCH_DEAD) continue;
                        if (at + 1 >= tab.rows.size()) {
                            error("character table {} row {} (key 0x{:02X}): a dead key with no row after it", t + 1,
                                  at + 1, r.vk);
                            break;
                        }
                        const uint16_t d = tab.rows[at + 1].cells[c];
                        if (d == def::WCH_NONE || d == def::WCH_DEAD || d == def::WCH_LGTR)
                            error("character table {} row {} (key 0x{:02X}) column {}: dead key without a dead "
                                  "character", t + 1, at + 2, r.vk, c);
                        else if (std::find(dead.begin(), dead.end(), d) == dead.end())
                            dead.push_back(d);
                    }
                }
            }
        }
        ligatures(L, ligatureCells);
        const size_t byKeys = dead.size();
        deadKeys(L, dead, byKeys);
        names(L, dead);
    }

    void ligatures(const Layout& L, const std::set<std::pair<uint8_t, unsigned>>& cells) {
        std::set<std::pair<uint8_t, unsigned>> seen;
        for (const auto& g : L.ligatures) {
            if (!seen.insert({g.vk, g.column}).second)
                note("ligature of key 0x{:02X} column {} appears again and is never reached", g.vk, g.column);
            else if (!cells.count({g.vk, g.column}))
                note("ligature of key 0x{:02X} column {} has no ligature cell and is never reached", g.vk, g.column);
            if (g.chars.empty() || g.chars[0] == def::WCH_NONE)
                note("ligature of key 0x{:02X} column {} holds no character", g.vk, g.column);
        }
    }

    // dead holds the dead characters the keys make; the chains of DKF_DEAD
    // compositions add the ones they reach, so that dead ends up with every
    // dead character a typist can reach (the first byKeys from keys).
    void deadKeys(const Layout& L, std::vector<uint16_t>& dead, size_t byKeys) {
        std::vector<uint16_t> groups;
        std::set<uint32_t> seen;
        for (const auto& k : L.deadKeys) {
            if (groups.empty() || groups.back() != k.dead) {
                if (std::find(groups.begin(), groups.end(), k.dead) != groups.end())
                    note("the compositions of dead key {} are not together", charLabel(k.dead));
                else
                    groups.push_back(k.dead);
            }
            if (!seen.insert(uint32_t{k.dead} << 16 | k.base).second)
                note("composition {} + {} appears again and is never reached", charLabel(k.dead), charLabel(k.base));
            if (k.composed == def::WCH_NONE || k.composed == def::WCH_DEAD || k.composed == def::WCH_LGTR)
                error("composition {} + {} gives the marker 0x{:04X}", charLabel(k.dead), charLabel(k.base), k.composed);
        }
        for (size_t i = 0; i < dead.size(); ++i)
            for (const auto& k : L.deadKeys)
                if (k.dead == dead[i] && (k.flags & def::DKF_DEAD) &&
                    std::find(dead.begin(), dead.end(), k.composed) == dead.end())
                    dead.push_back(k.composed);
        for (size_t i = 0; i < dead.size(); ++i) {
            const uint16_t d = dead[i];
            // Legal: the system then types the dead character and the next one.
            if (std::find(groups.begin(), groups.end(), d) == groups.end()) {
                note("{}dead key {} has no compositions: it types itself and the next character",
                     i < byKeys ? "" : "chained ", charLabel(d));
            } else if (!seen.count(uint32_t{d} << 16 | 0x20)) {
                note("dead key {} has no space row: it cannot be typed alone", charLabel(d));
            }
        }
        for (uint16_t g : groups)
            if (std::find(dead.begin(), dead.end(), g) == dead.end())
                note("compositions for {}, which no key makes dead, are never reached", charLabel(g));
    }

    void names(const Layout& L, const std::vector<uint16_t>& dead) {
        for (const auto* list : {&L.keyNames, &L.keyNamesExt})
            for (size_t i = 1; i < list->size(); ++i)
                if ((*list)[i].scanCode <= (*list)[i - 1].scanCode) {
                    note("{} is not in ascending scan-code order (0x{:02X} after 0x{:02X})",
                         list == &L.keyNames ? "pKeyNames" : "pKeyNamesExt", (*list)[i].scanCode, (*list)[i - 1].scanCode);
                    break;
                }
        std::vector<uint16_t> named;
        for (const auto& n : L.deadKeyNames) {
            if (n.size() < 2) {
                error("a dead-key name is empty");
                continue;
            }
            if (std::find(named.begin(), named.end(), n[0]) != named.end())
                error("dead key {} is named twice", charLabel(n[0]));
            named.push_back(n[0]);
            // A name nobody reaches is never shown: harmless.
            if (std::find(dead.begin(), dead.end(), n[0]) == dead.end())
                note("dead-key name '{}' is for {}, which no key makes dead", utf8(n.substr(1)), charLabel(n[0]));
        }
        for (uint16_t d : dead)
            if (std::find(named.begin(), named.end(), d) == named.end()) note("dead key {} has no name", charLabel(d));
        if (named.size() == dead.size() && !std::equal(named.begin(), named.end(), dead.begin()))
            note("the dead-key names are not in the order of the dead keys");
    }

    void version() {
        std::optional<VersionInfo> v;
        try {
            v = readVersion(img_);
        } catch (const Error& e) {
            error("{}", e.what());
            return;
        }
        if (!v) {
            note("the image has no version block");
            return;
        }
        const FixedFileInfo& f = v->fixed;
        if (f.signature != 0xFEEF04BD) error("the version block has no fixed file information");
        auto numbers = [](uint32_t ms, uint32_t ls) {
            return fmt::format("{}, {}, {}, {}", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
        };
        const std::string file = numbers(f.fileVersionMS, f.fileVersionLS);
        const std::string product = numbers(f.productVersionMS, f.productVersionLS);
        for (const auto& t : v->stringTables)
            for (const auto& [k, s] : t.strings) {
                if (k == "FileVersion" && !sameVersion(s, f.fileVersionMS, f.fileVersionLS))
                    note("version string FileVersion is '{}' but the fixed file information says {}", s, file);
                if (k == "ProductVersion" && !sameVersion(s, f.productVersionMS, f.productVersionLS))
                    note("version string ProductVersion is '{}' but the fixed file information says {}", s, product);
            }
    }

    const MappedImage&                  img_;
    CheckReport                         report_;
    std::map<std::string_view, Kind>    kinds_;  // by message form
};

}  // namespace

CheckReport checkImage(const MappedImage& image) { return Checker(image).run(); }

}  // namespace kbd
