// kbdQelvo-setup.exe: installs, upgrades or removes the Qelvo keyboard layout.
// The decisions are the planner's (plan.h); this file reads the machine, runs
// the plan through the journal (which undoes a half-done run), and tells the
// user what happened. No C runtime: the entry point is `start`.
#include <windows.h>
#include <shellapi.h>

#include "journal.h"
#include "plan.h"
#include "registry.h"
#include "resources.h"
#include "wintext.h"

namespace setup {
namespace {

constexpr wchar_t kVersion[] = L"" KBD_VERSION;
constexpr wchar_t kProductName[] = L"Qelvo Keyboard Layout";
constexpr wchar_t kPublisher[] = L"The kbdQelvo developers";
constexpr wchar_t kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUninstallKey[] = L"kbdQelvo";
constexpr wchar_t kProgramFolder[] = L"kbdQelvo";
constexpr wchar_t kProgramFile[] = L"kbdQelvo-setup.exe";
constexpr DWORD kRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;   // 3010, as installers report it

enum Exit : DWORD { kDone = 0, kFailed = 1, kUsage = 2 };

struct Options {
    bool     quiet = false;
    bool     uninstall = false;
    bool     enable = true;
    bool     help = false;
    uint16_t language = 0x0409;
};

// Functions with paths on their stack stay apart ([[gnu::noinline]]): there
// is no runtime to probe a frame larger than a page.

// ---- Telling the user -----------------------------------------------------------------
WideBuf<4096> gMessage;

void writeStd(DWORD which, const wchar_t* text) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    static char utf8[3 * 4096 + 2];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 2, nullptr, nullptr);
    if (n <= 0) return;
    utf8[n - 1] = '\n';
    DWORD put = 0;
    WriteFile(h, utf8, static_cast<DWORD>(n), &put, nullptr);
}

DWORD tell(const Options& o, DWORD code, const wchar_t* text) {
    if (o.quiet) {
        writeStd(code == kDone || code == kRestartNeeded ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text);
    } else {
        const UINT icon = code == kDone || code == kRestartNeeded ? MB_ICONINFORMATION : MB_ICONERROR;
        MessageBoxW(nullptr, text, L"Qelvo Keyboard Layout Setup", MB_OK | icon | MB_SETFOREGROUND);
    }
    return code;
}

constexpr wchar_t kUsageText[] =
    L"kbdQelvo-setup [--quiet] [--uninstall] [--language XXXX] [--no-enable] [--help]\n"
    L"\n"
    L"Installs the Qelvo keyboard layout for every user of this computer, or upgrades it.\n"
    L"\n"
    L"  --uninstall      remove the layout, its files and its entry in the list of programs\n"
    L"  --language XXXX  the language to list the layout under, as 4 hex digits\n"
    L"                   (default 0409, English (United States); 0809 is English (United Kingdom))\n"
    L"  --no-enable      do not add the layout to your own list of keyboards\n"
    L"  --quiet          no message box; the exit code tells what happened:\n"
    L"                   0 done, 3010 done and a restart finishes it, 1 failed and nothing changed,\n"
    L"                   2 wrong command line\n";

[[gnu::noinline]] bool parseOptions(Options& o, WideBuf<512>& error) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) {
        error.add(L"Cannot read the command line: ").error(GetLastError());
        return false;
    }
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        const wchar_t* a = argv[i];
        if (wideEqual(a, L"--quiet") || wideEqual(a, L"/quiet") || wideEqual(a, L"/q")) {
            o.quiet = true;
        } else if (wideEqual(a, L"--uninstall") || wideEqual(a, L"/uninstall")) {
            o.uninstall = true;
        } else if (wideEqual(a, L"--no-enable")) {
            o.enable = false;
        } else if (wideEqual(a, L"--help") || wideEqual(a, L"-h") || wideEqual(a, L"/?")) {
            o.help = true;
        } else if (wideEqual(a, L"--language")) {
            if (i + 1 == argc) {
                error.add(L"--language needs a value, such as 0409");
                ok = false;
            } else if (!parseLanguage(Text::of(reinterpret_cast<const char16_t*>(argv[i + 1])), o.language)) {
                error.add(L"--language ").add(argv[i + 1]).add(L": ").ascii(describe(Status::BadLanguage));
                ok = false;
            }
            ++i;
        } else {
            error.add(L"Unknown option ").add(a).add(L" (--help lists the options)");
            ok = false;
        }
    }
    LocalFree(argv);
    return ok;
}

