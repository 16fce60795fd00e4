#include "walk.h"

#include <windows.h>

namespace {

// No real layout has a list this long or a name this long; a list without
// its terminator stops here.
constexpr size_t kMaxRows = 65536;
constexpr size_t kMaxNameLength = 1024;

class Walker {
public:
    Walker(const Module& m, int load, Json& j, Problems& p) : m_(m), load_(load), j_(j), p_(p) {}

    void layout(uintptr_t root);

private:
    // [at, at + n) lies inside the module and on pages that are not writable;
    // otherwise a problem about `what` is recorded.
    bool readable(uintptr_t at, size_t n, const char* what, uintptr_t field = 0);
    // The target of a pointer field, checked to hold at least `need` bytes
    // inside the module; 0 for a null pointer (a problem unless nullable) and
    // for a pointer that fails the check.
    uintptr_t follow(const void* field, const char* what, size_t need, bool nullable);

    void modifiers(uintptr_t at);
    void charTables(uintptr_t list);
    void deadKeys(uintptr_t list);
    void keyNames(const char* key, uintptr_t list, const char* field);
    void deadKeyNames(uintptr_t list);
    void scanCodes(uintptr_t table, unsigned count);
    void scanList(const char* key, uintptr_t list, const char* field);
    // A zero-terminated name; false when it leaves the module or has no end.
    bool name(uintptr_t at, const char* what, const char16_t*& units, size_t& n);
    void tooLong(const char* what, uintptr_t start) { p_.add(load_, what, start, 0, "has no terminator"); }

    Module    m_;
    int       load_;
    Json&     j_;
    Problems& p_;
    uintptr_t regionStart_ = 0, regionEnd_ = 0;
    uint32_t  regionProtect_ = 0;
    uintptr_t reportedRegion_ = ~uintptr_t{0};
};

bool Walker::readable(uintptr_t at, size_t n, const char* what, uintptr_t field) {
    if (at < m_.base || at > m_.end || n > m_.end - at) {
        p_.add(load_, what, field, at, "lies outside the module");
        return false;
    }
    for (uintptr_t p = at; p < at + n;) {
        if (p < regionStart_ || p >= regionEnd_) {
            MEMORY_BASIC_INFORMATION mbi;
            if (!VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof mbi)) {
                p_.add(load_, what, field, p, "cannot be queried (VirtualQuery)");
                return false;
            }
            regionStart_ = reinterpret_cast<uintptr_t>(mbi.BaseAddress);
            regionEnd_ = regionStart_ + mbi.RegionSize;
            regionProtect_ = mbi.State == MEM_COMMIT ? mbi.Protect : 0;
        }
        if (regionProtect_ == 0 || (regionProtect_ & (PAGE_NOACCESS | PAGE_GUARD))) {
            p_.add(load_, what, field, p, "is not readable");
            return false;
        }
        if (isWritable(regionProtect_) && reportedRegion_ != regionStart_) {
            reportedRegion_ = regionStart_;
            p_.add(load_, what, field, p, "is in writable memory");
        }
        p = regionEnd_;
    }
    return true;
}

uintptr_t Walker::follow(const void* field, const char* what, size_t need, bool nullable) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(field);
    const uintptr_t value = *static_cast<const uintptr_t*>(field);
    if (value == 0) {
        if (!nullable) p_.add(load_, what, at, 0, "is null");
        return 0;
    }
    return readable(value, need, what, at) ? value : 0;
}

