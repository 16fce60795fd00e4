// The setup's planner against registries a Windows machine may have: a stock
// table, other custom layouts, odd values, full ranges. Plans are applied to a
// small in-memory registry, so reinstall and uninstall are checked by what
// the registry holds afterwards, not by the list of operations alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../../installer/plan.h"

using namespace setup;

namespace {

std::u16string lowered(std::u16string s) {
    for (auto& c : s) c = Text::lower(c);
    return s;
}

std::u16string str(const Text& t) { return std::u16string(t.unit, t.length); }

// The identity the setup reads from its resource; ours, at `version`.
Identity ourIdentity(const std::string& version = "1.0.3.13") {
    const std::string record = "File=kbdQelvo.dll\nText=Qelvo Keyboard Layout\nMarker=Qelvo Setup\nVersion=" + version +
                               "\nPublisher=The kbdQelvo developers\nActiveSetup={6F3C29A4-8B1D-4E57-A0C2-5D94E7B1F038}\n";
    Identity id;
    EXPECT_EQ(parseIdentity(reinterpret_cast<const unsigned char*>(record.data()), record.size(), id), nullptr);
    return id;
}
const Identity kOurs = ourIdentity();

Text text(const std::u16string& s) { return Text::of(s.data(), s.size()); }

// Registry names compare without regard to case; the map keeps the spelling
// a key was created with.
struct NoCase {
    bool operator()(const std::u16string& a, const std::u16string& b) const { return lowered(a) < lowered(b); }
};
using Values = std::map<std::u16string, std::u16string, NoCase>;

struct Registry {
    std::map<std::u16string, Values, NoCase> layouts;
    Values preload, substitutes;

    bool operator==(const Registry& o) const {
        return layouts == o.layouts && preload == o.preload && substitutes == o.substitutes;
    }

    // The snapshot the reader of a setup with `marker` would take.
    std::vector<LayoutKey> keyStorage;
    Snapshot snapshot(const Text& marker = kOurs.marker) {
        keyStorage.clear();
        for (const auto& [name, values] : layouts) {
            LayoutKey k;
            k.name = text(name);
            auto get = [&](const char* v) {
                auto it = values.find(std::u16string(Text::ascii(v).unit));
                return it == values.end() ? Text{} : text(it->second);
            };
            k.layoutFile = get(kValueLayoutFile);
            k.layoutText = get(kValueLayoutText);
            k.layoutId = get(kValueLayoutId);
            k.marked = values.count(str(marker)) != 0;
            k.marker = k.marked ? text(values.at(str(marker))) : Text{};
            keyStorage.push_back(k);
        }
        Snapshot s;
        s.layouts.items = keyStorage.data();
        s.layouts.count = keyStorage.size();
        return s;
    }
    std::vector<NamedValue> preloadStorage, substituteStorage;
    UserSnapshot user() {
        auto fill = [](const Values& from, std::vector<NamedValue>& to) {
            to.clear();
            for (const auto& [n, d] : from) to.push_back({text(n), text(d)});
        };
        fill(preload, preloadStorage);
        fill(substitutes, substituteStorage);
        UserSnapshot u;
        u.preload = {preloadStorage.data(), preloadStorage.size()};
        u.substitutes = {substituteStorage.data(), substituteStorage.size()};
        return u;
    }

    void apply(const Plan& plan) {
        ASSERT_EQ(plan.status, Status::Ok) << describe(plan.status);
        for (size_t i = 0; i < plan.opCount; ++i) {
            const Op& op = plan.ops[i];
            Values& where = op.where == Where::Preload       ? preload
                            : op.where == Where::Substitutes ? substitutes
                                                             : layouts[str(op.key)];
            switch (op.kind) {
            case OpKind::SetValue: where[str(op.name)] = str(op.data); break;
            case OpKind::DeleteValue: ASSERT_EQ(where.erase(str(op.name)), 1u); break;
            case OpKind::DeleteKey: ASSERT_EQ(layouts.erase(str(op.key)), 1u); break;
            }
        }
    }

