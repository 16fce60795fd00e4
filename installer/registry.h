// The registry as the planner sees it, and the planner's operations carried
// out through the journal.
#pragma once

#include "journal.h"
#include "plan.h"

namespace setup {

inline constexpr wchar_t kLayoutsPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";
inline constexpr wchar_t kPreloadPath[] = L"Keyboard Layout\\Preload";
inline constexpr wchar_t kSubstitutesPath[] = L"Keyboard Layout\\Substitutes";

// Every subkey of Keyboard Layouts. False (with the error in `error`) when the
// key cannot be read; a registry with more subkeys than the storage holds
// gives a snapshot marked overflow.
bool readLayouts(Snapshot& snapshot, DWORD& error);

// The current user's Preload and Substitutes values (absent keys are empty).
bool readUser(UserSnapshot& user, DWORD& error);

// Carry out plan.ops.
bool applyPlan(const Plan& plan, Journal& journal);

}  // namespace setup
