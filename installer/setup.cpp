// NAME-setup.exe: installs, upgrades or removes one keyboard layout, the one
// its identity resource names (identity.h). The decisions are the planner's
// (plan.h); this file reads the machine, runs the plan through the journal
// (which undoes a half-done run), and tells the user what happened. No C
// runtime: the entry point is `start`.
#include <windows.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include "identity.h"
#include "journal.h"
#include "plan.h"
#include "registry.h"
#include "resources.h"
#include "wintext.h"

namespace setup {
namespace {

// Which layout this setup installs, read from its resource at start. Its
// name (the file name without .dll) names the entry in the list of programs,
// the folder in Program Files and the kept copy of the setup in it.
Identity gId;
const wchar_t* productName() { return wide(gId.layoutText); }
const wchar_t* uninstallKey() { return wide(gId.name); }
const wchar_t* wideLong(const LongText& t) { return reinterpret_cast<const wchar_t*>(t.unit); }
constexpr wchar_t kProgramFileEnd[] = L"-setup.exe";

constexpr wchar_t kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr DWORD kRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;   // 3010, as installers report it

// The setup's record of what it registered, kept in its entry in the list of
// programs: a registration that goes missing (a feature update drops the
// Keyboard Layouts key and leaves the files) comes back the same.
constexpr wchar_t kRecordKlid[] = L"KeyboardLayout";
constexpr wchar_t kRecordLayoutId[] = L"LayoutId";
constexpr wchar_t kRecordSignIn[] = L"SignInScreen";   // DWORD 1: also at the sign-in screen
// DWORD 1: the language was given (--language), so every user's list has the
// layout under the KLID's language rather than under their own first one.
constexpr wchar_t kRecordLanguageGiven[] = L"LanguageGiven";

// Active Setup: Windows runs StubPath once for each user at their next
// sign-in (and again when Version rises), which adds the layout to the list
// of every user, the person at the desk among them when the setup ran under
// another account. The per-user copy of the entry records that it ran.
constexpr wchar_t kActiveSetupPath[] = L"SOFTWARE\\Microsoft\\Active Setup\\Installed Components";
const wchar_t* activeSetupId() { return wideLong(gId.activeSetupId); }

enum Exit : DWORD { kDone = 0, kFailed = 1, kUsage = 2 };

struct Options {
    bool     quiet = false;
    bool     uninstall = false;
    bool     enable = true;
    bool     help = false;
    bool     signIn = false;      // also in the sign-in screen's list (.DEFAULT)
    bool     repair = false;      // only as a repair of an installed copy
    bool     enableForMe = false; // only add the installed layout to this user's list
    bool     everyUser = false;   // every user's list at their next sign-in (Active Setup)
    bool     languageGiven = false;
    bool     relaunched = false;  // this is the elevated run the setup started itself
    bool     deskLanguageGiven = false;
    uint16_t language = 0x0409;
    uint16_t deskLanguage = 0;    // the elevated run: the first language of who started the setup
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
        WideBuf<64> title;
        title.add(gId.layoutText).add(gId.layoutText.empty() ? L"Setup" : L" Setup");
        MessageBoxW(nullptr, text, title.s, MB_OK | icon | MB_SETFOREGROUND);
    }
    return code;
}

// NAME-setup, then kUsageOptions, then the layout's text, then kUsageText.
constexpr wchar_t kUsageOptions[] =
    L" [--quiet] [--uninstall | --repair | --enable-for-me] [--language XXXX]\n"
    L"      [--sign-in-screen] [--every-user] [--no-enable] [--help]\n"
    L"\n"
    L"Installs ";
constexpr wchar_t kUsageText[] =
    L" for every user of this computer, or upgrades it.\n"
    L"\n"
    L"  --uninstall       remove the layout, its files and its entry in the list of programs,\n"
    L"                    and take it out of every user's list and the sign-in screen's\n"
    L"  --repair          register the installed layout again as it was (after a Windows update\n"
    L"                    removed it) and put back its files if they differ\n"
    L"  --language XXXX   list the layout under this language (4 hex digits) for every user\n"
    L"                    (default: under each user's own first language)\n"
    L"  --sign-in-screen  also offer the layout at the sign-in and lock screens\n"
    L"  --every-user      add the layout to the list of every user when they next sign in\n"
    L"  --enable-for-me   add the installed layout to your own list (no administrator rights)\n"
    L"  --no-enable       do not add the layout to your own list of keyboards\n"
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
        } else if (wideEqual(a, L"--sign-in-screen")) {
            o.signIn = true;
        } else if (wideEqual(a, L"--repair") || wideEqual(a, L"/repair")) {
            o.repair = true;
        } else if (wideEqual(a, L"--enable-for-me")) {
            o.enableForMe = true;
        } else if (wideEqual(a, L"--every-user")) {
            o.everyUser = true;
        } else if (wideEqual(a, L"--elevated-run")) {
            o.relaunched = true;
        } else if (wideEqual(a, L"--help") || wideEqual(a, L"-h") || wideEqual(a, L"/?")) {
            o.help = true;
        } else if (wideEqual(a, L"--language") || wideEqual(a, L"--desk-language")) {
            const bool desk = a[2] == L'd';
            if (i + 1 == argc) {
                error.add(a).add(L" needs a value, such as 0409");
                ok = false;
            } else if (!parseLanguage(Text::of(reinterpret_cast<const char16_t*>(argv[i + 1])),
                                      desk ? o.deskLanguage : o.language)) {
                error.add(a).add(L" ").add(argv[i + 1]).add(L": ").ascii(describe(Status::BadLanguage));
                ok = false;
            }
            (desk ? o.deskLanguageGiven : o.languageGiven) = true;
            ++i;
        } else {
            error.add(L"Unknown option ").add(a).add(L" (--help lists the options)");
            ok = false;
        }
    }
    LocalFree(argv);
    if (ok && o.uninstall + o.repair + o.enableForMe > 1) {
        error.add(L"--uninstall, --repair and --enable-for-me exclude each other");
        ok = false;
    }
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
    out.add(gId.layoutFile);
    return !out.cut;
}