    void add(const std::u16string& klid, const std::u16string& layoutId, const std::u16string& file = u"kbdus.dll") {
        Values& v = layouts[klid];
        v[u"Layout File"] = file;
        v[u"Layout Text"] = u"Some layout";
        if (!layoutId.empty()) v[u"Layout Id"] = layoutId;
    }
};

std::u16string hex(uint32_t v, unsigned digits) { return str(hexText(v, digits)); }

// A Windows 11-like table: a base layout per language without a Layout Id,
// variants numbered 0001.. up to 00d0, a few higher ones, IME keys.
Registry stockRegistry() {
    Registry r;
    const uint16_t languages[] = {0x0401, 0x0402, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040b, 0x040c,
                                  0x040d, 0x040e, 0x040f, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416,
                                  0x0418, 0x0419, 0x041a, 0x041b, 0x041c, 0x041d, 0x041e, 0x041f, 0x0420, 0x0422,
                                  0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0429, 0x042a, 0x042b, 0x042c, 0x042f,
                                  0x0437, 0x0438, 0x0439, 0x043a, 0x043f, 0x0440, 0x0442, 0x0444, 0x0445, 0x0446,
                                  0x0447, 0x0448, 0x0449, 0x044a, 0x044b, 0x044c, 0x044d, 0x044e, 0x0450, 0x0451,
                                  0x0452, 0x0453, 0x0454, 0x045a, 0x045b, 0x0461, 0x0463, 0x0465, 0x0468, 0x046a,
                                  0x046c, 0x046d, 0x046e, 0x046f, 0x0474, 0x0480, 0x0481, 0x0485, 0x0488, 0x0804,
                                  0x0807, 0x0809, 0x080a, 0x080c, 0x0813, 0x0816, 0x081a, 0x0c0c, 0x0c1a, 0x1009,
                                  0x100c, 0x1809, 0x201a, 0x0850, 0x085d, 0x085f, 0x0c51, 0x0843, 0x0492};
    uint32_t id = 1;
    for (uint16_t lang : languages) {
        r.add(hex(lang, 8), u"");
        for (uint32_t variant = 1; variant <= 3 && id <= 0xD0; ++variant)
            r.add(hex(variant << 16 | lang, 8), hex(id++, 4));
    }
    r.add(u"00020409", u"00D1");      // ids past 00d0, one in upper case
    r.add(u"00030409", u"00e5");
    r.add(u"00110c00", u"00DA");
    Values& ime = r.layouts[u"E0010411"];
    ime[u"Ime File"] = u"imjp14.ime";
    ime[u"Layout File"] = u"kbdjpn.dll";
    ime[u"Layout Text"] = u"Japanese IME";
    r.layouts[u"e0200804"][u"Layout File"] = u"kbdus.dll";
    return r;
}

Plan install(Registry& r, uint16_t language = 0x0409, const Identity& identity = kOurs) {
    Plan plan;
    planInstall(r.snapshot(), identity, language, plan);
    return plan;
}

// The Layout Id of the key carrying our marker is held by no other key.
void expectOurLayoutIdUnique(Registry& r) {
    std::map<uint32_t, int> holders;
    uint32_t ours = 0;
    for (const auto& [name, values] : r.layouts) {
        auto it = values.find(u"Layout Id");
        uint32_t id;
        if (it == values.end() || !parseLayoutId(text(it->second), id) || id > kLayoutIdMax) continue;
        ++holders[id];
        if (values.count(u"Qelvo Setup")) ours = id;
    }
    ASSERT_NE(ours, 0u) << "no key of ours with a Layout Id";
    EXPECT_EQ(holders[ours], 1) << "Layout Id " << std::hex << ours << " is also another layout's";
}

std::string ascii(const Text& t) { return std::string(t.unit, t.unit + t.length); }

}  // namespace

// ---- A new install ---------------------------------------------------------------