void Walker::layout(uintptr_t root) {
    if (!readable(root, sizeof(rec::KBDTABLES), "KbdLayerDescriptor()")) return;
    const auto* t = reinterpret_cast<const rec::KBDTABLES*>(root);

    j_.key("root");
    j_.beginObject();
    j_.field("address", root);
    j_.field("pointerSize", sizeof(void*));
    j_.field("localeFlags", t->fLocaleFlags);
    j_.field("tableVersion", t->fLocaleFlags >> 16);
    j_.field("nLgMax", t->nLgMax);
    j_.field("cbLgEntry", t->cbLgEntry);
    j_.key("hasLigatures");
    j_.boolean(follow(&t->pLigature, "KBDTABLES.pLigature", 1, true) != 0);
    j_.field("type", t->dwType);
    j_.field("subType", t->dwSubType);
    j_.endObject();

    modifiers(follow(&t->pCharModifiers, "KBDTABLES.pCharModifiers", offsetof(rec::MODIFIERS, ModNumber), false));
    charTables(follow(&t->pVkToWcharTable, "KBDTABLES.pVkToWcharTable", sizeof(rec::VK_TO_WCHAR_TABLE), false));
    deadKeys(follow(&t->pDeadKey, "KBDTABLES.pDeadKey", sizeof(rec::DEADKEY), true));
    keyNames("keyNames", follow(&t->pKeyNames, "KBDTABLES.pKeyNames", 1, true), "pKeyNames");
    keyNames("keyNamesExt", follow(&t->pKeyNamesExt, "KBDTABLES.pKeyNamesExt", 1, true), "pKeyNamesExt");
    deadKeyNames(follow(&t->pKeyNamesDead, "KBDTABLES.pKeyNamesDead", sizeof(void*), true));
    if (t->bMaxVSCtoVK && !t->pusVSCtoVK)
        p_.add(load_, "KBDTABLES.pusVSCtoVK", root + offsetof(rec::KBDTABLES, pusVSCtoVK), 0,
               "is null, but bMaxVSCtoVK is not 0");
    scanCodes(follow(&t->pusVSCtoVK, "KBDTABLES.pusVSCtoVK", 2u * t->bMaxVSCtoVK, true), t->bMaxVSCtoVK);
    scanList("scanCodesE0", follow(&t->pVSCtoVK_E0, "KBDTABLES.pVSCtoVK_E0", 1, true), "pVSCtoVK_E0");
    scanList("scanCodesE1", follow(&t->pVSCtoVK_E1, "KBDTABLES.pVSCtoVK_E1", 1, true), "pVSCtoVK_E1");
}

void Walker::modifiers(uintptr_t at) {
    j_.key("modifiers");
    j_.beginObject();
    j_.key("bits");
    j_.beginArray();
    const auto* m = reinterpret_cast<const rec::MODIFIERS*>(at);
    if (at) {
        const uintptr_t bits = follow(&m->pVkToBit, "MODIFIERS.pVkToBit", sizeof(rec::VK_TO_BIT), false);
        for (size_t i = 0; bits; ++i) {
            if (i == kMaxRows) {
                tooLong("MODIFIERS.pVkToBit", bits);
                break;
            }
            const auto* row = reinterpret_cast<const rec::VK_TO_BIT*>(bits) + i;
            if (!readable(reinterpret_cast<uintptr_t>(row), sizeof *row, "a VK_TO_BIT row")) break;
            if (row->Vk == 0) break;
            j_.beginObject();
            j_.field("vk", row->Vk);
            j_.field("bits", row->ModBits);
            j_.endObject();
        }
    }
    j_.endArray();
    j_.field("maxModBits", at ? m->wMaxModBits : 0);
    j_.key("modNumber");
    j_.beginArray();
    if (at && readable(at + offsetof(rec::MODIFIERS, ModNumber), size_t{m->wMaxModBits} + 1, "MODIFIERS.ModNumber"))
        for (unsigned i = 0; i <= m->wMaxModBits; ++i) j_.number(m->ModNumber[i]);
    j_.endArray();
    j_.endObject();
}

