// A wtsapi32.dll whose WTSQuerySessionInformationW says the session's user is
// KBD_SESSION_USER of domain KBD_SESSION_DOMAIN, and fails for anything else.
// Wine has one account: with this beside the setup, the setup runs as if an
// administrator's password had elevated it while someone else is at the desk.
#include <windows.h>

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, void*) { return TRUE; }

namespace {
// WTS_INFO_CLASS values (wtsapi32.h, which declares the functions without dllexport).
constexpr int kUserName = 5, kDomainName = 7;
wchar_t gUser[64], gDomain[64];
}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD, int which, LPWSTR* buffer,
                                                                         DWORD* bytes) {
    wchar_t* into = which == kUserName ? gUser : which == kDomainName ? gDomain : nullptr;
    if (!into || !buffer || !bytes) return FALSE;
    const DWORD n = GetEnvironmentVariableW(which == kUserName ? L"KBD_SESSION_USER" : L"KBD_SESSION_DOMAIN", into, 64);
    if (n == 0 || n >= 64) return FALSE;
    *buffer = into;
    *bytes = (n + 1) * sizeof(wchar_t);
    return TRUE;
}

extern "C" __declspec(dllexport) void WINAPI WTSFreeMemory(void*) {}
