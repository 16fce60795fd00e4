// What one run of the setup changed, in order, with what was there before, so
// that a failure half-way undoes it all. Every change to the registry or to a
// file goes through here: the journal records the old state first and
// refuses a change whose old state it cannot keep.
#pragma once

#include <windows.h>

#include "wintext.h"

namespace setup {

// A registry key: HKLM or HKCU and a path below it. HKLM paths are always
// opened in the 64-bit view, so a 32-bit setup changes what 64-bit Windows
// reads.
struct RegKey {
    HKEY           root;
    const wchar_t* path;
    const wchar_t* subkey;   // below path, or null
};

class Journal {
public:
    // Set a REG_SZ or REG_DWORD value; nothing is written when it already
    // holds that data.
    bool setString(const RegKey& key, const wchar_t* name, const wchar_t* data);
    bool setDword(const RegKey& key, const wchar_t* name, DWORD data);
    bool deleteValue(const RegKey& key, const wchar_t* name);
    // Delete a key that has values but no subkeys; its values are kept for undo.
    bool deleteKey(const RegKey& key);

    // Write `data` to `path` unless it already holds exactly that. When the
    // file is in use, the new content waits beside it and replaces it at the
    // next restart.
    bool writeFile(const wchar_t* path, const void* data, DWORD size);
    // Delete a file (if it exists), at the next restart when it is in use.
    // `restartMatters` false: a deletion left for the restart (the running
    // setup's own file) does not ask the user for one.
    bool removeFile(const wchar_t* path, bool restartMatters = true);
    bool createDirectory(const wchar_t* path);
    bool removeDirectory(const wchar_t* path, bool restartMatters = true);

    // Undo everything, last change first. Delayed replacements and deletions
    // already scheduled for the next restart cannot be taken back; they are
    // named in the failure message.
    void rollback();

    bool restartNeeded() const { return restart_; }
    // Whether anything has been changed (and not undone).
    bool changed() const { return last_ != nullptr; }
    // What went wrong, for the user.
    const wchar_t* failure() const { return failure_.s; }
    bool failed() const { return failure_.n != 0; }
    WideBuf<1024>& failureText() { return failure_; }

private:
    struct Entry;
    Entry* record(unsigned kind, size_t extra);
    bool setValue(const RegKey& key, const wchar_t* name, DWORD type, const void* data, DWORD size);
    void undo(Entry& e);
    bool fail(const wchar_t* what, const wchar_t* object, DWORD code);

    Entry*        last_ = nullptr;
    bool          restart_ = false;
    WideBuf<1024> failure_;
};

// A whole file read onto the heap; false when it does not exist (`missing`)
// or cannot be read (the error is GetLastError()).
bool readWholeFile(const wchar_t* path, unsigned char*& data, DWORD& size, bool& missing);

// The full path of a registry key, for messages and for opening it.
void regKeyPath(const RegKey& key, WideBuf<512>& out);
HKEY openKey(const RegKey& key, REGSAM access);
HKEY createKey(const RegKey& key, bool* created);

}  // namespace setup
