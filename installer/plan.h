// The setup's decisions, apart from the Windows calls that carry them out:
// from a snapshot of the registry and what the user asked for, which keyboard
// layout id (KLID) and Layout Id the layout gets, and the exact list of
// registry changes. Portable C++ without a C or C++ library: the setup
// compiles it for Windows, the host tests for Linux.
//
// The registry the plan concerns:
//   HKLM\SYSTEM\CurrentControlSet\Control\Keyboard Layouts\<KLID>
//        Layout File, Layout Text, Layout Id (REG_SZ) and our marker value
//        (the file, the text and the marker's name are the identity's)
//   HKCU\Keyboard Layout\Preload        "1", "2", ... = KLID or substitute id
//   HKCU\Keyboard Layout\Substitutes    substitute id = KLID
// The same two lists exist in every user's hive; the one of .DEFAULT is what
// the sign-in and lock screens offer.
#pragma once

#include "fixed_text.h"
#include "identity.h"

namespace setup {

// ---- What the layout's key holds ---------------------------------------------
inline constexpr char kValueLayoutFile[] = "Layout File";
inline constexpr char kValueLayoutText[] = "Layout Text";
inline constexpr char kValueLayoutId[]   = "Layout Id";

// Custom KLIDs are 'a' + 3 hex digits + the LANGID: a000xxxx .. afffxxxx.
inline constexpr uint32_t kKlidPrefixCount = 0x1000;
// Layout Ids are 4 hex digits; the system reads only ids up to 0x0FFF.
inline constexpr uint32_t kLayoutIdMax = 0x0FFF;

// ---- Snapshot -----------------------------------------------------------------
// One subkey of Keyboard Layouts: its name and the values the plan looks at
// (a value that is absent or not a string is an empty text).
struct LayoutKey {
    Text name;
    Text layoutFile;
    Text layoutText;
    Text layoutId;
    Text marker;       // our marker's data; empty when the value is absent
    bool marked = false;
};

// One value of Preload or Substitutes.
struct NamedValue {
    Text name;
    Text data;
};

template <class T>
struct List {
    const T* items = nullptr;
    size_t   count = 0;
    bool     overflow = false;   // the reader had more than its storage holds
};

struct Snapshot {
    List<LayoutKey> layouts;
    // What the setup's own record says the layout had when it was last
    // installed (empty when there is no record): a registration that went
    // missing comes back under the same KLID and Layout Id when they are free.
    Text keptKlid;
    Text keptLayoutId;
};

struct UserSnapshot {
    List<NamedValue> preload;
    List<NamedValue> substitutes;
};

// ---- Plan -----------------------------------------------------------------------
enum class Where : uint8_t { Layouts, Preload, Substitutes };
enum class OpKind : uint8_t {
    SetValue,      // REG_SZ `name` = `data` in `key` (created when missing)
    DeleteValue,   // `name` in `key`
    DeleteKey,     // `key` and its values
};

struct Op {
    OpKind kind = OpKind::SetValue;
    Where  where = Where::Layouts;
    Text   key;    // subkey of Keyboard Layouts; empty for Preload and Substitutes
    Text   name;
    Text   data;
};

enum class Status : uint8_t {
    Ok,
    BadLanguage,      // not 4 hex digits naming a language
    NoFreeKlid,       // a000..afff of the language are all taken
    NoFreeLayoutId,   // every Layout Id up to 0x0FFF is taken
    TooManyLayouts,   // the snapshot did not fit its storage: uniqueness unknown
    TooManyChanges,   // more changes than a plan holds
    NotInstalled,     // uninstall found no key of ours
};

enum class Outcome : uint8_t {
    None,
    Fresh,     // a new key
    Reused,    // our key from an earlier install
    Adopted,   // an unmarked key for our file and language (a manual install)
    Moved,     // our key of another language replaced by one for this language
    Restored,  // no key of ours, but the record's KLID: the registration came back
    Removed,   // uninstall
};

struct Plan {
    static constexpr size_t kMaxOps = 64;
    static constexpr size_t kMaxRemoved = 8;

