// The setup's changes and their undo; see journal.h. Entries live on the
// process heap and are never freed: the setup ends right after.
#include "journal.h"

namespace setup {

namespace {

enum Kind : unsigned {
    kValueSet,      // a value written; old state in `had`, type and data
    kKeyCreated,    // a key that did not exist
    kKeyDeleted,    // a key deleted; data holds its values
    kFileWritten,   // a file written now; the old content in data when `had`
    kFileRemoved,   // a file deleted now; its content in data
    kDirCreated,
    kDirRemoved,
    kDelayed,       // a replacement or deletion scheduled for the restart
};

void* allocate(size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

void copyWide(wchar_t* to, size_t capacity, const wchar_t* from) {
    size_t i = 0;
    for (; from[i] && i + 1 < capacity; ++i) to[i] = from[i];
    to[i] = 0;
}

bool sameBytes(const void* a, const void* b, size_t n) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < n; ++i)
        if (x[i] != y[i]) return false;
    return true;
}

}  // namespace

bool readWholeFile(const wchar_t* path, unsigned char*& data, DWORD& size, bool& missing) {
    data = nullptr;
    size = 0;
    missing = false;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
        SetLastError(e);
        return false;
    }
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(h, &length) && length.QuadPart < 64 * 1024 * 1024;
    if (ok) {
        size = static_cast<DWORD>(length.QuadPart);
        data = static_cast<unsigned char*>(allocate(size ? size : 1));
        DWORD got = 0;
        ok = data && ReadFile(h, data, size, &got, nullptr) && got == size;
    }
    const DWORD e = GetLastError();
    CloseHandle(h);
    SetLastError(e);
    return ok;
}

namespace {

bool writeWholeFile(const wchar_t* path, const void* data, DWORD size) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(h, data, size, &put, nullptr) && put == size && FlushFileBuffers(h);
    const DWORD e = GetLastError();
    CloseHandle(h);
    if (!ok) {
        DeleteFileW(path);
        SetLastError(e ? e : ERROR_WRITE_FAULT);
    }
    return ok;
}

bool inUse(DWORD e) { return e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION; }

using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW names the 64-bit view; Windows before Vista has only
// RegDeleteKeyW, and on 32-bit Windows there is one view anyway.
LONG deleteSubkey(HKEY parent, const wchar_t* name) {
    static RegDeleteKeyExWFn deleteEx = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (HMODULE advapi = GetModuleHandleW(L"advapi32.dll"))
            deleteEx = reinterpret_cast<RegDeleteKeyExWFn>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")));
    }
    return deleteEx ? deleteEx(parent, name, KEY_WOW64_64KEY, 0) : RegDeleteKeyW(parent, name);
}

}  // namespace

struct Journal::Entry {
    Entry*   prev;
    unsigned kind;
    HKEY     root;
    wchar_t  path[512];
    wchar_t  name[256];
    bool     had;
    DWORD    type;
    DWORD    size;
    unsigned char data[1];
};

void regKeyPath(const RegKey& key, WideBuf<512>& out) {
    out.clear().add(key.path);
    if (key.subkey) out.add(L"\\").add(key.subkey);
}

HKEY openKey(const RegKey& key, REGSAM access) {
    WideBuf<512> path;
    regKeyPath(key, path);
    HKEY h = nullptr;
    if (path.cut) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const LONG r = RegOpenKeyExW(key.root, path.s, 0, access | KEY_WOW64_64KEY, &h);
    SetLastError(static_cast<DWORD>(r));
    return r == ERROR_SUCCESS ? h : nullptr;
}

HKEY createKey(const RegKey& key, bool* created) {
    WideBuf<512> path;
    regKeyPath(key, path);
    HKEY h = nullptr;
    DWORD disposition = 0;
    if (path.cut) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const LONG r = RegCreateKeyExW(key.root, path.s, 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                                   &h, &disposition);
    SetLastError(static_cast<DWORD>(r));
    if (created) *created = disposition == REG_CREATED_NEW_KEY;
    return r == ERROR_SUCCESS ? h : nullptr;
}

