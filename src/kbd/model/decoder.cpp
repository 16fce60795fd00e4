#include "kbd/model/decoder.h"

#include <string_view>

#include <fmt/format.h>
#include <llvm/Support/Endian.h>

namespace kbd {
namespace {

// No real layout comes near this many rows in one list; a list that does is
// a damaged or hostile image, and stopping here bounds the work.
constexpr size_t kMaxRows = 65536;
constexpr size_t kMaxNameLength = 1024;
// Lists may share rows (nothing in the format forbids it), so a limit per
// list does not bound the whole: 65,535 entries pointing at one 65,535-row
// block ask for four billion rows. Every byte the walk reads is charged
// against one budget instead: the file's size and this much more. A sound
// tree lies in the file and reads each byte once (the slack covers tables in
// zero-filled memory and names that share their strings); a tree that reads
// more goes over its own bytes again and again.
constexpr uint64_t kBudgetSlack = 64 * 1024;

class Walker {
public:
    Walker(const MappedImage& image, unsigned pointerSize, Decoded& out)
        : img_(image), P_(pointerSize), out_(out), left_(image.fileBytes().size() + kBudgetSlack) {}

    void walk(uint64_t root) {
        // dwType and dwSubType close the root record only in newer builds of
        // the record; older ones end before them, and what follows is another
        // table. Everything before them must be there.
        const uint64_t typeAt = root + offsetOf(Field::KBDTABLES_dwType, P_);
        const uint64_t fullEnd = root + sizeOf(Record::KBDTABLES, P_);
        if (!img_.contains(root, typeAt - root))
            throw Error(fmt::format("{} returned {}, which is not the address of a root record inside "
                                    "the image ({} to {})", kRootExport, hex(root), hex(img_.base()),
                                    hex(img_.base() + img_.sizeOfImage())));
        charge(typeAt - root, "KBDTABLES", root);
        typeAt_ = typeAt;
        typeEnd_ = fullEnd;
        Layout& L = out_.layout;
        const uint64_t mods = pointer(root, Field::KBDTABLES_pCharModifiers, false);
        const uint64_t chars = pointer(root, Field::KBDTABLES_pVkToWcharTable, false);
        const uint64_t dead = pointer(root, Field::KBDTABLES_pDeadKey, true);
        const uint64_t names = pointer(root, Field::KBDTABLES_pKeyNames, true);
        const uint64_t namesExt = pointer(root, Field::KBDTABLES_pKeyNamesExt, true);
        const uint64_t namesDead = pointer(root, Field::KBDTABLES_pKeyNamesDead, true);
        const uint64_t vsc = pointer(root, Field::KBDTABLES_pusVSCtoVK, true);
        const uint8_t maxVsc = u8(root, Field::KBDTABLES_bMaxVSCtoVK);
        const uint64_t e0 = pointer(root, Field::KBDTABLES_pVSCtoVK_E0, true);
        const uint64_t e1 = pointer(root, Field::KBDTABLES_pVSCtoVK_E1, true);
        L.localeFlags = u32(root, Field::KBDTABLES_fLocaleFlags);
        L.nLgMax = u8(root, Field::KBDTABLES_nLgMax);
        L.cbLgEntry = u8(root, Field::KBDTABLES_cbLgEntry);
        const uint64_t lig = pointer(root, Field::KBDTABLES_pLigature, true);
        L.hasLigatures = lig != 0;

        modifiers(mods);
        charTables(chars);
        if (lig) ligatures(lig);
        if (dead) deadKeys(dead);
        if (names) L.keyNames = keyNames(names, "pKeyNames");
        if (namesExt) L.keyNamesExt = keyNames(namesExt, "pKeyNamesExt");
        if (namesDead) deadKeyNames(namesDead);
        scanCodes(vsc, maxVsc);
        if (e0) L.scanCodesE0 = scanList(e0, "pVSCtoVK_E0");
        if (e1) L.scanCodesE1 = scanList(e1, "pVSCtoVK_E1");
        if (holdsType(root, typeAt, fullEnd)) {
            charge(fullEnd - typeAt, "KBDTABLES", typeAt);
            L.type = u32(root, Field::KBDTABLES_dwType);
            L.subType = u32(root, Field::KBDTABLES_dwSubType);
        }
    }

private:
    // Whether the root record holds dwType and dwSubType: it does unless
    // anything the walk read (a table the root points to, or one reached
    // through another, such as the modifier list right after the record)
    // lies in those 8 bytes, or they would run past the end of the root's
    // section.
    bool holdsType(uint64_t root, uint64_t typeAt, uint64_t fullEnd) const {
        if (typeFieldsRead_) return false;
        for (const auto& s : img_.sections()) {
            const uint64_t start = img_.base() + s.rva;
            if (root >= start && root < start + s.mappedSize()) return fullEnd <= start + s.mappedSize();
        }
        return img_.contains(typeAt, fullEnd - typeAt);
    }