    Status   status = Status::Ok;
    Outcome  outcome = Outcome::None;
    Text     klid;                 // the layout's KLID after an install
    uint32_t layoutId = 0;         // and its Layout Id
    Text     removed[kMaxRemoved]; // KLIDs of our keys this plan deletes
    size_t   removedCount = 0;
    Op       ops[kMaxOps];
    size_t   opCount = 0;
};

// A LANGID given as exactly 4 hex digits, not 0000; false otherwise.
bool parseLanguage(const Text& text, uint16_t& language);

// A Layout Id value as the system reads it: hex digits, surrounding blanks
// allowed; false when it is not one.
bool parseLayoutId(const Text& text, uint32_t& id);

// Install or upgrade the identity's layout for `language`, writing its
// version into the marker.
void planInstall(const Snapshot& snapshot, const Identity& identity, uint16_t language, Plan& plan);

// Remove every key carrying our marker.
void planUninstall(const Snapshot& snapshot, Plan& plan);

// Add to `plan` the current user's changes for the KLIDs in plan.removed:
// Substitutes values naming them go, Preload entries naming them or those
// substitutes go, and the remaining numbered Preload entries close up to 1..n.
void planUserCleanup(const UserSnapshot& user, Plan& plan);

// Add to `plan` what puts `klid` into a user's list under `language` when the
// list does not name it yet, directly or through a substitute: a substitute
// id dNNNLLLL (the first free one of that language) naming it, and that id as
// the next Preload entry. A KLID 0000LLLL of the same language needs no
// substitute.
void planUserAdd(const UserSnapshot& user, const Text& klid, uint16_t language, Plan& plan);

// ---- One user's list of keyboards ----------------------------------------------------
// The language to list `klid` under for one user: the KLID's own when the
// layout's language is fixed (--language, or the identity names one), else
// the user's first language, so that adding the layout never gives anyone a
// second input language; the KLID's when the list names no language.
uint16_t listLanguage(const UserSnapshot& user, const Text& klid, bool languageFixed);

// What InstallLayoutOrTip takes for `klid` under `language`: "LLLL:KLID",
// upper case. Empty when `klid` is not 8 hex digits.
Text layoutOrTipText(uint16_t language, const Text& klid);

// The languages to take `klid` out of a user's list under, each once: first
// the one listLanguage gives and that of every Preload entry naming it
// (directly or through a substitute), `listed` of them, which a rollback
// lists it under again; then the KLID's own, when none of those is it.
// Returns how many of `out` it filled.
inline constexpr size_t kMaxListLanguages = 8;
size_t removalLanguages(const UserSnapshot& user, const Text& klid, bool languageFixed,
                        uint16_t out[kMaxListLanguages], size_t& listed);

// ---- Who runs the setup ------------------------------------------------------------------
// An account as Windows names it: the user name and its domain (the computer's
// name for a local account). `known` false: it could not be read.
struct AccountName {
    Text user;
    Text domain;
    bool known = false;
};

// Whether the setup runs as the user signed in to its session, the person at
// the desk: both names known, whole and equal (without regard to ASCII case).
// Anything unknown counts as another account, whose HKCU is not the desk's.
bool sameAccount(const AccountName& own, const AccountName& session);

// The language of a user's first keyboard: the last four hex digits of the
// lowest-numbered Preload entry (a KLID or a substitute id, both end with
// it). False when the list has no such entry.
bool firstLanguage(const UserSnapshot& user, uint16_t& language);

// The language a KLID ends with; false when `klid` is not 8 hex digits.
bool klidLanguage(const Text& klid, uint16_t& language);

const char* describe(Status status);

// ---- Files ------------------------------------------------------------------------
// The images: one per machine, and the WOW64 one (32-bit code, 64-bit tables)
// that 32-bit programs load on 64-bit Windows.
enum class Machine : uint8_t { X86, X64, Arm64 };
enum class Image : uint8_t { X86, X64, Arm64, Wow64 };
enum class Folder : uint8_t { System32, SysWow64 };

struct Placement {
    Folder folder;
    Image  image;
};

// Where the images go on a machine: its own image in System32, and on the
// 64-bit machines the WOW64 image in SysWOW64. Returns how many of `out` it
// filled (1 or 2).
size_t placeImages(Machine native, Placement out[2]);

}  // namespace setup
