// kbdwalk: loads a keyboard-layout DLL the way Windows loads any library and
// reports what the loader made of it, as one JSON document on stdout.
//
//   kbdwalk.exe [--string KEY]... LAYOUT.dll
//
// The image's preferred address range is reserved first, so the loader must
// relocate it; after the first load is freed, its range is reserved too, so
// the second load lands at yet another base. For each load: the base, the
// export by name and by ordinal 1, two calls of it, the protection of the
// module's pages, and the whole tree read through the real pointers. Then
// the version block, with the strings named by --string.
//
// {"format": "kbdwalk", "preferredBase", "sizeOfImage",
//  "loads": [{"base", "size", "export": {"byName", "byOrdinal", "protect"},
//             "roots": [first call, second call],
//             "regions": [{"address", "size", "protect"}, ...],
//             "layout": {...as kbdtool dump --json...}}, ...],
//  "version": {...}, "problems": [...]}
//
// Exit status: 0 when nothing was wrong, 1 when "problems" lists anything,
// 2 for a wrong command line or a file that is not a 64-bit image.
#include <windows.h>

#include "json.h"
#include "version.h"
#include "walk.h"

namespace {

constexpr size_t kMaxArgs = 64;

struct Args {
    const wchar_t* dll = nullptr;
    const wchar_t* keys[kMaxArgs];
    size_t         keyCount = 0;
};

void write(HANDLE h, const char* s, size_t n) {
    while (n) {
        DWORD done = 0;
        if (!WriteFile(h, s, static_cast<DWORD>(n > 1u << 20 ? 1u << 20 : n), &done, nullptr) || !done) return;
        s += done;
        n -= done;
    }
}

[[noreturn]] void fail(const char* message) {
    Text t;
    t.append("kbdwalk: ");
    t.append(message);
    t.append("\nusage: kbdwalk.exe [--string KEY]... LAYOUT.dll\n");
    write(GetStdHandle(STD_ERROR_HANDLE), t.data(), t.size());
    ExitProcess(2);
}

// Splits the command line as the C runtime would: white space separates,
// double quotes group, 2n backslashes before a quote give n and open or
// close, 2n+1 give n and a literal quote. The program's own name goes.
size_t splitCommandLine(wchar_t* out, wchar_t** argv, size_t max) {
    const wchar_t* s = GetCommandLineW();
    size_t argc = 0;
    while (*s) {
        while (*s == L' ' || *s == L'\t') ++s;
        if (!*s) break;
        wchar_t* arg = out;
        bool quoted = false;
        while (*s && (quoted || (*s != L' ' && *s != L'\t'))) {
            size_t backslashes = 0;
            while (*s == L'\\') {
                ++backslashes;
                ++s;
            }
            if (*s == L'"') {
                for (size_t i = 0; i < backslashes / 2; ++i) *out++ = L'\\';
                if (backslashes % 2) {
                    *out++ = L'"';
                } else {
                    quoted = !quoted;
                }
                ++s;
            } else {
                for (size_t i = 0; i < backslashes; ++i) *out++ = L'\\';
                if (*s && (quoted || (*s != L' ' && *s != L'\t'))) *out++ = *s++;
            }
        }
        *out++ = 0;
        if (argc == max) fail("too many arguments");
        argv[argc++] = arg;
    }
    return argc;
}

bool same(const wchar_t* a, const wchar_t* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

Args parseArgs() {
    const wchar_t* line = GetCommandLineW();
    size_t n = 0;
    while (line[n]) ++n;
    auto* buffer = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (n + 1) * sizeof(wchar_t)));
    static wchar_t* argv[kMaxArgs + 2];
    if (!buffer) fail("out of memory");
    const size_t argc = splitCommandLine(buffer, argv, kMaxArgs + 2);
    Args a;
    for (size_t i = 1; i < argc; ++i) {
        const wchar_t* s = argv[i];
        if (same(s, L"--string")) {
            if (i + 1 == argc) fail("--string needs a KEY");
            a.keys[a.keyCount++] = argv[++i];
        } else if (s[0] == L'-') {
            fail("unknown option");
        } else if (!a.dll) {
            a.dll = s;
        } else {
            fail("one layout at a time");
        }
    }
    if (!a.dll) fail("no layout DLL given");
    return a;
}

// Preferred base and size of a PE32+ file, from its headers on disk.
bool readHeaders(const wchar_t* path, uint64_t& base, uint32_t& size) {
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    static unsigned char head[4096];
    DWORD got = 0;
    const BOOL ok = ReadFile(f, head, sizeof head, &got, nullptr);
    CloseHandle(f);
    if (!ok || got < sizeof(IMAGE_DOS_HEADER)) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head);
    const DWORD nt = static_cast<DWORD>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || nt > got || got - nt < sizeof(IMAGE_NT_HEADERS64)) return false;
    const auto* h = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head + nt);
    if (h->Signature != IMAGE_NT_SIGNATURE || h->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return false;
    base = h->OptionalHeader.ImageBase;
    size = h->OptionalHeader.SizeOfImage;
    return true;
}

