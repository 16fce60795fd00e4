// The setup's decisions; see plan.h. No library calls: this file is compiled
// for Windows without a runtime as well as for the host tests.
#include "plan.h"

namespace setup {
namespace {

// A set of numbers below 0x1000 (KLID prefixes, Layout Ids).
struct Bits4096 {
    uint32_t word[0x1000 / 32] = {};
    void set(uint32_t n) { word[n / 32] |= 1u << (n % 32); }
    bool has(uint32_t n) const { return (word[n / 32] >> (n % 32)) & 1u; }
};

void reset(Plan& plan) {
    plan.status = Status::Ok;
    plan.outcome = Outcome::None;
    plan.klid = Text{};
    plan.layoutId = 0;
    plan.removedCount = 0;
    plan.opCount = 0;
}

bool fail(Plan& plan, Status status) {
    plan.status = status;
    plan.opCount = 0;
    return false;
}

bool add(Plan& plan, OpKind kind, Where where, const Text& key, const Text& name, const Text& data) {
    if (plan.opCount == Plan::kMaxOps) return fail(plan, Status::TooManyChanges);
    Op& op = plan.ops[plan.opCount++];
    op.kind = kind;
    op.where = where;
    op.key = key;
    op.name = name;
    op.data = data;
    return true;
}

bool removeKey(Plan& plan, const Text& klid) {
    if (plan.removedCount == Plan::kMaxRemoved) return fail(plan, Status::TooManyChanges);
    plan.removed[plan.removedCount++] = klid;
    return add(plan, OpKind::DeleteKey, Where::Layouts, klid, Text{}, Text{});
}

// The 8 hex digits of a KLID as a number; false for any other name.
bool parseKlid(const Text& name, uint32_t& klid) {
    if (name.cut || name.length != 8) return false;
    klid = 0;
    for (uint16_t i = 0; i < 8; ++i) {
        const int d = hexDigit(name.unit[i]);
        if (d < 0) return false;
        klid = klid << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

// The custom prefix (the 3 digits after 'a') of a KLID `a???language`, or -1.
int customPrefix(const Text& name, uint16_t language) {
    uint32_t klid;
    if (!parseKlid(name, klid)) return -1;
    if ((klid & 0xFFFF) != language || (klid >> 28) != 0xA) return -1;
    return static_cast<int>((klid >> 16) & 0xFFF);
}

bool isLanguageOf(const Text& name, uint16_t language) {
    uint32_t klid;
    return parseKlid(name, klid) && (klid & 0xFFFF) == language;
}

// The Layout Id to give a new key: one above the highest in use, so that the
// layout never takes a gap the system's own numbering may fill later; when
// that passes 0x0FFF, the highest free one below it.
bool chooseLayoutId(const Bits4096& used, uint32_t& id) {
    uint32_t highest = 0;
    for (uint32_t n = 1; n <= kLayoutIdMax; ++n)
        if (used.has(n)) highest = n;
    if (highest < kLayoutIdMax) {
        id = highest + 1;
        return true;
    }
    for (uint32_t n = kLayoutIdMax; n >= 1; --n)
        if (!used.has(n)) {
            id = n;
            return true;
        }
    return false;
}

Text decimalText(uint32_t v) {
    char16_t digits[10];
    unsigned n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    Text t;
    t.length = static_cast<uint16_t>(n);
    for (unsigned i = 0; i < n; ++i) t.unit[i] = digits[n - 1 - i];
    return t;
}

// The number of a Preload entry ("1", "2", ...); 0 for any other name.
uint32_t preloadNumber(const Text& name) {
    if (name.cut || name.length == 0 || name.length > 4 || name.unit[0] == u'0') return 0;
    uint32_t v = 0;
    for (uint16_t i = 0; i < name.length; ++i) {
        if (name.unit[i] < u'0' || name.unit[i] > u'9') return 0;
        v = v * 10 + (name.unit[i] - u'0');
    }
    return v;
}

bool namesRemoved(const Plan& plan, const Text& klid) {
    for (size_t i = 0; i < plan.removedCount; ++i)
        if (plan.removed[i].sameName(klid)) return true;
    return false;
}

// Whether a Preload entry's data means one of the removed layouts, directly or
// through a substitute id.
bool preloadNamesRemoved(const Plan& plan, const List<NamedValue>& substitutes, const Text& data) {
    if (namesRemoved(plan, data)) return true;
    for (size_t i = 0; i < substitutes.count; ++i)
        if (substitutes.items[i].name.sameName(data) && namesRemoved(plan, substitutes.items[i].data)) return true;
    return false;
}

// Whether a Preload entry's data means `klid`, directly or through a substitute.
bool namesKlid(const UserSnapshot& user, const Text& data, const Text& klid) {
    if (data.sameName(klid)) return true;
    for (size_t i = 0; i < user.substitutes.count; ++i)
        if (user.substitutes.items[i].name.sameName(data) && user.substitutes.items[i].data.sameName(klid)) return true;
    return false;
}

}  // namespace

bool parseLanguage(const Text& text, uint16_t& language) {
    if (text.cut || text.length != 4) return false;
    uint32_t v = 0;
    for (uint16_t i = 0; i < 4; ++i) {
        const int d = hexDigit(text.unit[i]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    // The low 10 bits are the primary language; 0 names none.
    if ((v & 0x3FF) == 0) return false;
    language = static_cast<uint16_t>(v);
    return true;
}

bool parseLayoutId(const Text& text, uint32_t& id) {
    if (text.cut) return false;
    uint16_t begin = 0, end = text.length;
    while (begin < end && (text.unit[begin] == u' ' || text.unit[begin] == u'\t')) ++begin;
    while (end > begin && (text.unit[end - 1] == u' ' || text.unit[end - 1] == u'\t')) --end;
    if (end == begin || end - begin > 8) return false;
    uint32_t v = 0;
    for (uint16_t i = begin; i < end; ++i) {
        const int d = hexDigit(text.unit[i]);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    id = v;
    return true;
}

void planInstall(const Snapshot& snapshot, const Identity& identity, uint16_t language, Plan& plan) {
    reset(plan);
    const List<LayoutKey>& keys = snapshot.layouts;
    if (snapshot.layouts.overflow) {
        fail(plan, Status::TooManyLayouts);
        return;
    }
    const Text& ourFile = identity.layoutFile;

    // Our key: a marked key of this language, else any marked key, else a
    // key someone made by hand for our file and this language.
    const LayoutKey* own = nullptr;
    for (size_t i = 0; i < keys.count && !own; ++i)
        if (keys.items[i].marked && isLanguageOf(keys.items[i].name, language)) own = &keys.items[i];
    for (size_t i = 0; i < keys.count && !own; ++i)
        if (keys.items[i].marked) own = &keys.items[i];
    bool adopted = false;
    for (size_t i = 0; i < keys.count && !own; ++i)
        if (keys.items[i].layoutFile.sameName(ourFile) && customPrefix(keys.items[i].name, language) >= 0) {
            own = &keys.items[i];
            adopted = true;
        }

    // What the other keys hold.
    Bits4096 usedIds, usedPrefixes;
    for (size_t i = 0; i < keys.count; ++i) {
        const LayoutKey& k = keys.items[i];
        uint32_t id;
        if (&k != own && parseLayoutId(k.layoutId, id) && id <= kLayoutIdMax) usedIds.set(id);
        const int prefix = customPrefix(k.name, language);
        if (prefix >= 0) usedPrefixes.set(static_cast<uint32_t>(prefix));
    }

    // Every other key of ours goes: one key per layout.
    for (size_t i = 0; i < keys.count; ++i)
        if (keys.items[i].marked && &keys.items[i] != own && !removeKey(plan, keys.items[i].name)) return;

    // With no key of ours, the record's KLID when no other key holds it.
    const int keptPrefix = own ? -1 : customPrefix(snapshot.keptKlid, language);
    const bool restored = keptPrefix >= 0 && !usedPrefixes.has(static_cast<uint32_t>(keptPrefix));

    const bool keep = own && isLanguageOf(own->name, language);
    if (keep) {
        plan.klid = own->name;
        plan.outcome = adopted ? Outcome::Adopted : Outcome::Reused;
    } else if (restored) {
        plan.klid = snapshot.keptKlid;
        plan.outcome = Outcome::Restored;
    } else {
        uint32_t prefix = 0;
        while (prefix < kKlidPrefixCount && usedPrefixes.has(prefix)) ++prefix;
        if (prefix == kKlidPrefixCount) {
            fail(plan, Status::NoFreeKlid);
            return;
        }
        plan.klid = hexText(0xA0000000u | prefix << 16 | language, 8);
        plan.outcome = own ? Outcome::Moved : Outcome::Fresh;
        if (own && !removeKey(plan, own->name)) return;
    }

    // The Layout Id stays (or comes back with a restored key) unless another
    // key has taken it since.
    const Text* idBefore = own ? &own->layoutId : restored ? &snapshot.keptLayoutId : nullptr;
    uint32_t id = 0;
    const bool idKept =
        idBefore && parseLayoutId(*idBefore, id) && id >= 1 && id <= kLayoutIdMax && !usedIds.has(id);
    if (!idKept && !chooseLayoutId(usedIds, id)) {
        fail(plan, Status::NoFreeLayoutId);
        return;
    }
    plan.layoutId = id;

    // The values, each written only when it differs; the marker last, so a key
    // is ours only once it is complete.
    struct Wanted {
        Text        name;
        Text        data;
        const Text* now;
    };
    const Wanted wanted[] = {
        {Text::ascii(kValueLayoutFile), ourFile, keep ? &own->layoutFile : nullptr},
        {Text::ascii(kValueLayoutText), identity.layoutText, keep ? &own->layoutText : nullptr},
        {Text::ascii(kValueLayoutId), hexText(id, 4), keep ? &own->layoutId : nullptr},
        {identity.marker, identity.version, keep && own->marked ? &own->marker : nullptr},
    };
    for (const Wanted& w : wanted)
        if ((!w.now || *w.now != w.data) && !add(plan, OpKind::SetValue, Where::Layouts, plan.klid, w.name, w.data))
            return;
}

void planUninstall(const Snapshot& snapshot, Plan& plan) {
    reset(plan);
    if (snapshot.layouts.overflow) {
        fail(plan, Status::TooManyLayouts);
        return;
    }
    plan.outcome = Outcome::Removed;
    for (size_t i = 0; i < snapshot.layouts.count; ++i)
        if (snapshot.layouts.items[i].marked && !removeKey(plan, snapshot.layouts.items[i].name)) return;
    if (plan.removedCount == 0) fail(plan, Status::NotInstalled);
}

void planUserCleanup(const UserSnapshot& user, Plan& plan) {
    if (plan.status != Status::Ok || plan.removedCount == 0) return;
    const Text none;

    for (size_t i = 0; i < user.substitutes.count; ++i) {
        const NamedValue& s = user.substitutes.items[i];
        if (namesRemoved(plan, s.data) && !add(plan, OpKind::DeleteValue, Where::Substitutes, none, s.name, none))
            return;
    }

    // The numbered entries in order, without those of the removed layouts,
    // numbered again from 1. Nothing changes when none of them is ours.
    const List<NamedValue>& preload = user.preload;
    bool anyRemoved = false;
    for (size_t i = 0; i < preload.count; ++i)
        if (preloadNumber(preload.items[i].name) != 0 &&
            preloadNamesRemoved(plan, user.substitutes, preload.items[i].data))
            anyRemoved = true;
    if (!anyRemoved) return;

    // The value now stored under a number, or null.
    auto at = [&](uint32_t number) -> const NamedValue* {
        for (size_t i = 0; i < preload.count; ++i)
            if (preloadNumber(preload.items[i].name) == number) return &preload.items[i];
        return nullptr;
    };

    uint32_t kept = 0, last = 0;
    for (;;) {
        // The next entry by number: each pass takes the smallest above `last`.
        const NamedValue* next = nullptr;
        uint32_t nextNumber = 0;
        for (size_t i = 0; i < preload.count; ++i) {
            const uint32_t n = preloadNumber(preload.items[i].name);
            if (n > last && (next == nullptr || n < nextNumber)) {
                next = &preload.items[i];
                nextNumber = n;
            }
        }
        if (!next) break;
        last = nextNumber;
        if (preloadNamesRemoved(plan, user.substitutes, next->data)) continue;
        ++kept;
        const NamedValue* current = at(kept);
        if ((!current || current->data != next->data) &&
            !add(plan, OpKind::SetValue, Where::Preload, none, decimalText(kept), next->data))
            return;
    }
    for (size_t i = 0; i < preload.count; ++i) {
        const uint32_t n = preloadNumber(preload.items[i].name);
        if (n > kept && !add(plan, OpKind::DeleteValue, Where::Preload, none, preload.items[i].name, none)) return;
    }
}

bool klidLanguage(const Text& klid, uint16_t& language) {
    uint32_t v;
    if (!parseKlid(klid, v)) return false;
    language = static_cast<uint16_t>(v & 0xFFFF);
    return true;
}

bool firstLanguage(const UserSnapshot& user, uint16_t& language) {
    const NamedValue* first = nullptr;
    uint32_t lowest = 0;
    for (size_t i = 0; i < user.preload.count; ++i) {
        const uint32_t n = preloadNumber(user.preload.items[i].name);
        uint32_t klid;
        if (n != 0 && (first == nullptr || n < lowest) && parseKlid(user.preload.items[i].data, klid)) {
            first = &user.preload.items[i];
            lowest = n;
        }
    }
    if (!first) return false;
    const Text digits = Text::of(first->data.unit + 4, 4);
    return parseLanguage(digits, language);
}

void planUserAdd(const UserSnapshot& user, const Text& klid, uint16_t language, Plan& plan) {
    if (plan.status != Status::Ok) return;
    uint32_t value;
    if (!parseKlid(klid, value)) return;
    const Text none;

    // Already listed, directly or through a substitute, under any language?
    uint32_t highest = 0;
    for (size_t i = 0; i < user.preload.count; ++i) {
        const uint32_t n = preloadNumber(user.preload.items[i].name);
        if (n == 0) continue;
        if (n > highest) highest = n;
        if (namesKlid(user, user.preload.items[i].data, klid)) return;
    }

    // The entry: the KLID itself when it is a base layout's of this language,
    // else a substitute id of the language, reusing one that already names the KLID.
    Text entry = klid;
    if (value != language) {
        const Text* existing = nullptr;
        for (size_t i = 0; i < user.substitutes.count && !existing; ++i) {
            const NamedValue& s = user.substitutes.items[i];
            uint32_t id;
            if (s.data.sameName(klid) && parseKlid(s.name, id) && (id & 0xFFFF) == language) existing = &s.name;
        }
        if (existing) {
            entry = *existing;
        } else {
            // d001LLLL, d002LLLL, ...: the first not yet a substitute or a Preload entry.
            auto taken = [&](const Text& id) {
                for (size_t i = 0; i < user.substitutes.count; ++i)
                    if (user.substitutes.items[i].name.sameName(id)) return true;
                for (size_t i = 0; i < user.preload.count; ++i)
                    if (user.preload.items[i].data.sameName(id)) return true;
                return false;
            };
            uint32_t n = 1;
            while (n < kKlidPrefixCount && taken(hexText(0xD0000000u | n << 16 | language, 8))) ++n;
            if (n == kKlidPrefixCount) {
                fail(plan, Status::NoFreeKlid);
                return;
            }
            entry = hexText(0xD0000000u | n << 16 | language, 8);
            if (!add(plan, OpKind::SetValue, Where::Substitutes, none, entry, klid)) return;
        }
    }
    add(plan, OpKind::SetValue, Where::Preload, none, decimalText(highest + 1), entry);
}

uint16_t listLanguage(const UserSnapshot& user, const Text& klid, bool languageFixed) {
    uint16_t language = 0;
    if (!klidLanguage(klid, language)) return 0;
    uint16_t first = 0;
    if (!languageFixed && firstLanguage(user, first)) return first;
    return language;
}

Text layoutOrTipText(uint16_t language, const Text& klid) {
    uint32_t value;
    if (!parseKlid(klid, value)) return Text{};
    const Text l = hexText(language, 4), k = hexText(value, 8);
    Text t;
    for (uint16_t i = 0; i < 4; ++i) t.unit[t.length++] = l.unit[i];
    t.unit[t.length++] = u':';
    for (uint16_t i = 0; i < 8; ++i) t.unit[t.length++] = k.unit[i];
    for (uint16_t i = 0; i < t.length; ++i)
        if (t.unit[i] >= u'a' && t.unit[i] <= u'f') t.unit[i] = static_cast<char16_t>(t.unit[i] - 32);
    return t;
}

size_t removalLanguages(const UserSnapshot& user, const Text& klid, bool languageFixed,
                        uint16_t out[kMaxListLanguages], size_t& listed) {
    size_t n = 0;
    auto put = [&](uint16_t language) {
        for (size_t i = 0; i < n; ++i)
            if (out[i] == language) return;
        if (n < kMaxListLanguages) out[n++] = language;
    };
    listed = 0;
    uint16_t own = 0;
    if (!klidLanguage(klid, own)) return 0;
    put(listLanguage(user, klid, languageFixed));
    for (size_t i = 0; i < user.preload.count; ++i) {
        const NamedValue& entry = user.preload.items[i];
        uint32_t id;
        if (preloadNumber(entry.name) != 0 && parseKlid(entry.data, id) && namesKlid(user, entry.data, klid))
            put(static_cast<uint16_t>(id & 0xFFFF));
    }
    listed = n;
    put(own);
    return n;
}

bool sameAccount(const AccountName& own, const AccountName& session) {
    return own.known && session.known && !own.user.empty() && !own.user.cut && !own.domain.cut &&
           !session.user.cut && !session.domain.cut && own.user.sameName(session.user) &&
           own.domain.sameName(session.domain);
}

const char* describe(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::BadLanguage: return "the language must be a LANGID of 4 hex digits, such as 0409";
    case Status::NoFreeKlid: return "every keyboard layout id from a000 to afff of this language is taken";
    case Status::NoFreeLayoutId: return "every Layout Id up to 0fff is taken by another layout";
    case Status::TooManyLayouts: return "too many keyboard layouts are registered for the setup to check them all";
    case Status::TooManyChanges: return "the registry needs more changes than the setup can make at once";
    case Status::NotInstalled: return "the layout is not installed";
    }
    return "unknown failure";
}

size_t placeImages(Machine native, Placement out[2]) {
    switch (native) {
    case Machine::X86: out[0] = {Folder::System32, Image::X86}; return 1;
    case Machine::X64: out[0] = {Folder::System32, Image::X64}; break;
    case Machine::Arm64: out[0] = {Folder::System32, Image::Arm64}; break;
    }
    out[1] = {Folder::SysWow64, Image::Wow64};
    return 2;
}

}  // namespace setup