TEST(SetupPlan, StockTableGetsTheFirstCustomKlidAndANewLayoutIdAboveAllOthers) {
    Registry r = stockRegistry();
    ASSERT_GT(r.layouts.size(), 200u);
    const Registry before = r;
    const Plan plan = install(r);
    ASSERT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(plan.outcome, Outcome::Fresh);
    EXPECT_EQ(ascii(plan.klid), "a0000409");
    EXPECT_EQ(plan.layoutId, 0xE6u);
    r.apply(plan);

    // One key more; the others exactly as they were.
    ASSERT_EQ(r.layouts.size(), before.layouts.size() + 1);
    for (const auto& [name, values] : before.layouts) EXPECT_EQ(r.layouts.at(name), values);
    const Values& ours = r.layouts.at(u"a0000409");
    EXPECT_EQ(ours, (Values{{u"Layout File", u"kbdQelvo.dll"},
                            {u"Layout Text", u"Qelvo Keyboard Layout"},
                            {u"Layout Id", u"00e6"},
                            {u"Qelvo Setup", u"1.0.3.13"}}));
    // The marker is written last: a key is known as ours only once complete.
    EXPECT_EQ(str(plan.ops[plan.opCount - 1].name), str(kOurs.marker));
    expectOurLayoutIdUnique(r);
}

TEST(SetupPlan, OtherCustomLayoutsKeepTheirKlidsWhateverTheirCase) {
    Registry r = stockRegistry();
    r.add(u"a0000409", u"00f8", u"kbdother.dll");   // a foreign layout at the usual first KLID
    r.add(u"A0010409", u"00D0");                    // upper case, and a Layout Id the stock table has
    r.add(u"a0020407", u"0100");                    // another language's KLIDs do not count
    const Plan plan = install(r);
    ASSERT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(ascii(plan.klid), "a0020409");
    EXPECT_EQ(plan.layoutId, 0x101u);
    r.apply(plan);
    expectOurLayoutIdUnique(r);
    EXPECT_EQ(r.layouts.at(u"a0000409").at(u"Layout File"), u"kbdother.dll");

    Plan german;
    planInstall(r.snapshot(), kOurs, 0x0407, german);
    EXPECT_EQ(ascii(german.klid), "a0000407");
}

TEST(SetupPlan, LayoutIdValuesThatAreNotNumbersAreSkippedAndPaddedOnesCount) {
    Registry r;
    r.add(u"00000409", u"");
    r.add(u"00010409", u"zz12");           // not hex
    r.add(u"00020409", u"0x0200");         // not as the system writes it
    r.add(u"00030409", u" 00f8 ");         // blanks around hex digits
    r.add(u"00040409", u"000000000000a0"); // too many digits
    r.add(u"00050409", u"");
    r.layouts[u"00050409"][u"Layout Id"] = u"";
    r.add(u"00060409", u"ffff");           // above what the system reads
    r.add(u"00070409", u"1000");
    const Plan plan = install(r);
    ASSERT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(plan.layoutId, 0xF9u);

    uint32_t id = 0;
    EXPECT_TRUE(parseLayoutId(Text::ascii("00C0"), id));
    EXPECT_EQ(id, 0xC0u);
    EXPECT_FALSE(parseLayoutId(Text::ascii(" "), id));
    EXPECT_FALSE(parseLayoutId(Text::ascii("00c0 00c1"), id));
}

TEST(SetupPlan, LayoutIdsNearTheLimitUseTheHighestFreeOneBelowIt) {
    Registry r = stockRegistry();
    r.add(u"a0000407", u"0ffe");
    EXPECT_EQ(install(r).layoutId, 0xFFFu);

    r.add(u"a0010407", u"0fff");
    EXPECT_EQ(install(r).layoutId, 0xFFDu);

    // Every id up to 0x0FFF taken: refused, nothing to do.
    Registry full;
    for (uint32_t id = 1; id <= kLayoutIdMax; ++id) full.add(hex(0xB0000000u | id, 8), hex(id, 4));
    Plan plan = install(full);
    EXPECT_EQ(plan.status, Status::NoFreeLayoutId);
    EXPECT_EQ(plan.opCount, 0u);
    full.layouts.erase(hex(0xB0000000u | 0x345, 8));
    plan = install(full);
    EXPECT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(plan.layoutId, 0x345u);
}