// Where the kept copy of the setup lives: the machine's own Program Files,
// whichever of the three setups runs.
bool programFolder(Path& out) {
    wchar_t dir[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramW6432", dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = GetEnvironmentVariableW(L"ProgramFiles", dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    out.clear().add(dir, n).add(L"\\").add(gId.name);
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
constexpr DWORD kIlotDefaultUser = 0x00000004;      // .DEFAULT's list: the sign-in and lock screens
constexpr DWORD kIlotNotThisSession = 0x00000020;   // saved, not applied to the running session
constexpr DWORD kIlotSignInScreen = kIlotDefaultUser | kIlotNotThisSession;

InstallLayoutOrTipFn layoutOrTipFunction() {
    Path dll;
    if (!windowsFolder(dll)) return nullptr;
    dll.add(L"\\System32\\input.dll");   // WOW64 redirects this to the 32-bit one
    HMODULE input = LoadLibraryW(dll.s);
    if (!input) return nullptr;
    return reinterpret_cast<InstallLayoutOrTipFn>(
        reinterpret_cast<void*>(GetProcAddress(input, "InstallLayoutOrTip")));
}

// `klid` under `language` ("0407:A0000409") into or out of a list: `flags`
// say which list and which way.
bool layoutOrTip(const Text& klid, uint16_t language, DWORD flags) {
    InstallLayoutOrTipFn fn = layoutOrTipFunction();
    const Text text = layoutOrTipText(language, klid);
    if (!fn || text.empty()) return false;
    return fn(wide(text), flags) != FALSE;
}

// What a run took out of the current user's list, listed again when it fails.
struct Listing {
    Text     klid;
    uint16_t language = 0;
};
struct Listings {
    static constexpr size_t kMax = Plan::kMaxRemoved * kMaxListLanguages;
    Listing item[kMax];
    size_t  n = 0;
};
Listings gTakenOut;
Listings gSignInTakenOut;   // out of the sign-in screen's list, once the run has succeeded

// `klid` out of the current user's list under every language it may be
// listed under there; the ones a rollback lists it under again are kept.
void takeOut(const UserSnapshot& user, const Text& klid, bool languageFixed) {
    uint16_t languages[kMaxListLanguages];
    size_t listed = 0;
    const size_t n = removalLanguages(user, klid, languageFixed, languages, listed);
    for (size_t i = 0; i < n; ++i) {
        layoutOrTip(klid, languages[i], kIlotUninstall);
        if (i < listed && gTakenOut.n < Listings::kMax) gTakenOut.item[gTakenOut.n++] = Listing{klid, languages[i]};
    }
}

// The sign-in screen's listings of `klid`, taken out once the run has succeeded.
void noteSignInListings(const UserSnapshot& user, const Text& klid, bool languageFixed) {
    uint16_t languages[kMaxListLanguages];
    size_t listed = 0;
    const size_t n = removalLanguages(user, klid, languageFixed, languages, listed);
    for (size_t i = 0; i < n && gSignInTakenOut.n < Listings::kMax; ++i)
        gSignInTakenOut.item[gSignInTakenOut.n++] = Listing{klid, languages[i]};
}

void takeOutOfSignInScreen() {
    for (size_t i = 0; i < gSignInTakenOut.n; ++i)
        layoutOrTip(gSignInTakenOut.item[i].klid, gSignInTakenOut.item[i].language, kIlotUninstall | kIlotSignInScreen);
}

void reenable() {
    for (size_t i = 0; i < gTakenOut.n; ++i) layoutOrTip(gTakenOut.item[i].klid, gTakenOut.item[i].language, 0);
}

// The name of an account by its SID, as Windows gives it.
[[gnu::noinline]] AccountName accountOf(PSID sid) {
    AccountName a;
    wchar_t user[64], domain[64];
    DWORD userLength = 64, domainLength = 64;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, user, &userLength, domain, &domainLength, &use)) return a;
    a.user = Text::of(reinterpret_cast<const char16_t*>(user));
    a.domain = Text::of(reinterpret_cast<const char16_t*>(domain));
    a.known = true;
    return a;
}