Journal::Entry* Journal::record(unsigned kind, size_t extra) {
    auto* e = static_cast<Entry*>(allocate(sizeof(Entry) + extra));
    if (!e) return nullptr;
    e->kind = kind;
    e->prev = last_;
    last_ = e;
    return e;
}

bool Journal::fail(const wchar_t* what, const wchar_t* object, DWORD code) {
    failure_.clear().add(what).add(L" ").add(object).add(L": ").error(code);
    return false;
}


bool Journal::setString(const RegKey& key, const wchar_t* name, const wchar_t* data) {
    return setValue(key, name, REG_SZ, data, static_cast<DWORD>((wideLength(data) + 1) * sizeof(wchar_t)));
}

bool Journal::setDword(const RegKey& key, const wchar_t* name, DWORD data) {
    return setValue(key, name, REG_DWORD, &data, sizeof data);
}

bool Journal::setValue(const RegKey& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    WideBuf<512> where;
    regKeyPath(key, where);
    bool created = false;
    HKEY h = createKey(key, &created);
    if (!h) return fail(L"Cannot open or create", where.s, GetLastError());
    if (created) {
        Entry* e = record(kKeyCreated, 0);
        if (!e) {
            RegCloseKey(h);
            deleteSubkey(key.root, where.s);
            return fail(L"Out of memory writing", where.s, ERROR_OUTOFMEMORY);
        }
        e->root = key.root;
        copyWide(e->path, 512, where.s);
    }

    // The old value, kept for undo; an equal one means nothing to do.
    DWORD oldType = 0, oldSize = 0;
    LONG r = RegQueryValueExW(h, name, nullptr, &oldType, nullptr, &oldSize);
    const bool had = r == ERROR_SUCCESS;
    if (!had && r != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(h);
        return fail(L"Cannot read", where.s, static_cast<DWORD>(r));
    }
    Entry* e = record(kValueSet, oldSize);
    if (!e) {
        RegCloseKey(h);
        return fail(L"Out of memory writing", where.s, ERROR_OUTOFMEMORY);
    }
    e->root = key.root;
    copyWide(e->path, 512, where.s);
    copyWide(e->name, 256, name);
    e->had = had;
    if (had) {
        r = RegQueryValueExW(h, name, nullptr, &e->type, e->data, &oldSize);
        e->size = oldSize;
        if (r != ERROR_SUCCESS) {
            last_ = e->prev;
            RegCloseKey(h);
            return fail(L"Cannot read", where.s, static_cast<DWORD>(r));
        }
        if (e->type == type && e->size == size && sameBytes(e->data, data, size)) {
            last_ = e->prev;   // already so
            RegCloseKey(h);
            return true;
        }
    }
    r = RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS) {
        last_ = e->prev;
        return fail(L"Cannot write to", where.s, static_cast<DWORD>(r));
    }
    return true;
}

bool Journal::deleteValue(const RegKey& key, const wchar_t* name) {
    WideBuf<512> where;
    regKeyPath(key, where);
    HKEY h = openKey(key, KEY_READ | KEY_WRITE);
    if (!h) return GetLastError() == ERROR_FILE_NOT_FOUND ? true : fail(L"Cannot open", where.s, GetLastError());
    DWORD size = 0;
    LONG r = RegQueryValueExW(h, name, nullptr, nullptr, nullptr, &size);
    Entry* e = r == ERROR_SUCCESS ? record(kValueSet, size) : nullptr;
    if (r == ERROR_SUCCESS && !e) r = ERROR_OUTOFMEMORY;
    if (e) {
        e->root = key.root;
        copyWide(e->path, 512, where.s);
        copyWide(e->name, 256, name);
        e->had = true;
        r = RegQueryValueExW(h, name, nullptr, &e->type, e->data, &size);
        e->size = size;
        if (r == ERROR_SUCCESS) r = RegDeleteValueW(h, name);
        if (r != ERROR_SUCCESS) last_ = e->prev;
    }
    RegCloseKey(h);
    if (r == ERROR_FILE_NOT_FOUND) return true;
    return r == ERROR_SUCCESS ? true : fail(L"Cannot delete a value of", where.s, static_cast<DWORD>(r));
}