    // Reads a field of a record.
    uint8_t u8(uint64_t record, Field f) const { return img_.u8(record + offsetOf(f, P_), fieldName(f)); }
    uint16_t u16(uint64_t record, Field f) const { return img_.u16(record + offsetOf(f, P_), fieldName(f)); }
    uint32_t u32(uint64_t record, Field f) const { return img_.u32(record + offsetOf(f, P_), fieldName(f)); }
    uint64_t pointer(uint64_t record, Field f, bool nullable) {
        return pointer(record + offsetOf(f, P_), std::string(fieldName(f)), nullable);
    }

    // Reads a pointer field and records it; a non-null target must lie
    // inside the image.
    uint64_t pointer(uint64_t field, const std::string& what, bool nullable) {
        const uint64_t v = P_ == 4 ? img_.u32(field, what) : img_.u64(field, what);
        out_.pointers.push_back({field, v, what});
        if (v == 0) {
            if (!nullable) throw Error(fmt::format("{} at {} is null", what, hex(field)));
            return 0;
        }
        if (!img_.contains(v, 1))
            throw Error(fmt::format("{} at {} points to {}, outside the image ({} to {})",
                                    what, hex(field), hex(v), hex(img_.base()),
                                    hex(img_.base() + img_.sizeOfImage())));
        return v;
    }

    // Takes `size` bytes read at `at` from the budget; false, taking
    // nothing, when they are not left.
    bool fits(uint64_t size, uint64_t at) {
        if (size > left_) return false;
        left_ -= size;
        if (at < typeEnd_ && at + size > typeAt_) typeFieldsRead_ = true;
        return true;
    }
    [[noreturn]] void overBudget(std::string_view what, uint64_t at) const {
        throw Error(fmt::format("{} at {}: the tree would read more than {} bytes, more than the file ({} bytes) "
                                "holds: its lists overlap",
                                what, hex(at), img_.fileBytes().size() + kBudgetSlack, img_.fileBytes().size()));
    }
    // Charges `size` bytes read for `what` at `at` against the budget.
    void charge(uint64_t size, std::string_view what, uint64_t at) {
        if (!fits(size, at)) overBudget(what, at);
    }

    // Walks a list of rows `stride` bytes apart from `start`: row(at) reads
    // one and returns false at the terminator. Refuses a list of more than
    // kMaxRows rows, and charges every row to the budget.
    template <class F>
    void rows(uint64_t start, uint64_t stride, const std::string& what, F&& row) {
        for (uint64_t at = start, n = 0;; at += stride, ++n) {
            if (n >= kMaxRows)
                throw Error(fmt::format("{} at {} has no terminator within {} rows", what, hex(start), kMaxRows));
            charge(stride, what, at);
            if (!row(at)) return;
        }
    }

    void modifiers(uint64_t at) {
        Layout& L = out_.layout;
        const uint64_t bits = pointer(at, Field::MODIFIERS_pVkToBit, false);
        rows(bits, sizeOf(Record::VK_TO_BIT, P_), "the modifier list", [&](uint64_t row) {
            const uint8_t vk = u8(row, Field::VK_TO_BIT_Vk);
            if (vk != 0) L.modifierBits.push_back({vk, u8(row, Field::VK_TO_BIT_ModBits)});
            return vk != 0;
        });
        L.maxModBits = u16(at, Field::MODIFIERS_wMaxModBits);
        const uint64_t mn = at + offsetOf(Field::MODIFIERS_ModNumber, P_);
        if (!img_.contains(mn, uint64_t{L.maxModBits} + 1))
            throw Error(
                fmt::format("MODIFIERS.ModNumber at {} ({} entries) runs off the image", hex(mn), L.maxModBits + 1));
        charge(uint64_t{L.maxModBits} + 1, "MODIFIERS.ModNumber", mn);
        for (uint32_t i = 0; i <= L.maxModBits; ++i) L.modNumber.push_back(img_.u8(mn + i, "ModNumber"));
    }

