// Reading Keyboard Layouts, Preload and Substitutes into the planner's
// fixed-size records, and applying its operations.
#include "registry.h"

namespace setup {
namespace {

// Storage for the snapshots. A Windows 11 machine has about 250 layout keys;
// a full range of custom KLIDs for one language is 4096.
constexpr size_t kMaxLayouts = 8192;
constexpr size_t kMaxUserValues = 512;
LayoutKey gLayouts[kMaxLayouts];
NamedValue gPreload[kMaxUserValues];
NamedValue gSubstitutes[kMaxUserValues];

Text textOf(const wchar_t* s, size_t n) { return Text::of(reinterpret_cast<const char16_t*>(s), n); }

// A string value as a Text: empty when absent or not a string, cut when long.
Text stringValue(HKEY key, const wchar_t* name, bool* present = nullptr) {
    wchar_t buffer[Text::kCapacity + 2];
    DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
    const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (present) *present = r == ERROR_SUCCESS || r == ERROR_MORE_DATA;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Text{};
    if (r == ERROR_MORE_DATA) {
        Text t = textOf(buffer, Text::kCapacity);
        t.cut = true;
        return t;
    }
    if (r != ERROR_SUCCESS) return Text{};
    size_t n = size / sizeof(wchar_t);
    while (n && buffer[n - 1] == 0) --n;   // the stored terminator, if any
    return textOf(buffer, n);
}

bool readValues(const Hive& hive, const wchar_t* inside, NamedValue* storage, List<NamedValue>& list, DWORD& error) {
    list = {storage, 0, false};
    WideBuf<512> path;
    hive.path(inside, path);
    HKEY h = openKey(RegKey{hive.root, path.s, nullptr}, KEY_READ);
    if (!h) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    LONG r = ERROR_SUCCESS;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[Text::kCapacity + 2];
        DWORD nameLen = 256, type = 0, size = sizeof data - sizeof(wchar_t);
        r = RegEnumValueW(h, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        if (r == ERROR_NO_MORE_ITEMS) {
            r = ERROR_SUCCESS;
            break;
        }
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;
        if (list.count == kMaxUserValues) {
            list.overflow = true;
            break;
        }
        NamedValue& v = storage[list.count++];
        v.name = textOf(name, nameLen);
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            v.data = Text{};
        } else if (r == ERROR_MORE_DATA) {
            v.data = textOf(data, Text::kCapacity);
            v.data.cut = true;
        } else {
            size_t n = size / sizeof(wchar_t);
            while (n && data[n - 1] == 0) --n;
            v.data = textOf(data, n);
        }
        r = ERROR_SUCCESS;
    }
    RegCloseKey(h);
    error = static_cast<DWORD>(r);
    return r == ERROR_SUCCESS;
}

}  // namespace

bool readLayouts(const Text& marker, Snapshot& snapshot, DWORD& error) {
    List<LayoutKey>& list = snapshot.layouts;
    list = {gLayouts, 0, false};
    HKEY root = openKey(RegKey{HKEY_LOCAL_MACHINE, kLayoutsPath, nullptr}, KEY_READ);
    if (!root) {
        // No layouts at all (a bare registry, as Wine's): nothing to avoid.
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    LONG r = ERROR_SUCCESS;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        r = RegEnumKeyExW(root, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
            r = ERROR_SUCCESS;
            break;
        }
        if (r != ERROR_SUCCESS) break;
        if (list.count == kMaxLayouts) {
            list.overflow = true;
            break;
        }
        LayoutKey& k = gLayouts[list.count++];
        k = LayoutKey{};
        k.name = textOf(name, nameLen);
        HKEY sub = nullptr;
        if (RegOpenKeyExW(root, name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &sub) != ERROR_SUCCESS) continue;
        Path valueName;
        k.layoutFile = stringValue(sub, valueName.clear().ascii(kValueLayoutFile).s);
        k.layoutText = stringValue(sub, valueName.clear().ascii(kValueLayoutText).s);
        k.layoutId = stringValue(sub, valueName.clear().ascii(kValueLayoutId).s);
        k.marker = stringValue(sub, valueName.clear().add(marker).s, &k.marked);
        RegCloseKey(sub);
    }
    RegCloseKey(root);
    error = static_cast<DWORD>(r);
    return r == ERROR_SUCCESS;
}

bool readUser(const Hive& hive, UserSnapshot& user, DWORD& error) {
    return readValues(hive, kPreloadPath, gPreload, user.preload, error) &&
           readValues(hive, kSubstitutesPath, gSubstitutes, user.substitutes, error);
}

Text readString(const RegKey& key, const wchar_t* name) {
    HKEY h = openKey(key, KEY_QUERY_VALUE);
    if (!h) return Text{};
    const Text t = stringValue(h, name);
    RegCloseKey(h);
    return t;
}

bool applyPlan(const Plan& plan, Journal& journal, const Hive& hive) {
    WideBuf<512> preload, substitutes;
    hive.path(kPreloadPath, preload);
    hive.path(kSubstitutesPath, substitutes);
    for (size_t i = 0; i < plan.opCount; ++i) {
        const Op& op = plan.ops[i];
        const RegKey key = op.where == Where::Layouts       ? RegKey{HKEY_LOCAL_MACHINE, kLayoutsPath, wide(op.key)}
                           : op.where == Where::Preload     ? RegKey{hive.root, preload.s, nullptr}
                                                            : RegKey{hive.root, substitutes.s, nullptr};
        bool ok = true;
        switch (op.kind) {
        case OpKind::SetValue: ok = journal.setString(key, wide(op.name), wide(op.data)); break;
        case OpKind::DeleteValue: ok = journal.deleteValue(key, wide(op.name)); break;
        case OpKind::DeleteKey: ok = journal.deleteKey(key); break;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace setup