bool Journal::deleteKey(const RegKey& key) {
    WideBuf<512> where;
    regKeyPath(key, where);
    HKEY h = openKey(key, KEY_READ);
    if (!h) return GetLastError() == ERROR_FILE_NOT_FOUND ? true : fail(L"Cannot open", where.s, GetLastError());
    DWORD subkeys = 0, values = 0, maxName = 0, maxData = 0;
    LONG r = RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &maxName, &maxData,
                              nullptr, nullptr);
    if (r == ERROR_SUCCESS && subkeys != 0) r = ERROR_DIR_NOT_EMPTY;   // not a key we wrote; left alone
    // The values, each in a slot of the same size: name length, type, data
    // size, the room for the name, then the name and the data. The data sits
    // after that room, not after the name: RegEnumValueW writes the name's
    // real length into the first field.
    const size_t each = (4 * sizeof(DWORD) + (maxName + 1) * sizeof(wchar_t) + maxData + 3) & ~size_t(3);
    Entry* e = r == ERROR_SUCCESS ? record(kKeyDeleted, values * each) : nullptr;
    if (r == ERROR_SUCCESS && !e) r = ERROR_OUTOFMEMORY;
    for (DWORD i = 0; r == ERROR_SUCCESS && i < values; ++i) {
        auto* slot = reinterpret_cast<DWORD*>(e->data + i * each);
        auto* nameAt = reinterpret_cast<wchar_t*>(slot + 4);
        slot[0] = maxName + 1;
        slot[2] = maxData;
        slot[3] = maxName + 1;
        r = RegEnumValueW(h, i, nameAt, &slot[0], nullptr, &slot[1],
                          reinterpret_cast<BYTE*>(nameAt + maxName + 1), &slot[2]);
    }
    RegCloseKey(h);
    if (e) {
        e->root = key.root;
        copyWide(e->path, 512, where.s);
        e->size = static_cast<DWORD>(each);
        e->type = values;
    }
    if (r == ERROR_SUCCESS) {
        HKEY parent = openKey(RegKey{key.root, key.path, nullptr}, KEY_READ | KEY_WRITE);
        r = parent ? deleteSubkey(parent, key.subkey) : static_cast<LONG>(GetLastError());
        if (parent) RegCloseKey(parent);
    }
    if (r != ERROR_SUCCESS && e) last_ = e->prev;
    return r == ERROR_SUCCESS ? true : fail(L"Cannot delete", where.s, static_cast<DWORD>(r));
}