    void charTables(uint64_t list) {
        Layout& L = out_.layout;
        rows(list, sizeOf(Record::VK_TO_WCHAR_TABLE, P_), "the list of character tables", [&](uint64_t entry) {
            const std::string name = fmt::format("VK_TO_WCHAR_TABLE[{}]", L.charTables.size());
            const uint64_t first = pointer(entry, name + ".pVkToWchars", true);
            if (first == 0) return false;
            CharTable t;
            t.nModifications =
                img_.u8(entry + offsetOf(Field::VK_TO_WCHAR_TABLE_nModifications, P_), name + ".nModifications");
            t.cbSize = img_.u8(entry + offsetOf(Field::VK_TO_WCHAR_TABLE_cbSize, P_), name + ".cbSize");
            if (t.cbSize < 2 + 2 * unsigned{t.nModifications})
                throw Error(fmt::format("{} at {} has cbSize {}, too small for {} columns (needs {})", name, hex(entry),
                                        t.cbSize, t.nModifications, 2 + 2 * t.nModifications));
            rows(first, t.cbSize, name, [&](uint64_t row) {
                const uint8_t vk =
                    img_.u8(row + offsetOf(Field::VK_TO_WCHARS1_VirtualKey, P_), "VirtualKey of a character row");
                if (vk == 0) return false;
                CharRow r{vk,
                          img_.u8(row + offsetOf(Field::VK_TO_WCHARS1_Attributes, P_), "Attributes of a character row"),
                          {}};
                if (!img_.contains(row, t.cbSize))
                    throw Error(fmt::format("row at {} of {} runs off the image", hex(row), name));
                const uint8_t* cells = img_.bytes(row + offsetOf(Field::VK_TO_WCHARS1_wch, P_),
                                                  2 * uint64_t{t.nModifications}, "character cells").data();
                r.cells.reserve(t.nModifications);
                for (unsigned c = 0; c < t.nModifications; ++c) r.cells.push_back(llvm::support::endian::read16le(cells + 2 * c));
                t.rows.push_back(std::move(r));
                return true;
            });
            L.charTables.push_back(std::move(t));
            return true;
        });
    }

    // Rows of cbLgEntry bytes: VirtualKey, ModificationNumber (the column) at
    // offset 2, then nLgMax characters; a row with VirtualKey 0 ends the table.
    // Rows of cbLgEntry bytes: the key, the column (ModificationNumber), then
    // nLgMax characters; a row with VirtualKey 0 ends the table.
    void ligatures(uint64_t list) {
        Layout& L = out_.layout;
        const uint64_t chars = offsetOf(Field::LIGATURE1_wch, P_);
        const uint64_t need = chars + 2u * L.nLgMax;
        if (L.cbLgEntry < need)
            throw Error(fmt::format("KBDTABLES.cbLgEntry is {}, too small for rows of {} characters (needs {})",
                                    L.cbLgEntry, L.nLgMax, need));
        rows(list, L.cbLgEntry, "the ligature table", [&](uint64_t row) {
            const uint8_t vk = u8(row, Field::LIGATURE1_VirtualKey);
            if (vk == 0) return false;
            if (!img_.contains(row, L.cbLgEntry))
                throw Error(fmt::format("ligature row at {} runs off the image", hex(row)));
            Ligature g{vk, u16(row, Field::LIGATURE1_ModificationNumber), {}};
            for (unsigned c = 0; c < L.nLgMax; ++c) g.chars.push_back(img_.u16(row + chars + 2 * c, "ligature character"));
            L.ligatures.push_back(std::move(g));
            return true;
        });
    }

    void deadKeys(uint64_t list) {
        rows(list, sizeOf(Record::DEADKEY, P_), "the dead-key list", [&](uint64_t row) {
            const uint32_t both = u32(row, Field::DEADKEY_dwBoth);
            if (both != 0)
                out_.layout.deadKeys.push_back({static_cast<uint16_t>(both & 0xFFFF), static_cast<uint16_t>(both >> 16),
                                                u16(row, Field::DEADKEY_wchComposed), u16(row, Field::DEADKEY_uFlags)});
            return both != 0;
        });
    }

    // Reads a NUL-terminated UTF-16 string. describe() names it, and is
    // called only for a message: there are hundreds of names.
    template <class Describe>
    std::u16string string(uint64_t at, Describe&& describe) {
        std::u16string s;
        for (uint64_t p = at;; p += 2) {
            if (!img_.contains(p, 2))
                throw Error(fmt::format("{} at {} does not end inside the image", describe(), hex(at)));
            if (!fits(2, p)) overBudget(describe(), at);
            const uint16_t ch = img_.u16(p, "");  // inside the image, as just seen
            if (ch == 0) return s;
            if (s.size() >= kMaxNameLength)
                throw Error(fmt::format("{} at {} has no terminator within {} characters",
                                        describe(), hex(at), kMaxNameLength));
            s.push_back(static_cast<char16_t>(ch));
        }
    }