TEST(SetupPlan, AFullRangeOfCustomKlidsIsRefusedForThatLanguageOnly) {
    Registry r = stockRegistry();
    for (uint32_t prefix = 0; prefix < kKlidPrefixCount; ++prefix) {
        Values& v = r.layouts[hex(0xA0000000u | prefix << 16 | 0x0409, 8)];
        v[u"Layout File"] = u"kbdx.dll";   // no Layout Ids: only the KLIDs are full
    }
    Plan plan = install(r);
    EXPECT_EQ(plan.status, Status::NoFreeKlid);
    EXPECT_EQ(plan.opCount, 0u);
    EXPECT_NE(std::string(describe(plan.status)).find("a000"), std::string::npos);

    EXPECT_EQ(ascii(install(r, 0x0809).klid), "a0000809");
    r.layouts.erase(u"a7ff0409");
    EXPECT_EQ(ascii(install(r).klid), "a7ff0409");
}

TEST(SetupPlan, ASnapshotThatDidNotFitIsRefused) {
    Registry r = stockRegistry();
    Snapshot s = r.snapshot();
    s.layouts.overflow = true;
    Plan plan;
    planInstall(s, kOurs, 0x0409, plan);
    EXPECT_EQ(plan.status, Status::TooManyLayouts);
    planUninstall(s, plan);
    EXPECT_EQ(plan.status, Status::TooManyLayouts);
}

TEST(SetupPlan, LanguageIsFourHexDigits) {
    uint16_t lang = 0;
    EXPECT_TRUE(parseLanguage(Text::ascii("0409"), lang));
    EXPECT_EQ(lang, 0x0409);
    EXPECT_TRUE(parseLanguage(Text::ascii("0C0c"), lang));
    EXPECT_EQ(lang, 0x0C0C);
    for (const char* bad : {"409", "04090", "0x09", "0000", "0400", "g409", ""})
        EXPECT_FALSE(parseLanguage(Text::ascii(bad), lang)) << bad;
}

// ---- Installing again ------------------------------------------------------------

TEST(SetupPlan, ASecondInstallFindsItsKeyAndChangesNothing) {
    Registry r = stockRegistry();
    r.add(u"a0000409", u"00f8", u"kbdother.dll");
    r.apply(install(r));
    const Registry once = r;

    const Plan again = install(r);
    ASSERT_EQ(again.status, Status::Ok);
    EXPECT_EQ(again.outcome, Outcome::Reused);
    EXPECT_EQ(ascii(again.klid), "a0010409");
    EXPECT_EQ(again.layoutId, 0xF9u);
    EXPECT_EQ(again.opCount, 0u);

    // An upgrade rewrites the marker and nothing else.
    const Plan upgrade = install(r, 0x0409, ourIdentity("1.0.4.0"));
    ASSERT_EQ(upgrade.opCount, 1u);
    EXPECT_EQ(str(upgrade.ops[0].name), str(kOurs.marker));
    r.apply(upgrade);
    EXPECT_EQ(r.layouts.size(), once.layouts.size());
}

TEST(SetupPlan, ReinstallTakesANewLayoutIdWhenAnotherLayoutTookOurs) {
    Registry r = stockRegistry();
    r.apply(install(r));
    r.add(u"a0010409", u"00e6", u"kbdother.dll");   // installed later, with our id
    const Plan plan = install(r);
    EXPECT_EQ(plan.outcome, Outcome::Reused);
    EXPECT_EQ(ascii(plan.klid), "a0000409");
    EXPECT_EQ(plan.layoutId, 0xE7u);
    ASSERT_EQ(plan.opCount, 1u);
    EXPECT_EQ(ascii(plan.ops[0].name), kValueLayoutId);
    r.apply(plan);
    expectOurLayoutIdUnique(r);
}