void Walker::charTables(uintptr_t list) {
    j_.key("charTables");
    j_.beginArray();
    for (size_t i = 0; list; ++i) {
        Name what("VK_TO_WCHAR_TABLE");
        what.index(i);
        if (i == kMaxRows) {
            tooLong("the list of character tables", list);
            break;
        }
        const auto* e = reinterpret_cast<const rec::VK_TO_WCHAR_TABLE*>(list) + i;
        if (!readable(reinterpret_cast<uintptr_t>(e), sizeof *e, what.str())) break;
        if (e->pVkToWchars == nullptr) break;
        const size_t rowSize = offsetof(rec::VK_TO_WCHARS1, wch) + 2u * e->nModifications;
        if (e->cbSize < rowSize) {
            p_.add(load_, what.str(), reinterpret_cast<uintptr_t>(e), e->cbSize, "cbSize is too small for its columns");
            break;
        }
        Name rowsWhat(what.str());
        const uintptr_t rows = follow(&e->pVkToWchars, rowsWhat.add(".pVkToWchars").str(), 1, false);
        if (!rows) break;
        j_.beginObject();
        j_.field("nModifications", e->nModifications);
        j_.field("cbSize", e->cbSize);
        j_.key("rows");
        j_.beginArray();
        for (size_t r = 0;; ++r) {
            if (r == kMaxRows) {
                tooLong(rowsWhat.str(), rows);
                break;
            }
            const uintptr_t at = rows + r * e->cbSize;
            const auto* row = reinterpret_cast<const rec::VK_TO_WCHARS1*>(at);
            if (!readable(at, 1, "a character row")) break;
            if (row->VirtualKey == 0) break;
            if (!readable(at, e->cbSize, "a character row")) break;
            j_.beginObject();
            j_.field("vk", row->VirtualKey);
            j_.field("attributes", row->Attributes);
            j_.key("cells");
            j_.beginArray();
            const auto* cells = reinterpret_cast<const char16_t*>(at + offsetof(rec::VK_TO_WCHARS1, wch));
            for (unsigned c = 0; c < e->nModifications; ++c) j_.number(cells[c]);
            j_.endArray();
            j_.endObject();
        }
        j_.endArray();
        j_.endObject();
    }
    j_.endArray();
}

void Walker::deadKeys(uintptr_t list) {
    j_.key("deadKeys");
    j_.beginArray();
    for (size_t i = 0; list; ++i) {
        if (i == kMaxRows) {
            tooLong("KBDTABLES.pDeadKey", list);
            break;
        }
        const auto* d = reinterpret_cast<const rec::DEADKEY*>(list) + i;
        if (!readable(reinterpret_cast<uintptr_t>(d), sizeof *d, "a DEADKEY row")) break;
        if (d->dwBoth == 0) break;
        j_.beginObject();
        j_.field("dead", d->dwBoth >> 16);
        j_.field("base", d->dwBoth & 0xFFFF);
        j_.field("composed", d->wchComposed);
        j_.field("flags", d->uFlags);
        j_.endObject();
    }
    j_.endArray();
}

bool Walker::name(uintptr_t at, const char* what, const char16_t*& units, size_t& n) {
    units = reinterpret_cast<const char16_t*>(at);
    for (n = 0;; ++n) {
        if (n > kMaxNameLength) {
            tooLong(what, at);
            return false;
        }
        if (!readable(at + 2 * n, 2, what)) return false;
        if (units[n] == 0) return true;
    }
}

void Walker::keyNames(const char* key, uintptr_t list, const char* field) {
    j_.key(key);
    j_.beginArray();
    for (size_t i = 0; list; ++i) {
        if (i == kMaxRows) {
            tooLong(field, list);
            break;
        }
        const auto* row = reinterpret_cast<const rec::VSC_LPWSTR*>(list) + i;
        if (!readable(reinterpret_cast<uintptr_t>(row), sizeof *row, "a VSC_LPWSTR row")) break;
        if (row->vsc == 0) break;
        Name what(field);
        what.index(i).add(".pwsz");
        const uintptr_t str = follow(&row->pwsz, what.str(), 2, false);
        const char16_t* units;
        size_t n;
        if (!str || !name(str, what.str(), units, n)) break;
        j_.beginObject();
        j_.field("scanCode", row->vsc);
        j_.key("name");
        j_.string(units, n);
        j_.key("units");
        j_.beginArray();
        for (size_t u = 0; u < n; ++u) j_.number(units[u]);
        j_.endArray();
        j_.endObject();
    }
    j_.endArray();
}