// One name of this session's signed-in user (WTSUserName, WTSDomainName).
bool sessionText(WTS_INFO_CLASS which, Text& out) {
    wchar_t* buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, which, &buffer, &bytes) ||
        !buffer)
        return false;
    out = Text::of(reinterpret_cast<const char16_t*>(buffer));
    WTSFreeMemory(buffer);
    return true;
}

// Whether this process runs as the person signed in at the desk, so that this
// HKCU is theirs. It is not when an administrator's name and password answered
// the elevation prompt, and not for a setup run as SYSTEM by a deployment
// tool: the session's user (what the session manager says, which needs no
// privilege to ask) is then another account than this process's token's. When
// either cannot be told, it counts as another account.
[[gnu::noinline]] bool runsAsDeskUser() {
    alignas(8) unsigned char own[128];   // TOKEN_USER and its SID (at most 68 bytes)
    HANDLE token = nullptr;
    DWORD size = 0;
    const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, own, sizeof own, &size);
    if (token) CloseHandle(token);
    AccountName self, desk;
    if (known) self = accountOf(reinterpret_cast<TOKEN_USER*>(own)->User.Sid);
    desk.known = sessionText(WTSUserName, desk.user) && sessionText(WTSDomainName, desk.domain);
    return sameAccount(self, desk);
}

// The current user's entries for the KLIDs the plan removes: the tip first,
// then whatever Preload and Substitutes still name. When the user's list
// cannot be read, the tips are put back and gMessage says why.
bool cleanUpUser(Plan& plan, bool languageFixed) {
    if (plan.removedCount == 0) return true;
    UserSnapshot user;
    DWORD error = 0;
    if (readUser(Hive{}, user, error)) {
        for (size_t i = 0; i < plan.removedCount; ++i) takeOut(user, plan.removed[i], languageFixed);
        planUserCleanup(user, plan);
        if (plan.status == Status::Ok) return true;
    }
    reenable();
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
    if (readLayouts(gId.marker, gSnapshot, error)) return true;
    gMessage.clear().add(L"Cannot read the keyboard layouts in HKLM\\").add(kLayoutsPath).add(L": ").error(error);
    return false;
}

DWORD failWith(const Options& o, const wchar_t* what) {
    gMessage.clear().add(what);
    return tell(o, kFailed, gMessage.s);
}

DWORD failRolledBack(const Options& o) {
    gJournal.rollback();
    reenable();
    gMessage.clear().add(o.uninstall ? L"Uninstall failed: " : L"Setup failed: ").add(gJournal.failure());
    gMessage.add(L"\nEverything this run changed has been undone.");
    return tell(o, kFailed, gMessage.s);
}