TEST(SetupPlan, ReinstallForAnotherLanguageMovesTheKeyAndKeepsOneKey) {
    Registry r = stockRegistry();
    r.apply(install(r));
    const Plan plan = install(r, 0x0407);
    ASSERT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(plan.outcome, Outcome::Moved);
    EXPECT_EQ(ascii(plan.klid), "a0000407");
    EXPECT_EQ(plan.layoutId, 0xE6u);
    ASSERT_EQ(plan.removedCount, 1u);
    EXPECT_EQ(ascii(plan.removed[0]), "a0000409");
    r.apply(plan);
    EXPECT_EQ(r.layouts.count(u"a0000409"), 0u);
    EXPECT_EQ(r.layouts.at(u"a0000407").at(u"Qelvo Setup"), u"1.0.3.13");
}

TEST(SetupPlan, AMissingRegistrationComesBackWithTheRecordedKlidAndLayoutIdWhileTheyAreFree) {
    Registry r = stockRegistry();
    r.add(u"a0000409", u"00f8", u"kbdother.dll");
    r.apply(install(r));
    const Values ours = r.layouts.at(u"a0010409");
    // The key goes (as a feature update drops it); a layout installed since
    // holds the id that would come next.
    r.layouts.erase(u"a0010409");
    r.add(u"00050409", u"00fa");
    auto repair = [&](Registry& reg) {
        Snapshot s = reg.snapshot();
        s.keptKlid = Text::ascii("a0010409");
        s.keptLayoutId = Text::ascii("00f9");
        Plan plan;
        planInstall(s, kOurs, 0x0409, plan);
        return plan;
    };
    Registry back = r;
    const Plan plan = repair(back);
    EXPECT_EQ(plan.outcome, Outcome::Restored);
    back.apply(plan);
    EXPECT_EQ(back.layouts.at(u"a0010409"), ours);

    // Another layout took the KLID and the id meanwhile: a new key as on a first install.
    r.add(u"a0010409", u"00f9", u"kbdthird.dll");
    const Plan fresh = repair(r);
    EXPECT_EQ(fresh.outcome, Outcome::Fresh);
    EXPECT_EQ(ascii(fresh.klid), "a0020409");
    EXPECT_EQ(fresh.layoutId, 0xFBu);
}

TEST(SetupPlan, AddingToAUserListUsesAFreeSubstituteOnceAndUninstallTakesItOutAgain) {
    Registry r = stockRegistry();
    r.apply(install(r));
    r.preload = {{u"1", u"00000409"}, {u"2", u"d0010409"}, {u"4", u"00000407"}};
    r.substitutes = {{u"d0010409", u"00010409"}};
    const Registry before = r;

    Plan plan;
    planUserAdd(r.user(), Text::ascii("a0000409"), 0x0409, plan);
    r.apply(plan);
    EXPECT_EQ(r.substitutes.at(u"d0020409"), u"a0000409");
    EXPECT_EQ(r.preload.at(u"5"), u"d0020409");
    Plan again, base;
    planUserAdd(r.user(), Text::ascii("A0000409"), 0x0409, again);   // listed already, in any case
    EXPECT_EQ(again.opCount, 0u);
    planUserAdd(r.user(), Text::ascii("00000809"), 0x0809, base);    // a base layout needs no substitute
    ASSERT_EQ(base.opCount, 1u);
    EXPECT_EQ(base.ops[0].where, Where::Preload);
    EXPECT_EQ(ascii(base.ops[0].data), "00000809");

    // Uninstall: the substitute goes, and the numbering closes up as it does for any gap.
    planUninstall(r.snapshot(), plan);
    planUserCleanup(r.user(), plan);
    r.apply(plan);
    EXPECT_EQ(r.preload, (Values{{u"1", u"00000409"}, {u"2", u"d0010409"}, {u"3", u"00000407"}}));
    EXPECT_EQ(r.substitutes, before.substitutes);
}