// ---- The machine ------------------------------------------------------------------------
constexpr Machine kOwnMachine =
#if defined(__aarch64__)
    Machine::Arm64;
#elif defined(__x86_64__)
    Machine::X64;
#else
    Machine::X86;
#endif

// The machine Windows runs on, and whether this process runs under WOW64
// (and so sees SysWOW64 where it asks for System32).
Machine nativeMachine(bool& wow64) {
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    wow64 = false;
    // IsWow64Process2 tells ARM64 apart (Windows 10 1709 and later); emulated
    // code asking GetNativeSystemInfo would be told x86 or x64.
    auto two = reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process2")));
    USHORT process = 0, native = 0;
    if (two && two(GetCurrentProcess(), &process, &native)) {
        wow64 = process != IMAGE_FILE_MACHINE_UNKNOWN;
        if (native == IMAGE_FILE_MACHINE_ARM64) return Machine::Arm64;
        if (native == IMAGE_FILE_MACHINE_AMD64) return Machine::X64;
        if (native == IMAGE_FILE_MACHINE_I386) return Machine::X86;
        return kOwnMachine;
    }
    // Older Windows: a 32-bit process under WOW64 runs on x64.
    auto one = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL isWow64 = FALSE;
    if (one && one(GetCurrentProcess(), &isWow64) && isWow64) {
        wow64 = true;
        return Machine::X64;
    }
    return kOwnMachine;
}

const wchar_t* machineName(Machine m) {
    return m == Machine::X86 ? L"x86" : m == Machine::X64 ? L"x64" : L"ARM64";
}

bool elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION e{};
    DWORD size = 0;
    const BOOL known = GetTokenInformation(token, TokenElevation, &e, sizeof e, &size);
    CloseHandle(token);
    // Windows before Vista has no elevation; the writes themselves then tell.
    return !known || e.TokenIsElevated;
}

// ---- Paths ---------------------------------------------------------------------------------
bool windowsFolder(Path& out) {
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    out.clear().add(dir, n);
    if (n && dir[n - 1] == L'\\') --out.n;
    out.s[out.n] = 0;
    return true;
}

// The file an image goes to. A WOW64 process reaches the real System32
// through Sysnative, which the file system does not redirect.
bool imagePath(Folder folder, bool wow64, Path& out) {
    if (!windowsFolder(out)) return false;
    out.add(folder == Folder::SysWow64 ? L"\\SysWOW64\\" : wow64 ? L"\\Sysnative\\" : L"\\System32\\");
    out.ascii(kLayoutFile);
    return !out.cut;
}