void Walker::deadKeyNames(uintptr_t list) {
    j_.key("deadKeyNames");
    j_.beginArray();
    for (size_t i = 0; list; ++i) {
        if (i == kMaxRows) {
            tooLong("KBDTABLES.pKeyNamesDead", list);
            break;
        }
        const auto* slot = reinterpret_cast<const char16_t* const*>(list) + i;
        Name what("pKeyNamesDead");
        what.index(i);
        if (!readable(reinterpret_cast<uintptr_t>(slot), sizeof *slot, what.str())) break;
        if (*slot == nullptr) break;
        const uintptr_t str = follow(slot, what.str(), 2, false);
        const char16_t* units;
        size_t n;
        if (!str || !name(str, what.str(), units, n)) break;
        // The dead character, then its name.
        j_.beginObject();
        j_.field("dead", n ? units[0] : 0);
        j_.key("name");
        j_.string(units + (n ? 1 : 0), n ? n - 1 : 0);
        j_.key("units");
        j_.beginArray();
        for (size_t u = 0; u < n; ++u) j_.number(units[u]);
        j_.endArray();
        j_.endObject();
    }
    j_.endArray();
}

void Walker::scanCodes(uintptr_t table, unsigned count) {
    j_.key("scanCodes");
    j_.beginArray();
    const auto* entries = reinterpret_cast<const uint16_t*>(table);
    for (unsigned sc = 0; table && sc < count; ++sc) {
        j_.beginObject();
        j_.field("scanCode", sc);
        j_.field("entry", entries[sc]);
        j_.field("vk", entries[sc] & 0xFF);
        j_.endObject();
    }
    j_.endArray();
}

void Walker::scanList(const char* key, uintptr_t list, const char* field) {
    j_.key(key);
    j_.beginArray();
    for (size_t i = 0; list; ++i) {
        if (i == kMaxRows) {
            tooLong(field, list);
            break;
        }
        const auto* row = reinterpret_cast<const rec::VSC_VK*>(list) + i;
        if (!readable(reinterpret_cast<uintptr_t>(row), sizeof *row, "a VSC_VK row")) break;
        if (row->Vsc == 0) break;
        j_.beginObject();
        j_.field("scanCode", row->Vsc);
        j_.field("entry", row->Vk);
        j_.field("vk", row->Vk & 0xFF);
        j_.endObject();
    }
    j_.endArray();
}

}  // namespace

Name& Name::add(const char* s) {
    while (*s && n_ + 1 < sizeof buf_) buf_[n_++] = *s++;
    buf_[n_] = 0;
    return *this;
}

Name& Name::index(size_t i) {
    char digits[24];
    int d = sizeof digits;
    digits[--d] = 0;
    do {
        digits[--d] = static_cast<char>('0' + i % 10);
        i /= 10;
    } while (i);
    return add("[").add(digits + d).add("]");
}

void Problems::add(int load, const char* what, uintptr_t field, uintptr_t value, const char* problem) {
    ++count_;
    json_.beginObject();
    json_.key("load");
    if (load < 0)
        json_.null();
    else
        json_.number(static_cast<uint64_t>(load));
    json_.key("what");
    json_.string(what);
    json_.field("field", field);
    json_.field("value", value);
    json_.key("problem");
    json_.string(problem);
    json_.endObject();
}

uint32_t protectionAt(uintptr_t address) {
    MEMORY_BASIC_INFORMATION mbi;
    if (!VirtualQuery(reinterpret_cast<void*>(address), &mbi, sizeof mbi) || mbi.State != MEM_COMMIT) return 0;
    return mbi.Protect;
}

bool isWritable(uint32_t protect) {
    return protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY);
}

bool isExecutable(uint32_t protect) {
    return protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY);
}

void walkLayout(const Module& module, uintptr_t root, int load, Json& out, Problems& problems) {
    Walker(module, load, out, problems).layout(root);
}
