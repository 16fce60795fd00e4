// The registry as the planner sees it, and the planner's operations carried
// out through the journal.
#pragma once

#include "journal.h"
#include "plan.h"

namespace setup {

inline constexpr wchar_t kLayoutsPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";
inline constexpr wchar_t kPreloadPath[] = L"Keyboard Layout\\Preload";
inline constexpr wchar_t kSubstitutesPath[] = L"Keyboard Layout\\Substitutes";

// Every subkey of Keyboard Layouts, each marked when it has the value named
// `marker`. False (with the error in `error`) when the
// key cannot be read; a registry with more subkeys than the storage holds
// gives a snapshot marked overflow.
bool readLayouts(const Text& marker, Snapshot& snapshot, DWORD& error);

// A user's hive: the current user's (HKCU), or one under HKEY_USERS by name
// (".DEFAULT", what the sign-in screen uses, or a user's SID).
struct Hive {
    HKEY           root = HKEY_CURRENT_USER;
    const wchar_t* name = nullptr;   // below HKEY_USERS; null for HKCU

    // `path` inside the hive, as a key path below `root`.
    void path(const wchar_t* inside, WideBuf<512>& out) const {
        out.clear();
        if (name) out.add(name).add(L"\\");
        out.add(inside);
    }
};

// A hive's Preload and Substitutes values (absent keys are empty).
bool readUser(const Hive& hive, UserSnapshot& user, DWORD& error);

// A string value as a Text: empty when absent or not a string.
Text readString(const RegKey& key, const wchar_t* name);

// Carry out plan.ops; the Preload and Substitutes ones in `hive`.
bool applyPlan(const Plan& plan, Journal& journal, const Hive& hive = Hive{});

}  // namespace setup