// Where the kept copy of the setup lives: the machine's own Program Files,
// whichever of the three setups runs.
bool programFolder(Path& out) {
    wchar_t dir[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramW6432", dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = GetEnvironmentVariableW(L"ProgramFiles", dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    out.clear().add(dir, n).add(L"\\").add(kProgramFolder);
    return !out.cut;
}

// ---- The images inside this program ----------------------------------------------------------
bool imageBytes(Image image, const void*& data, DWORD& size) {
    const int id = image == Image::X86     ? KBD_RES_IMAGE_X86
                   : image == Image::X64   ? KBD_RES_IMAGE_X64
                   : image == Image::Arm64 ? KBD_RES_IMAGE_ARM64
                                           : KBD_RES_IMAGE_WOW64;
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = res ? LoadResource(nullptr, res) : nullptr;
    data = loaded ? LockResource(loaded) : nullptr;
    size = res ? SizeofResource(nullptr, res) : 0;
    return data && size;
}

// ---- Enabling the layout for the current user ------------------------------------------------
// InstallLayoutOrTip lives in input.dll from Windows 7 on; it is looked up at
// run time so the setup starts on older Windows (and on Wine) without it.
using InstallLayoutOrTipFn = BOOL(WINAPI*)(LPCWSTR, DWORD);
constexpr DWORD kIlotUninstall = 0x00000001;

InstallLayoutOrTipFn layoutOrTipFunction() {
    Path dll;
    if (!windowsFolder(dll)) return nullptr;
    dll.add(L"\\System32\\input.dll");   // WOW64 redirects this to the 32-bit one
    HMODULE input = LoadLibraryW(dll.s);
    if (!input) return nullptr;
    return reinterpret_cast<InstallLayoutOrTipFn>(
        reinterpret_cast<void*>(GetProcAddress(input, "InstallLayoutOrTip")));
}

// "0409:A0000409": the language the KLID's last four digits name, and the KLID.
bool layoutOrTip(const Text& klid, DWORD flags) {
    InstallLayoutOrTipFn fn = layoutOrTipFunction();
    if (!fn || klid.length != 8) return false;
    WideBuf<32> arg;
    arg.add(wide(klid) + 4, 4).add(L":").add(wide(klid), 8);
    for (size_t i = 0; i < arg.n; ++i)
        if (arg.s[i] >= L'a' && arg.s[i] <= L'f') arg.s[i] = static_cast<wchar_t>(arg.s[i] - 32);
    return fn(arg.s, flags) != FALSE;
}

void reenable(const Plan& plan) {
    for (size_t i = 0; i < plan.removedCount; ++i) layoutOrTip(plan.removed[i], 0);
}

// The current user's entries for the KLIDs the plan removes: the tip first,
// then whatever Preload and Substitutes still name. When the user's list
// cannot be read, the tips are put back and gMessage says why.
bool cleanUpUser(Plan& plan) {
    if (plan.removedCount == 0) return true;
    for (size_t i = 0; i < plan.removedCount; ++i) layoutOrTip(plan.removed[i], kIlotUninstall);
    UserSnapshot user;
    DWORD error = 0;
    if (readUser(user, error)) {
        planUserCleanup(user, plan);
        if (plan.status == Status::Ok) return true;
    }
    reenable(plan);
    gMessage.clear().add(L"Cannot read your keyboard list: ").error(error);
    return false;
}

// ---- Install -----------------------------------------------------------------------------------
Snapshot gSnapshot;
Plan gPlan;
Journal gJournal;

// Every keyboard layout's key, into gSnapshot; when they cannot be read,
// gMessage says why.
bool snapshotLayouts() {
    DWORD error = 0;
    if (readLayouts(gSnapshot, error)) return true;
    gMessage.clear().add(L"Cannot read the keyboard layouts in HKLM\\").add(kLayoutsPath).add(L": ").error(error);
    return false;
}

DWORD failWith(const Options& o, const wchar_t* what) {
    gMessage.clear().add(what);
    return tell(o, kFailed, gMessage.s);
}

DWORD failRolledBack(const Options& o, const Plan& plan) {
    gJournal.rollback();
    reenable(plan);
    gMessage.clear().add(o.uninstall ? L"Uninstall failed: " : L"Setup failed: ").add(gJournal.failure());
    gMessage.add(L"\nEverything this run changed has been undone.");
    return tell(o, kFailed, gMessage.s);
}

[[gnu::noinline]] bool keepSetupCopy(Journal& j, Path& copy) {
    Path folder;
    if (!programFolder(folder)) return j.failureText().add(L"Cannot find the Program Files folder"), false;
    copy.clear().add(folder.s).add(L"\\").add(kProgramFile);
    wchar_t own[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return j.failureText().add(L"Cannot find this program's own file"), false;
    unsigned char* bytes = nullptr;
    DWORD size = 0;
    bool missing = false;
    if (!readWholeFile(own, bytes, size, missing))
        return j.failureText().add(L"Cannot read ").add(own).add(L": ").error(GetLastError()), false;
    return j.createDirectory(folder.s) && j.writeFile(copy.s, bytes, size);
}

[[gnu::noinline]] bool writeUninstallEntry(Journal& j, const Path& copy, const Plan& plan) {
    const RegKey key{HKEY_LOCAL_MACHINE, kUninstallPath, kUninstallKey};
    Path folder, command, quiet;
    WideBuf<128> comments;
    programFolder(folder);
    command.add(L"\"").add(copy.s).add(L"\" --uninstall");
    quiet.add(command.s).add(L" --quiet");
    comments.add(L"Keyboard layout ").add(plan.klid).add(L", Layout Id ").hex(plan.layoutId, 4);
    return j.setString(key, L"DisplayName", kProductName) && j.setString(key, L"DisplayVersion", kVersion) &&
           j.setString(key, L"Publisher", kPublisher) && j.setString(key, L"Comments", comments.s) &&
           j.setString(key, L"InstallLocation", folder.s) && j.setString(key, L"UninstallString", command.s) &&
           j.setString(key, L"QuietUninstallString", quiet.s) && j.setDword(key, L"NoModify", 1) &&
           j.setDword(key, L"NoRepair", 1);
}

[[gnu::noinline]] bool placeImages(Journal& j, Machine machine, bool wow64) {
    Placement where[2];
    const size_t n = placeImages(machine, where);
    for (size_t i = 0; i < n; ++i) {
        Path path;
        const void* data = nullptr;
        DWORD size = 0;
        if (!imageBytes(where[i].image, data, size))
            return j.failureText().add(L"This setup is damaged: a layout image is missing from it"), false;
        if (!imagePath(where[i].folder, wow64, path))
            return j.failureText().add(L"Cannot find the Windows folder"), false;
        if (!j.writeFile(path.s, data, size)) return false;
    }
    return true;
}

[[gnu::noinline]] DWORD install(const Options& o) {
    if (!snapshotLayouts()) return tell(o, kFailed, gMessage.s);
    planInstall(gSnapshot, o.language, Text::of(reinterpret_cast<const char16_t*>(kVersion)), gPlan);
    if (gPlan.status != Status::Ok) return failWith(o, WideBuf<256>().add(L"Setup refused: ").ascii(describe(gPlan.status)).s);
    if (!cleanUpUser(gPlan)) return tell(o, kFailed, gMessage.s);

    bool wow64 = false;
    const Machine machine = nativeMachine(wow64);
    Path copy;
    // The key first, the program's entry next, the images last: a file in use
    // is then the last thing to wait for a restart.
    if (!applyPlan(gPlan, gJournal) || !keepSetupCopy(gJournal, copy) || !writeUninstallEntry(gJournal, copy, gPlan) ||
        !placeImages(gJournal, machine, wow64))
        return failRolledBack(o, gPlan);

    const bool enabled = o.enable && layoutOrTip(gPlan.klid, 0);
    gMessage.clear().add(kProductName).add(L" ").add(kVersion);
    switch (gPlan.outcome) {
    case Outcome::Fresh: gMessage.add(L" is installed"); break;
    case Outcome::Moved: gMessage.add(L" is installed for the new language"); break;
    default: gMessage.add(gJournal.changed() ? L" is updated" : L" was already installed (nothing changed)"); break;
    }
    gMessage.add(L": keyboard layout ").add(gPlan.klid).add(L", Layout Id ").hex(gPlan.layoutId, 4);
    gMessage.add(L", for ").add(machineName(machine)).add(L" Windows.\n\n");
    // One sentence: how to switch to it, and whether a restart is still due.
    if (enabled)
        gMessage.add(L"It is in your list of keyboards now: press Windows key + Space to switch to it");
    else
        gMessage.add(L"Add it under Settings > Time & language > Language & region > (your language) > Keyboards, "
                     L"then press Windows key + Space to switch to it");
    gMessage.add(gJournal.restartNeeded()
                     ? L"; an older copy of the layout is in use, so restart Windows to finish replacing it."
                     : L"; nothing waits for a restart.");
    return tell(o, gJournal.restartNeeded() ? kRestartNeeded : kDone, gMessage.s);
}

// ---- Uninstall -------------------------------------------------------------------------------------
bool uninstallEntryExists() {
    HKEY h = openKey(RegKey{HKEY_LOCAL_MACHINE, kUninstallPath, kUninstallKey}, KEY_READ);
    if (h) RegCloseKey(h);
    return h != nullptr;
}

[[gnu::noinline]] bool removeImagesAndCopy(Journal& j, Machine machine, bool wow64) {
    Placement where[2];
    const size_t n = placeImages(machine, where);
    for (size_t i = 0; i < n; ++i) {
        Path path;
        if (!imagePath(where[i].folder, wow64, path))
            return j.failureText().add(L"Cannot find the Windows folder"), false;
        if (!j.removeFile(path.s)) return false;
    }
    Path folder, copy;
    if (!programFolder(folder)) return true;
    copy.add(folder.s).add(L"\\").add(kProgramFile);
    // The kept copy is usually the program running now (Settings runs it): it
    // goes at the next restart, which nobody needs to make for it.
    return j.removeFile(copy.s, false) && j.removeDirectory(folder.s, false);
}

[[gnu::noinline]] DWORD uninstall(const Options& o) {
    if (!snapshotLayouts()) return tell(o, kFailed, gMessage.s);
    planUninstall(gSnapshot, gPlan);
    const bool entry = uninstallEntryExists();
    if (gPlan.status == Status::NotInstalled && !entry)
        return tell(o, kDone, L"The Qelvo keyboard layout is not installed; nothing changed.");
    if (gPlan.status == Status::NotInstalled) gPlan.status = Status::Ok;   // the files and the entry remain
    if (gPlan.status != Status::Ok) return failWith(o, WideBuf<256>().add(L"Uninstall refused: ").ascii(describe(gPlan.status)).s);
    if (!cleanUpUser(gPlan)) return tell(o, kFailed, gMessage.s);

    bool wow64 = false;
    const Machine machine = nativeMachine(wow64);
    if (!applyPlan(gPlan, gJournal) || !gJournal.deleteKey(RegKey{HKEY_LOCAL_MACHINE, kUninstallPath, kUninstallKey}) ||
        !removeImagesAndCopy(gJournal, machine, wow64))
        return failRolledBack(o, gPlan);

    gMessage.clear().add(kProductName).add(L" is removed");
    if (gPlan.removedCount) {
        gMessage.add(L" (keyboard layout");
        for (size_t i = 0; i < gPlan.removedCount; ++i) gMessage.add(L" ").add(gPlan.removed[i]);
        gMessage.add(L")");
    }
    gMessage.add(L". Sign out and in again to see it gone from the list of keyboards.");
    if (gJournal.restartNeeded()) gMessage.add(L"\n\nSome of its files are in use: restart Windows to finish removing them.");
    return tell(o, gJournal.restartNeeded() ? kRestartNeeded : kDone, gMessage.s);
}

DWORD run() {
    Options o;
    WideBuf<512> error;
    if (!parseOptions(o, error)) {
        // A wrong command line is answered as asked: quietly when --quiet came before it.
        return tell(o, kUsage, error.s);
    }
    if (o.help) {
        if (o.quiet) writeStd(STD_OUTPUT_HANDLE, kUsageText);
        else MessageBoxW(nullptr, kUsageText, L"Qelvo Keyboard Layout Setup", MB_OK | MB_ICONINFORMATION);
        return kDone;
    }
    if (!elevated())
        return tell(o, kFailed, L"The setup changes Windows for every user and needs administrator rights: "
                                L"run it as administrator.");
    return o.uninstall ? uninstall(o) : install(o);
}

}  // namespace
}  // namespace setup

extern "C" void start() { ExitProcess(setup::run()); }