// A user whose first language is German gets our 0409 layout under German:
// no second language. With the language fixed, under the KLID's. Taking it
// out names every language it may be listed under; a rollback lists it again
// only under those it was listed under.
TEST(SetupPlan, AUserGetsTheLayoutUnderTheirFirstLanguageUnlessTheLanguageIsFixed) {
    Registry r;
    const Text ours = Text::ascii("a0010409");
    r.preload = {{u"1", u"00000407"}, {u"2", u"00000409"}};
    EXPECT_EQ(ascii(layoutOrTipText(listLanguage(r.user(), ours, false), ours)), "0407:A0010409");
    EXPECT_EQ(ascii(layoutOrTipText(listLanguage(r.user(), ours, true), ours)), "0409:A0010409");
    r.preload = {{u"1", u"00000407"}};
    Plan plan;
    planUserAdd(r.user(), ours, listLanguage(r.user(), ours, false), plan);
    r.apply(plan);
    EXPECT_EQ(r.preload, (Values{{u"1", u"00000407"}, {u"2", u"d0010407"}}));
    EXPECT_EQ(r.substitutes, (Values{{u"d0010407", u"a0010409"}}));
    Plan usBase;   // a base layout of another language needs a substitute too
    planUserAdd(Registry{}.user(), Text::ascii("00000409"), 0x0407, usBase);
    ASSERT_EQ(usBase.opCount, 2u);
    EXPECT_EQ(ascii(usBase.ops[0].name), "d0010407");

    uint16_t languages[kMaxListLanguages];
    size_t listed = 0;
    ASSERT_EQ(removalLanguages(r.user(), ours, false, languages, listed), 2u);
    EXPECT_EQ(listed, 1u);
    EXPECT_EQ(languages[0], 0x0407);
    EXPECT_EQ(languages[1], 0x0409);
    // Fixed to 0409 but listed under 0407 (the user moved it): both are listed.
    ASSERT_EQ(removalLanguages(r.user(), ours, true, languages, listed), 2u);
    EXPECT_EQ(listed, 2u);
    r.preload.clear();
    EXPECT_EQ(removalLanguages(r.user(), Text::ascii("not a klid"), false, languages, listed), 0u);
    EXPECT_TRUE(layoutOrTipText(0x0409, Text::ascii("a001040")).empty());
}

// The person at the desk is the session's user; anything unknown or cut
// short counts as another account (fails closed).
TEST(SetupPlan, OnlyTheSessionsOwnUserIsTheSameAccount) {
    auto account = [](const char* user, const char* domain, bool known = true) {
        AccountName a;
        a.user = Text::ascii(user);
        a.domain = Text::ascii(domain);
        a.known = known;
        return a;
    };
    const AccountName me = account("Ada", "PC-7");
    EXPECT_TRUE(sameAccount(me, account("ADA", "pc-7")));
    EXPECT_FALSE(sameAccount(me, account("Admin", "PC-7")));
    EXPECT_FALSE(sameAccount(me, account("Ada", "CORP")));
    EXPECT_FALSE(sameAccount(me, account("", "")));   // no one signed in: a service's session
    EXPECT_FALSE(sameAccount(me, account("Ada", "PC-7", false)));
    EXPECT_FALSE(sameAccount(account("Ada", "PC-7", false), me));
    const char* longName = "a-user-name-longer-than-any-text-holds";
    EXPECT_FALSE(sameAccount(account(longName, "PC-7"), account(longName, "PC-7")));
}

TEST(SetupPlan, TheFirstLanguageIsThatOfTheLowestNumberedKeyboard) {
    Registry r;
    uint16_t language = 0;
    EXPECT_FALSE(firstLanguage(r.user(), language));
    r.preload = {{u"Note", u"00000409"}, {u"3", u"00000409"}, {u"2", u"d0010c0c"}, {u"10", u"00000407"}};
    ASSERT_TRUE(firstLanguage(r.user(), language));
    EXPECT_EQ(language, 0x0C0C);
    r.preload = {{u"1", u"not a klid"}, {u"2", u"00000000"}};
    EXPECT_FALSE(firstLanguage(r.user(), language));
}