[[gnu::noinline]] bool keepSetupCopy(Journal& j, Path& copy) {
    Path folder;
    if (!programFolder(folder)) return j.failureText().add(L"Cannot find the Program Files folder"), false;
    copy.clear().add(folder.s).add(L"\\").add(gId.name).add(kProgramFileEnd);
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

[[gnu::noinline]] bool writeUninstallEntry(Journal& j, const Path& copy, const Plan& plan, bool signIn,
                                           bool languageGiven) {
    const RegKey key{HKEY_LOCAL_MACHINE, kUninstallPath, uninstallKey()};
    Path folder, command, quiet;
    WideBuf<128> comments;
    programFolder(folder);
    command.add(L"\"").add(copy.s).add(L"\" --uninstall");
    quiet.add(command.s).add(L" --quiet");
    comments.add(L"Keyboard layout ").add(plan.klid).add(L", Layout Id ").hex(plan.layoutId, 4);
    return j.setString(key, L"DisplayName", productName()) && j.setString(key, L"DisplayVersion", wide(gId.version)) &&
           j.setString(key, L"Publisher", wideLong(gId.publisher)) && j.setString(key, L"Comments", comments.s) &&
           j.setString(key, L"InstallLocation", folder.s) && j.setString(key, L"UninstallString", command.s) &&
           j.setString(key, L"QuietUninstallString", quiet.s) && j.setDword(key, L"NoModify", 1) &&
           j.setDword(key, L"NoRepair", 1) && j.setString(key, kRecordKlid, wide(plan.klid)) &&
           j.setString(key, kRecordLayoutId, WideBuf<8>().hex(plan.layoutId, 4).s) &&
           (!signIn || j.setDword(key, kRecordSignIn, 1)) &&
           (!languageGiven || j.setDword(key, kRecordLanguageGiven, 1));
}

// ---- The setup's record ---------------------------------------------------------------------------
struct Record {
    Text klid;       // empty when the setup is not installed
    Text layoutId;
    bool signIn = false;
    bool languageGiven = false;
};

bool dwordIsOne(HKEY h, const wchar_t* name) {
    DWORD type = 0, value = 0, size = sizeof value;
    return RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && value == 1;
}

Record readRecord() {
    const RegKey key{HKEY_LOCAL_MACHINE, kUninstallPath, uninstallKey()};
    Record r;
    r.klid = readString(key, kRecordKlid);
    r.layoutId = readString(key, kRecordLayoutId);
    if (HKEY h = openKey(key, KEY_QUERY_VALUE)) {
        r.signIn = dwordIsOne(h, kRecordSignIn);
        r.languageGiven = dwordIsOne(h, kRecordLanguageGiven);
        RegCloseKey(h);
    }
    return r;
}

// Whether every user's list has the layout under the KLID's language: the
// language was given, now or when it was installed, or the identity names one.
bool languageFixed(const Record& record) { return record.languageGiven || gId.language != 0; }

bool keyExists(const RegKey& key) {
    HKEY h = openKey(key, KEY_READ);
    if (h) RegCloseKey(h);
    return h != nullptr;
}

// ---- Every user's hive, the sign-in screen and Active Setup ---------------------------------------
Plan gHivePlan;
UserSnapshot gHiveUser;

bool sameNameNoCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        const wchar_t x = *a >= L'A' && *a <= L'Z' ? static_cast<wchar_t>(*a + 32) : *a;
        const wchar_t y = *b >= L'A' && *b <= L'Z' ? static_cast<wchar_t>(*b + 32) : *b;
        if (x != y) return false;
        if (!x) return true;
    }
}

// The hives loaded under HKEY_USERS, one per call: .DEFAULT and the SID of
// each account signed in or running a service (not their *_Classes parts).
// A hive this process may not change (another service's) is passed over.
bool nextHive(DWORD& index, WideBuf<128>& name) {
    for (;;) {
        wchar_t buffer[128];
        DWORD n = 128;
        const LONG r = RegEnumKeyExW(HKEY_USERS, index++, buffer, &n, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS) return false;
        if (n > 8 && sameNameNoCase(buffer + n - 8, L"_Classes")) continue;
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, buffer, 0, KEY_READ | KEY_WRITE, &h) != ERROR_SUCCESS) continue;
        RegCloseKey(h);
        name.clear().add(buffer, n);
        return true;
    }
}

// An empty plan for one hive, removing what `from` removes (nothing when null).
void startHivePlan(const Plan* from) {
    gHivePlan.status = Status::Ok;
    gHivePlan.opCount = 0;
    gHivePlan.removedCount = from ? from->removedCount : 0;
    for (size_t i = 0; i < gHivePlan.removedCount; ++i) gHivePlan.removed[i] = from->removed[i];
}