uintptr_t sizeOfLoadedImage(HMODULE m) {
    const auto* base = reinterpret_cast<const unsigned char*>(m);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew)->OptionalHeader.SizeOfImage;
}

bool inside(const Module& m, uintptr_t a) { return a >= m.base && a < m.end; }

// The regions of the module's address range and their protection.
void writeRegions(const Module& m, Json& j) {
    j.key("regions");
    j.beginArray();
    for (uintptr_t p = m.base; p < m.end;) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof mbi) || mbi.RegionSize == 0) break;
        j.beginObject();
        j.field("address", p);
        j.field("size", mbi.RegionSize);
        j.field("protect", mbi.State == MEM_COMMIT ? mbi.Protect : 0);
        j.endObject();
        p = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    }
    j.endArray();
}

using RootExport = uintptr_t (*)();

// One load: the facts, the checks, the tree. Returns the module's range,
// or an empty one when the library did not load.
Module loadOnce(const wchar_t* path, int load, uint64_t preferred, const Module& earlier, Json& j,
                Problems& problems) {
    HMODULE h = LoadLibraryExW(path, nullptr, 0);
    if (!h) {
        problems.add(load, "LoadLibraryExW", 0, GetLastError(), "could not load the library");
        return {};
    }
    const Module m{reinterpret_cast<uintptr_t>(h), reinterpret_cast<uintptr_t>(h) + sizeOfLoadedImage(h)};
    if (m.base == preferred) problems.add(load, "base", 0, m.base, "is the preferred base, which was reserved");
    if (earlier.base && m.base == earlier.base) problems.add(load, "base", 0, m.base, "is the first load's base");

    j.beginObject();
    j.field("base", m.base);
    j.field("size", m.end - m.base);

    const auto byName = reinterpret_cast<uintptr_t>(GetProcAddress(h, "KbdLayerDescriptor"));
    const auto byOrdinal = reinterpret_cast<uintptr_t>(GetProcAddress(h, MAKEINTRESOURCEA(1)));
    const uint32_t protect = byName ? protectionAt(byName) : 0;
    j.key("export");
    j.beginObject();
    j.field("byName", byName);
    j.field("byOrdinal", byOrdinal);
    j.field("protect", protect);
    j.endObject();
    if (!byName || !inside(m, byName))
        problems.add(load, "KbdLayerDescriptor", 0, byName, "is not exported by name inside the module");
    if (byOrdinal != byName) problems.add(load, "ordinal 1", 0, byOrdinal, "is not KbdLayerDescriptor");
    if (byName && !isExecutable(protect)) problems.add(load, "KbdLayerDescriptor", byName, protect, "is not executable");

    uintptr_t root = 0;
    if (byName && inside(m, byName) && isExecutable(protect)) {
        const auto call = reinterpret_cast<RootExport>(byName);
        root = call();
        const uintptr_t again = call();
        j.key("roots");
        j.beginArray();
        j.number(root);
        j.number(again);
        j.endArray();
        if (!root) problems.add(load, "KbdLayerDescriptor()", 0, root, "returned null");
        if (again != root) problems.add(load, "KbdLayerDescriptor()", root, again, "returned another address the second time");
    }
    writeRegions(m, j);
    j.key("layout");
    j.beginObject();
    if (root) walkLayout(m, root, load, j, problems);
    j.endObject();
    j.endObject();

    FreeLibrary(h);
    return m;
}

}  // namespace

extern "C" void start() {
    const Args args = parseArgs();
    uint64_t preferred = 0;
    uint32_t imageSize = 0;
    if (!readHeaders(args.dll, preferred, imageSize)) fail("cannot read the file as a 64-bit PE image");

    Text out;
    Json j(out);
    Problems problems;
    j.beginObject();
    j.key("format");
    j.string("kbdwalk");
    j.field("preferredBase", preferred);
    j.field("sizeOfImage", imageSize);

    // Hold the preferred range, so that the loader has to relocate.
    if (!VirtualAlloc(reinterpret_cast<void*>(preferred), imageSize, MEM_RESERVE, PAGE_NOACCESS))
        problems.add(-1, "the preferred range", 0, preferred, "could not be reserved");
    j.key("loads");
    j.beginArray();
    const Module first = loadOnce(args.dll, 0, preferred, {}, j, problems);
    if (first.base) {
        // Hold the first load's range too, so that the second one lands elsewhere.
        if (!VirtualAlloc(reinterpret_cast<void*>(first.base), first.end - first.base, MEM_RESERVE, PAGE_NOACCESS))
            problems.add(-1, "the first load's range", 0, first.base, "could not be reserved after FreeLibrary");
        loadOnce(args.dll, 1, preferred, first, j, problems);
    }
    j.endArray();

    j.key("version");
    writeVersion(args.dll, args.keys, args.keyCount, j, problems);
    j.key("problems");
    j.raw(problems.array());
    j.endObject();
    out.append('\n');
    write(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), out.size());
    ExitProcess(problems.any() ? 1 : 0);
}