bool Journal::writeFile(const wchar_t* path, const void* data, DWORD size) {
    unsigned char* old = nullptr;
    DWORD oldSize = 0;
    bool missing = false;
    const bool had = readWholeFile(path, old, oldSize, missing);
    if (!had && !missing) return fail(L"Cannot read", path, GetLastError());
    if (had && oldSize == size && sameBytes(old, data, size)) return true;

    // The new content goes beside the file first, then takes its place.
    Path staged;
    staged.add(path).add(L".new");
    if (staged.cut) return fail(L"Path too long:", path, ERROR_FILENAME_EXCED_RANGE);
    if (!writeWholeFile(staged.s, data, size)) return fail(L"Cannot write", staged.s, GetLastError());
    Entry* e = record(kFileWritten, had ? oldSize : 0);
    if (!e) {
        DeleteFileW(staged.s);
        return fail(L"Out of memory writing", path, ERROR_OUTOFMEMORY);
    }
    copyWide(e->path, 512, path);
    e->had = had;
    e->size = had ? oldSize : 0;
    if (had) __builtin_memcpy(e->data, old, oldSize);
    if (MoveFileExW(staged.s, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;

    const DWORD error = GetLastError();
    if (had && inUse(error) &&
        MoveFileExW(staged.s, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        e->kind = kDelayed;
        restart_ = true;
        return true;
    }
    last_ = e->prev;
    DeleteFileW(staged.s);
    return fail(L"Cannot replace", path, error);
}

bool Journal::removeFile(const wchar_t* path, bool restartMatters) {
    unsigned char* old = nullptr;
    DWORD oldSize = 0;
    bool missing = false;
    if (!readWholeFile(path, old, oldSize, missing)) {
        if (missing) return true;
        // A file that cannot even be read is in use or guarded: delete it at restart.
        oldSize = 0;
    }
    Entry* e = record(kFileRemoved, oldSize);
    if (!e) return fail(L"Out of memory removing", path, ERROR_OUTOFMEMORY);
    copyWide(e->path, 512, path);
    e->size = oldSize;
    if (old) __builtin_memcpy(e->data, old, oldSize);
    if (old && DeleteFileW(path)) return true;
    const DWORD error = GetLastError();
    if (inUse(error) && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        e->kind = kDelayed;
        restart_ = restart_ || restartMatters;
        return true;
    }
    last_ = e->prev;
    return fail(L"Cannot delete", path, error);
}

bool Journal::createDirectory(const wchar_t* path) {
    if (!CreateDirectoryW(path, nullptr))
        return GetLastError() == ERROR_ALREADY_EXISTS ? true : fail(L"Cannot create", path, GetLastError());
    Entry* e = record(kDirCreated, 0);
    if (!e) {
        RemoveDirectoryW(path);
        return fail(L"Out of memory creating", path, ERROR_OUTOFMEMORY);
    }
    copyWide(e->path, 512, path);
    return true;
}

bool Journal::removeDirectory(const wchar_t* path, bool restartMatters) {
    Entry* e = record(kDirRemoved, 0);
    if (!e) return fail(L"Out of memory removing", path, ERROR_OUTOFMEMORY);
    copyWide(e->path, 512, path);
    if (RemoveDirectoryW(path)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        last_ = e->prev;
        return true;
    }
    // Not empty yet (our own program, deleted at restart) or in use.
    if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        e->kind = kDelayed;
        restart_ = restart_ || restartMatters;
        return true;
    }
    last_ = e->prev;
    return fail(L"Cannot remove", path, error);
}

void Journal::undo(Entry& e) {
    LONG r = ERROR_SUCCESS;
    switch (e.kind) {
    case kValueSet: {
        HKEY h = nullptr;
        r = RegOpenKeyExW(e.root, e.path, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, &h);
        if (r == ERROR_SUCCESS) {
            r = e.had ? RegSetValueExW(h, e.name, 0, e.type, e.data, e.size) : RegDeleteValueW(h, e.name);
            RegCloseKey(h);
        }
        break;
    }
    case kKeyCreated: {
        r = deleteSubkey(e.root, e.path);
        break;
    }
    case kKeyDeleted: {
        HKEY h = nullptr;
        r = RegCreateKeyExW(e.root, e.path, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &h, nullptr);
        for (DWORD i = 0; r == ERROR_SUCCESS && i < e.type; ++i) {
            const auto* slot = reinterpret_cast<const DWORD*>(e.data + i * e.size);
            const auto* name = reinterpret_cast<const wchar_t*>(slot + 4);
            const auto* data = reinterpret_cast<const BYTE*>(name + slot[3]);
            r = RegSetValueExW(h, name, 0, slot[1], data, slot[2]);
        }
        if (h) RegCloseKey(h);
        break;
    }
    case kFileWritten:
        if (e.had ? !writeWholeFile(e.path, e.data, e.size) : !DeleteFileW(e.path)) r = static_cast<LONG>(GetLastError());
        break;
    case kFileRemoved:
        if (!writeWholeFile(e.path, e.data, e.size)) r = static_cast<LONG>(GetLastError());
        break;
    case kDirCreated:
        if (!RemoveDirectoryW(e.path)) r = static_cast<LONG>(GetLastError());
        break;
    case kDirRemoved:
        if (!CreateDirectoryW(e.path, nullptr)) r = static_cast<LONG>(GetLastError());
        break;
    case kDelayed:
        failure_.add(L"\nStill scheduled for the next restart: ").add(e.path);
        return;
    }
    if (r != ERROR_SUCCESS) {
        failure_.add(L"\nCould not undo the change to ").add(e.path);
        if (e.kind == kValueSet) failure_.add(L" (").add(e.name).add(L")");
        failure_.add(L": ").error(static_cast<DWORD>(r));
    }
}

void Journal::rollback() {
    for (Entry* e = last_; e; e = e->prev) undo(*e);
    last_ = nullptr;
}

}  // namespace setup