// Every hive's entries for the KLIDs `plan` removes, and with them each
// user's copy of our Active Setup entry (on uninstall always), so that Active
// Setup runs again for them for the layout that takes their place or a later
// install. The sign-in screen's listings of them are noted in gSignInTakenOut.
[[gnu::noinline]] bool cleanUpHives(Journal& j, const Plan& plan, bool uninstalling, bool languageFixed) {
    DWORD index = 0;
    WideBuf<128> name;
    while (nextHive(index, name)) {
        const Hive hive{HKEY_USERS, name.s};
        if (plan.removedCount) {
            DWORD error = 0;
            if (!readUser(hive, gHiveUser, error))
                return j.failureText().add(L"Cannot read the keyboard list in HKEY_USERS\\").add(name.s).add(L": ").error(error), false;
            startHivePlan(&plan);
            planUserCleanup(gHiveUser, gHivePlan);
            if (gHivePlan.status != Status::Ok)
                return j.failureText().add(L"HKEY_USERS\\").add(name.s).add(L": ").ascii(describe(gHivePlan.status)), false;
            if (gHivePlan.opCount && sameNameNoCase(name.s, L".DEFAULT"))
                for (size_t i = 0; i < plan.removedCount; ++i) noteSignInListings(gHiveUser, plan.removed[i], languageFixed);
            if (!applyPlan(gHivePlan, j, hive)) return false;
        }
        if (uninstalling || plan.removedCount) {
            WideBuf<512> path;
            hive.path(kActiveSetupPath, path);
            if (!j.deleteKey(RegKey{HKEY_USERS, path.s, activeSetupId()})) return false;
        }
    }
    return true;
}

// The layout in the list the sign-in and lock screens use, under `language`
// (that list's first one unless the language is fixed).
[[gnu::noinline]] bool addToSignInScreen(Journal& j, const Text& klid, bool languageFixed, uint16_t& language) {
    const Hive hive{HKEY_USERS, L".DEFAULT"};
    DWORD error = 0;
    if (!readUser(hive, gHiveUser, error))
        return j.failureText().add(L"Cannot read the sign-in screen's keyboard list: ").error(error), false;
    startHivePlan(nullptr);
    language = listLanguage(gHiveUser, klid, languageFixed);
    planUserAdd(gHiveUser, klid, language, gHivePlan);
    if (gHivePlan.status != Status::Ok)
        return j.failureText().add(L"The sign-in screen's keyboard list: ").ascii(describe(gHivePlan.status)), false;
    return applyPlan(gHivePlan, j, hive);
}