TEST(SetupPlan, TwoKeysOfOursBecomeOne) {
    Registry r = stockRegistry();
    r.apply(install(r));
    r.layouts[u"A0010409"] = r.layouts.at(u"a0000409");   // a copy made by hand
    const Plan plan = install(r);
    EXPECT_EQ(plan.outcome, Outcome::Reused);
    ASSERT_EQ(plan.removedCount, 1u);
    r.apply(plan);
    EXPECT_EQ(r.layouts.count(u"a0010409"), 0u);
    EXPECT_EQ(r.layouts.count(u"a0000409"), 1u);
}

TEST(SetupPlan, AKeyMadeByHandForOurFileIsAdoptedNotDuplicated) {
    Registry r = stockRegistry();
    r.add(u"a0000409", u"00c0", u"KBDQELVO.DLL");
    const Plan plan = install(r);
    ASSERT_EQ(plan.status, Status::Ok);
    EXPECT_EQ(plan.outcome, Outcome::Adopted);
    EXPECT_EQ(ascii(plan.klid), "a0000409");
    EXPECT_EQ(plan.layoutId, 0xE6u) << "00c0 is another layout's";
    r.apply(plan);
    EXPECT_EQ(r.layouts.at(u"a0000409").at(u"Layout File"), u"kbdQelvo.dll");
    expectOurLayoutIdUnique(r);
}

// ---- Uninstall ---------------------------------------------------------------------

TEST(SetupPlan, UninstallRemovesOnlyOurKeyAndLeavesTheRegistryAsBefore) {
    Registry r = stockRegistry();
    r.add(u"a0000409", u"00f8", u"kbdother.dll");
    const Registry before = r;
    r.apply(install(r));
    r.apply(install(r));

    Plan plan;
    planUninstall(r.snapshot(), plan);
    ASSERT_EQ(plan.status, Status::Ok);
    ASSERT_EQ(plan.removedCount, 1u);
    EXPECT_EQ(ascii(plan.removed[0]), "a0010409");
    r.apply(plan);
    EXPECT_EQ(r, before);

    planUninstall(r.snapshot(), plan);
    EXPECT_EQ(plan.status, Status::NotInstalled);
    EXPECT_EQ(plan.opCount, 0u);
}

TEST(SetupPlan, UninstallTakesOurEntriesOutOfPreloadAndClosesTheGaps) {
    Registry r = stockRegistry();
    r.apply(install(r));
    r.preload = {{u"1", u"00000409"}, {u"2", u"d0010409"}, {u"3", u"00000407"},
                 {u"4", u"A0000409"}, {u"5", u"d0020409"}, {u"Note", u"a0000409"}};
    r.substitutes = {{u"d0010409", u"A0000409"}, {u"d0020409", u"00010409"}};

    Plan plan;
    planUninstall(r.snapshot(), plan);
    planUserCleanup(r.user(), plan);
    r.apply(plan);
    EXPECT_EQ(r.preload, (Values{{u"1", u"00000409"}, {u"2", u"00000407"}, {u"3", u"d0020409"},
                                 {u"Note", u"a0000409"}}));
    EXPECT_EQ(r.substitutes, (Values{{u"d0020409", u"00010409"}}));
}

TEST(SetupPlan, PreloadWithoutOurLayoutIsLeftAsItIs) {
    Registry r = stockRegistry();
    r.apply(install(r));
    r.preload = {{u"1", u"00000409"}, {u"3", u"00000407"}, {u"07", u"00000809"}};
    r.substitutes = {{u"d0010409", u"00010409"}};
    const Registry before = r;
    Plan plan;
    planUninstall(r.snapshot(), plan);
    const size_t layoutOps = plan.opCount;
    planUserCleanup(r.user(), plan);
    EXPECT_EQ(plan.opCount, layoutOps);

    // Only ours in a numbering that had gaps: the rest closes up.
    r.preload = {{u"2", u"a0000409"}, {u"3", u"00000407"}, {u"9", u"00000809"}};
    planUninstall(r.snapshot(), plan);
    planUserCleanup(r.user(), plan);
    r.apply(plan);
    EXPECT_EQ(r.preload, (Values{{u"1", u"00000407"}, {u"2", u"00000809"}}));
}

