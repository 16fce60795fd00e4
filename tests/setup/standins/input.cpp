// A recording InstallLayoutOrTip: appends "STRING 0xFLAGS" to the file
// KBD_INPUT_LOG names and reports success.
#include <windows.h>

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, void*) { return TRUE; }

extern "C" __declspec(dllexport) BOOL WINAPI InstallLayoutOrTip(LPCWSTR text, DWORD flags) {
    wchar_t log[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"KBD_INPUT_LOG", log, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    char line[300];
    DWORD at = 0;
    for (; text && text[at] && at < 256; ++at) line[at] = text[at] < 0x80 ? static_cast<char>(text[at]) : '?';
    const char hex[] = "0123456789ABCDEF";
    line[at++] = ' ';
    line[at++] = '0';
    line[at++] = 'x';
    for (int shift = 28; shift >= 0; shift -= 4) line[at++] = hex[(flags >> shift) & 15];
    line[at++] = '\r';
    line[at++] = '\n';
    HANDLE h = CreateFileW(log, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    SetFilePointer(h, 0, nullptr, FILE_END);
    DWORD put = 0;
    WriteFile(h, line, at, &put, nullptr);
    CloseHandle(h);
    return TRUE;
}