    std::vector<KeyName> keyNames(uint64_t list, const std::string& field) {
        std::vector<KeyName> names;
        rows(list, sizeOf(Record::VSC_LPWSTR, P_), field, [&](uint64_t row) {
            const uint8_t vsc = u8(row, Field::VSC_LPWSTR_vsc);
            if (vsc == 0) return false;
            const std::string what = fmt::format("{}[{}].pwsz", field, names.size());
            const uint64_t str = pointer(row + offsetOf(Field::VSC_LPWSTR_pwsz, P_), what, false);
            names.push_back(KeyName{vsc, string(str, [&] { return fmt::format("name of scan code {} in {}", hex(vsc), field); })});
            return true;
        });
        return names;
    }

    void deadKeyNames(uint64_t list) {
        auto& names = out_.layout.deadKeyNames;
        rows(list, P_, "pKeyNamesDead", [&](uint64_t p) {
            const uint64_t str = pointer(p, fmt::format("pKeyNamesDead[{}]", names.size()), true);
            if (str != 0) names.push_back(string(str, [&] { return fmt::format("dead-key name {}", names.size()); }));
            return str != 0;
        });
    }

    void scanCodes(uint64_t table, uint8_t count) {
        if (count == 0) return;
        if (table == 0)
            throw Error(fmt::format("KBDTABLES.bMaxVSCtoVK is {} but pusVSCtoVK is null",
                                    count));
        if (!img_.contains(table, 2u * count))
            throw Error(fmt::format("the scan-code table at {} ({} entries) runs off the image", hex(table), count));
        charge(2u * count, "the scan-code table", table);
        for (unsigned i = 0; i < count; ++i)
            out_.layout.scanCodes.push_back(img_.u16(table + 2 * i, "scan-code entry"));
    }

    std::vector<ScanEntry> scanList(uint64_t list, const std::string& field) {
        std::vector<ScanEntry> out;
        rows(list, sizeOf(Record::VSC_VK, P_), field, [&](uint64_t row) {
            const uint8_t vsc = u8(row, Field::VSC_VK_Vsc);
            if (vsc != 0) out.push_back({vsc, u16(row, Field::VSC_VK_Vk)});
            return vsc != 0;
        });
        return out;
    }

    const MappedImage& img_;
    unsigned           P_;  // width of a pointer field
    Decoded&           out_;
    uint64_t           left_;  // bytes the walk may still read
    // Where the root record's dwType and dwSubType would be, and whether the
    // walk read any of those bytes as part of another table.
    uint64_t           typeAt_ = 0;
    uint64_t           typeEnd_ = 0;
    bool               typeFieldsRead_ = false;
};

}  // namespace

Decoded decode(const MappedImage& image, const DecodeOptions& options) {
    // A 32-bit image holds 4-byte pointer fields, or, built for WOW64,
    // 8-byte ones; unless told, the reading whose tree validates decides.
    if (options.pointerSize == 0 && !image.is64()) {
        try {
            return decode(image, {4, options.trace});
        } catch (const Error& narrow) {
            try {
                return decode(image, {8, options.trace});
            } catch (const Error&) {
                throw narrow;
            }
        }
    }
    Decoded out;
    out.pointerSize = options.pointerSize ? options.pointerSize : 8;
    if (out.pointerSize != 4 && out.pointerSize != 8)
        throw Error(fmt::format("pointer size must be 4 or 8, not {}", out.pointerSize));
    if (!image.findExport(kRootExport))
        throw Error(fmt::format("no export named {}: not a keyboard layout", kRootExport));
    // 32-bit code that hands out a tree of 64-bit pointers returns the
    // address in EDX:EAX.
    const bool wide = out.pointerSize == 8 && !image.is64();
    if (options.trace) options.trace->clear();
    out.root = runExport(image, kRootExport, wide, options.trace);
    Walker(image, out.pointerSize, out).walk(out.root);
    return out;
}

Decoded decodeFile(const std::string& path, std::optional<uint64_t> base, const DecodeOptions& options) {
    return decode(MappedImage::load(path, base), options);
}

}  // namespace kbd