// Two layouts' setups on one machine: each knows only its own key by its
// marker, so installing, upgrading and removing one leaves the other as it was.
TEST(SetupPlan, AnotherLayoutsSetupKeepsToItsOwnKey) {
    const std::string record = "File=kbdOther.dll\r\nText=Übrige Tastatur\r\nMarker=Other Setup\r\nVersion=2.0.0.1\r\n"
                               "Publisher=Someone else\r\nActiveSetup={00000000-1111-2222-3333-444444444444}\r\n"
                               "Language=0407\r\n";
    Identity other;
    ASSERT_EQ(parseIdentity(reinterpret_cast<const unsigned char*>(record.data()), record.size(), other), nullptr);
    EXPECT_EQ(str(other.name), u"kbdOther");
    EXPECT_EQ(other.language, 0x0407);

    Registry r = stockRegistry();
    r.apply(install(r));
    const auto ours = r.layouts.at(u"a0000409");
    Plan plan;
    planInstall(r.snapshot(other.marker), other, 0x0409, plan);
    r.apply(plan);
    EXPECT_EQ(ascii(plan.klid), "a0010409");
    EXPECT_EQ(r.layouts.at(u"a0010409").at(u"Layout Text"), u"Übrige Tastatur");
    EXPECT_EQ(r.layouts.at(u"a0010409").at(u"Other Setup"), u"2.0.0.1");
    EXPECT_NE(r.layouts.at(u"a0010409").at(u"Layout Id"), ours.at(u"Layout Id"));

    // Our uninstall (its snapshot marks only keys with our marker) removes ours alone.
    planUninstall(r.snapshot(), plan);
    r.apply(plan);
    EXPECT_EQ(r.layouts.count(u"a0000409"), 0u);
    EXPECT_EQ(r.layouts.count(u"a0010409"), 1u);
}

// A damaged or hostile identity is refused whole; above all a marker named
// like one of the system's values, which would make every layout look ours.
TEST(SetupPlan, IdentityRecordsThatAreWrongAreRefused) {
    const std::string good = "File=kbdx.dll\nText=X\nMarker=X Setup\nVersion=1.0.0.0\nPublisher=P\n"
                             "ActiveSetup={00000000-1111-2222-3333-444444444444}\n";
    auto parse = [](const std::string& s) {
        Identity id;
        return parseIdentity(reinterpret_cast<const unsigned char*>(s.data()), s.size(), id);
    };
    ASSERT_EQ(parse(good), nullptr);
    auto with = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    for (const std::string& bad : {
             with("Marker=X Setup", "Marker=Layout File"),
             with("Marker=X Setup", "Marker=layout text"),
             with("File=kbdx.dll", "File=..\\kbdx.dll"),
             with("File=kbdx.dll", "File=kbdx.exe"),
             with("Version=1.0.0.0", "Version=1.0.0"),
             with("Version=1.0.0.0", "Version=1.0.0.65536"),
             with("ActiveSetup={00000000", "ActiveSetup={0000000g"),
             with("Text=X", "Text=" + std::string(32, 'x')),
             with("Text=X", "Text=\xC3"),           // cut UTF-8
             with("Text=X", "Text=\xC0\xAF"),       // overlong
             with("Text=X", "Text=X\nText=Y"),
             with("Text=X", "Colour=X"),
             with("Publisher=P\n", ""),
             with("Publisher=P", "Publisher="),
         })
        EXPECT_NE(parse(bad), nullptr) << bad;
}