[[gnu::noinline]] bool writeActiveSetup(Journal& j, const Path& copy) {
    const RegKey key{HKEY_LOCAL_MACHINE, kActiveSetupPath, activeSetupId()};
    Path stub;
    stub.add(L"\"").add(copy.s).add(L"\" --enable-for-me --quiet");
    // Active Setup's version is the setup's, with commas.
    WideBuf<32> version;
    version.add(gId.version);
    for (size_t i = 0; i < version.n; ++i)
        if (version.s[i] == L'.') version.s[i] = L',';
    return j.setString(key, L"", productName()) && j.setString(key, L"StubPath", stub.s) &&
           j.setString(key, L"Version", version.s) && j.setDword(key, L"IsInstalled", 1);
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

// The language of the layout's KLID: the one asked for, else the installed
// copy's, else the one the identity names, else that of the first keyboard of
// whoever started the setup (the elevated run is told it; the sign-in
// screen's when this runs under another account), else 0409.
[[gnu::noinline]] uint16_t chooseLanguage(const Options& o, const Record& record, bool otherAccount) {
    uint16_t language = o.language;
    if (o.languageGiven || klidLanguage(record.klid, language)) return language;
    if (gId.language) return gId.language;
    if (o.deskLanguageGiven) return o.deskLanguage;
    DWORD error = 0;
    const Hive hive = otherAccount || o.relaunched ? Hive{HKEY_USERS, L".DEFAULT"} : Hive{};
    if (readUser(hive, gHiveUser, error) && firstLanguage(gHiveUser, language)) return language;
    return o.language;
}

// The installed layout into the current user's list, under their first
// language unless the language is fixed. False when Windows did not add it.
[[gnu::noinline]] bool addToMyList(const Record& record) {
    DWORD error = 0;
    UserSnapshot user;
    if (!readUser(Hive{}, user, error)) user = UserSnapshot{};
    return layoutOrTip(record.klid, listLanguage(user, record.klid, languageFixed(record)), 0);
}

// The one sentence on how to switch to the layout when it is in your list.
constexpr wchar_t kSwitchTo[] = L"press Windows key + Space to switch to it";

[[gnu::noinline]] DWORD install(const Options& o) {
    if (!snapshotLayouts()) return tell(o, kFailed, gMessage.s);
    // The record of an earlier install: its KLID and Layout Id come back when
    // the registration is gone, and its language stays unless --language
    // names another.
    const Record record = readRecord();
    // Whose list this run adds the layout to: the elevated run the setup
    // started leaves it to the run that started it, which is the person at the
    // desk; a run started elevated does it when it runs as that person, and
    // otherwise leaves it to Active Setup at their next sign-in.
    const bool otherAccount = !o.relaunched && !runsAsDeskUser();
    const bool enableHere = o.enable && !o.relaunched && !otherAccount;
    const uint16_t language = chooseLanguage(o, record, otherAccount);
    if (o.repair && record.klid.empty())
        return failWith(o, WideBuf<128>().add(L"There is no installed ").add(gId.layoutText)
                               .add(L" to repair: run the setup without --repair.").s);
    gSnapshot.keptKlid = record.klid;
    gSnapshot.keptLayoutId = record.layoutId;
    planInstall(gSnapshot, gId, language, gPlan);
    if (gPlan.status != Status::Ok) return failWith(o, WideBuf<256>().add(L"Setup refused: ").ascii(describe(gPlan.status)).s);
    if (!cleanUpUser(gPlan, languageFixed(record))) return tell(o, kFailed, gMessage.s);

    Record now = record;
    now.klid = gPlan.klid;
    now.languageGiven = o.languageGiven || record.languageGiven;
    const bool signIn = o.signIn || record.signIn;
    const bool everyUser = o.everyUser || otherAccount ||
                           keyExists(RegKey{HKEY_LOCAL_MACHINE, kActiveSetupPath, activeSetupId()});
    bool wow64 = false;
    const Machine machine = nativeMachine(wow64);
    Path copy;
    uint16_t signInLanguage = 0;
    // The key first, the program's entry and the users' lists next, the
    // images last: a file in use is then the last thing to wait for a restart.
    if (!applyPlan(gPlan, gJournal) || !keepSetupCopy(gJournal, copy) ||
        !writeUninstallEntry(gJournal, copy, gPlan, signIn, now.languageGiven) ||
        !cleanUpHives(gJournal, gPlan, false, languageFixed(record)) ||
        (signIn && !addToSignInScreen(gJournal, gPlan.klid, languageFixed(now), signInLanguage)) ||
        (everyUser && !writeActiveSetup(gJournal, copy)) || !placeImages(gJournal, machine, wow64))
        return failRolledBack(o);

    takeOutOfSignInScreen();
    if (signIn) layoutOrTip(gPlan.klid, signInLanguage, kIlotSignInScreen);
    const bool enabled = enableHere && addToMyList(now);
    gMessage.clear().add(productName()).add(L" ").add(gId.version);
    switch (gPlan.outcome) {
    case Outcome::Fresh: gMessage.add(L" is installed"); break;
    case Outcome::Moved: gMessage.add(L" is installed for the new language"); break;
    case Outcome::Restored: gMessage.add(L" is repaired: its registration is back as it was"); break;
    default: gMessage.add(gJournal.changed() ? L" is updated" : L" was already installed (nothing changed)"); break;
    }
    gMessage.add(L": keyboard layout ").add(gPlan.klid).add(L", Layout Id ").hex(gPlan.layoutId, 4);
    gMessage.add(L", for ").add(machineName(machine)).add(L" Windows");
    if (signIn) gMessage.add(L", also at the sign-in screen");
    gMessage.add(L".\n\n");
    // One sentence: how to switch to it, and whether a restart is still due.
    if (enabled)
        gMessage.add(L"It is in your list of keyboards now: ").add(kSwitchTo);
    else if (o.relaunched && o.enable)
        gMessage.add(L"It joins your list of keyboards when this setup closes: ").add(kSwitchTo);
    else if (otherAccount)
        gMessage.add(L"The setup ran under another account, so the layout joins the list of whoever signs in next "
                     L"(sign out and in again), where Windows key + Space switches to it");
    else
        gMessage.add(L"Add it under Settings > Time & language > Language & region > (your language) > Keyboards, "
                     L"then ").add(kSwitchTo);
    gMessage.add(gJournal.restartNeeded()
                     ? L"; an older copy of the layout is in use, so restart Windows to finish replacing it."
                     : L"; nothing waits for a restart.");
    return tell(o, gJournal.restartNeeded() ? kRestartNeeded : kDone, gMessage.s);
}

// ---- This user only (Active Setup runs it at sign-in) -------------------------------------------------
// No administrator rights: reads the setup's record and adds the layout to
// the list of the user running it.
DWORD enableForMe(const Options& o) {
    const Record record = readRecord();
    uint16_t language = 0;
    if (!klidLanguage(record.klid, language))
        return failWith(o, WideBuf<128>().add(gId.layoutText).add(L" is not installed; nothing to add.").s);
    if (!addToMyList(record))
        return failWith(o, WideBuf<256>().add(L"Windows did not add keyboard layout ").add(record.klid).add(L" to your list.").s);
    gMessage.clear().add(L"Keyboard layout ").add(record.klid).add(L" is in your list of keyboards now: ").add(kSwitchTo).add(L".");
    return tell(o, kDone, gMessage.s);
}

// ---- Uninstall -------------------------------------------------------------------------------------
bool uninstallEntryExists() {
    HKEY h = openKey(RegKey{HKEY_LOCAL_MACHINE, kUninstallPath, uninstallKey()}, KEY_READ);
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
    copy.add(folder.s).add(L"\\").add(gId.name).add(kProgramFileEnd);
    // The kept copy is usually the program running now (Settings runs it): it
    // goes at the next restart, which nobody needs to make for it.
    return j.removeFile(copy.s, false) && j.removeDirectory(folder.s, false);
}

[[gnu::noinline]] DWORD uninstall(const Options& o) {
    if (!snapshotLayouts()) return tell(o, kFailed, gMessage.s);
    planUninstall(gSnapshot, gPlan);
    const bool entry = uninstallEntryExists();
    if (gPlan.status == Status::NotInstalled && !entry)
        return tell(o, kDone, gMessage.clear().add(gId.layoutText).add(L" is not installed; nothing changed.").s);
    if (gPlan.status == Status::NotInstalled) {
        // The files and the entry remain; the users' lists may still name the
        // KLID the record holds.
        gPlan.status = Status::Ok;
        const Record record = readRecord();
        uint16_t language;
        if (klidLanguage(record.klid, language)) gPlan.removed[gPlan.removedCount++] = record.klid;
    }
    if (gPlan.status != Status::Ok) return failWith(o, WideBuf<256>().add(L"Uninstall refused: ").ascii(describe(gPlan.status)).s);
    const bool fixed = languageFixed(readRecord());
    if (!cleanUpUser(gPlan, fixed)) return tell(o, kFailed, gMessage.s);

    bool wow64 = false;
    const Machine machine = nativeMachine(wow64);
    if (!applyPlan(gPlan, gJournal) || !cleanUpHives(gJournal, gPlan, true, fixed) ||
        !gJournal.deleteKey(RegKey{HKEY_LOCAL_MACHINE, kActiveSetupPath, activeSetupId()}) ||
        !gJournal.deleteKey(RegKey{HKEY_LOCAL_MACHINE, kUninstallPath, uninstallKey()}) ||
        !removeImagesAndCopy(gJournal, machine, wow64))
        return failRolledBack(o);
    takeOutOfSignInScreen();

    gMessage.clear().add(productName()).add(L" is removed");
    if (gPlan.removedCount) {
        gMessage.add(L" (keyboard layout");
        for (size_t i = 0; i < gPlan.removedCount; ++i) gMessage.add(L" ").add(gPlan.removed[i]);
        gMessage.add(L")");
    }
    gMessage.add(L". Sign out and in again to see it gone from the list of keyboards.");
    if (gJournal.restartNeeded()) gMessage.add(L"\n\nSome of its files are in use: restart Windows to finish removing them.");
    return tell(o, gJournal.restartNeeded() ? kRestartNeeded : kDone, gMessage.s);
}

// The program runs as its caller (so that Active Setup can run
// --enable-for-me for a user without rights); everything else asks Windows to
// run it again elevated, with the same arguments, and reports that run's exit
// code. `deskLanguage`: the caller's first language, for the KLID, or 0.
[[gnu::noinline]] DWORD runElevated(const Options& o, uint16_t deskLanguage) {
    wchar_t own[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return tell(o, kFailed, L"Cannot find this program's own file.");
    // The arguments: the command line after the program's name.
    const wchar_t* rest = GetCommandLineW();
    if (*rest == L'"') {
        for (++rest; *rest && *rest != L'"'; ++rest) {}
        if (*rest) ++rest;
    } else {
        while (*rest && *rest != L' ' && *rest != L'\t') ++rest;
    }
    while (*rest == L' ' || *rest == L'\t') ++rest;
    static WideBuf<8192> arguments;
    arguments.add(rest).add(*rest ? L" --elevated-run" : L"--elevated-run");
    if (deskLanguage) arguments.add(L" --desk-language ").hex(deskLanguage, 4);
    if (arguments.cut) return tell(o, kUsage, L"The command line is too long.");

    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    run.lpVerb = L"runas";
    run.lpFile = own;
    run.lpParameters = arguments.s;
    run.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&run) || !run.hProcess) {
        const DWORD e = GetLastError();
        if (e == ERROR_CANCELLED)
            return tell(o, kFailed, L"The setup changes Windows for every user and needs administrator rights; "
                                    L"nothing changed.");
        gMessage.clear().add(L"Cannot start the setup with administrator rights: ").error(e);
        return tell(o, kFailed, gMessage.s);
    }
    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD code = kFailed;
    if (!GetExitCodeProcess(run.hProcess, &code)) code = kFailed;
    CloseHandle(run.hProcess);
    return code;
}

