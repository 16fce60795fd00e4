// Keeps the file KBD_HOLD_FILE open for reading, shared for reading only (so
// it cannot be replaced or deleted, as a layout in use cannot), until the file
// KBD_HOLD_STOP exists or a minute has passed. KBD_HOLD_READY is made once the
// file is held; KBD_HOLD_STOP is deleted once it is let go, so that whoever
// asked can wait for that.
#include <windows.h>

namespace {
bool env(const wchar_t* name, wchar_t (&value)[MAX_PATH]) {
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n != 0 && n < MAX_PATH;
}
}  // namespace

extern "C" void start() {
    wchar_t held[MAX_PATH], ready[MAX_PATH], stop[MAX_PATH];
    if (!env(L"KBD_HOLD_FILE", held) || !env(L"KBD_HOLD_READY", ready) || !env(L"KBD_HOLD_STOP", stop)) ExitProcess(2);
    HANDLE h = CreateFileW(held, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) ExitProcess(1);
    CloseHandle(CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int i = 0; i < 1200 && GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    CloseHandle(h);
    DeleteFileW(stop);
    ExitProcess(0);
}