// The setup started without administrator rights, as the person at the desk
// (whoever answered the elevation prompt): the elevated run changes the
// machine, then this run changes the desk's own list, which that run cannot
// reach when another account's password elevated it. So the layout is ready
// at once either way.
[[gnu::noinline]] DWORD runForDesk(const Options& o) {
    const Record before = readRecord();
    DWORD error = 0;
    uint16_t first = 0;
    UserSnapshot user;
    if (!readUser(Hive{}, user, error) || !firstLanguage(user, first)) first = 0;
    const DWORD code = runElevated(o, first);
    if (code != kDone && code != kRestartNeeded) return code;
    const Record after = readRecord();
    // The layout this run replaced or removed out of the running session.
    if (!before.klid.empty() && (o.uninstall || !before.klid.sameName(after.klid))) {
        if (!readUser(Hive{}, user, error)) user = UserSnapshot{};
        takeOut(user, before.klid, languageFixed(before));
    }
    if (o.uninstall || !o.enable || after.klid.empty() || addToMyList(after)) return code;
    gMessage.clear().add(L"Windows did not add keyboard layout ").add(after.klid).add(L" to your list: add it under "
                         L"Settings > Time & language > Language & region > (your language) > Keyboards.");
    tell(o, kFailed, gMessage.s);
    return code;
}

// The identity resource, into gId; false when it is missing or unreadable.
[[gnu::noinline]] bool readIdentity(WideBuf<256>& error) {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(KBD_RES_IDENTITY), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = res ? LoadResource(nullptr, res) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = res ? SizeofResource(nullptr, res) : 0;
    error.add(L"This setup is damaged: ");
    if (!data) return error.add(L"it has no identity resource"), false;
    const char* wrong = parseIdentity(static_cast<const unsigned char*>(data), size, gId);
    if (wrong) return error.add(L"its identity resource has ").ascii(wrong), false;
    return true;
}

DWORD run() {
    Options o;
    WideBuf<256> damaged;
    const bool known = readIdentity(damaged);
    WideBuf<512> error;
    if (!parseOptions(o, error)) {
        // A wrong command line is answered as asked: quietly when --quiet came before it.
        return tell(o, kUsage, error.s);
    }
    if (!known) return tell(o, kFailed, damaged.s);
    if (o.help) {
        static WideBuf<2048> usage;
        usage.add(gId.name).add(L"-setup").add(kUsageOptions).add(gId.layoutText).add(kUsageText);
        return tell(o, kDone, usage.s);
    }
    if (o.enableForMe) return enableForMe(o);
    if (!elevated()) {
        if (!o.relaunched) return runForDesk(o);
        return tell(o, kFailed, L"The setup changes Windows for every user and needs administrator rights: "
                                L"run it as administrator.");
    }
    return o.uninstall ? uninstall(o) : install(o);
}

}  // namespace
}  // namespace setup

extern "C" void start() { ExitProcess(setup::run()); }
