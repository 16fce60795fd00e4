// The x64 image in a real Windows loader: kbdwalk.exe (tests/windows) runs
// under Wine, loads the image at two bases other than its own, walks the tree
// through the pointers the loader relocated and reads the version block with
// the system's functions. What it finds must be what kbdtool reads from the
// same file mapped at the same base.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kbd/model/decoder.h"
#include "kbd/image/version.h"

using nlohmann::json;

namespace {

namespace fs = std::filesystem;

constexpr unsigned kRelocationDirectory = 5;
constexpr unsigned kRelBasedDir64 = 10;

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A unique file name in the build's scratch folder for this test.
fs::path scratch(const std::string& name) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(KBD_WINE_WORK_DIR) / (info ? info->name() : "run");
    fs::create_directories(dir);
    return dir / name;
}

struct Command {
    int         status = -1;
    std::string out;
    std::string err;
};

Command run(const std::string& command, const std::string& tag) {
    const fs::path out = scratch(tag + ".out"), err = scratch(tag + ".err");
    const int st = std::system((command + " >" + quoted(out) + " 2>" + quoted(err)).c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, readFile(out), readFile(err)};
}

// The file as a Windows program sees it, on the drive Wine maps to /.
std::string windowsPath(const fs::path& p) {
    std::string s = "Z:" + fs::absolute(p).string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// kbdwalk's run on a file; `log` is what scripts/wine said (Wine's messages
// when the run failed), shown with any failure.
struct Walk {
    Command cmd;
    json    doc;
    std::string log() const {
        std::string s = fmt::format("\nkbdwalk exited with status {}", cmd.status);
        if (!doc.is_discarded() && doc.contains("problems") && !doc["problems"].empty())
            s += "; it found:\n" + doc["problems"].dump(1);
        else if (doc.is_discarded())
            s += "; its output is no JSON:\n" + cmd.out.substr(0, 2000);
        return s + (cmd.err.empty() ? "" : "\n" + cmd.err);
    }
};

Walk walk(const fs::path& dll, const std::vector<std::string>& stringKeys = {}) {
    std::string command = fmt::format("{} {}", quoted(KBD_WINE_PATH), quoted(KBDWALK_PATH));
    for (const auto& k : stringKeys) command += " --string " + quoted(k);
    command += " " + quoted(windowsPath(dll));
    Walk w{run(command, dll.stem().string()), {}};
    w.doc = json::parse(w.cmd.out, nullptr, false);
    return w;
}

// kbdtool's model of the file mapped at `base`, without the names it sets
// beside numbers for reading (kbdwalk writes numbers and strings only).
json kbdtoolModel(const fs::path& dll, uint64_t base) {
    const Command c = run(fmt::format("{} dump --json --base {:#x} {}", quoted(KBDTOOL_PATH), base, quoted(dll)),
                          fmt::format("kbdtool-{:x}", base));
    if (c.status != 0) throw std::runtime_error("kbdtool dump failed: " + c.err);
    json j = json::parse(c.out);
    std::function<void(json&)> strip = [&](json& v) {
        if (v.is_object()) {
            for (const char* k : {"vkName", "attributeNames", "localeFlagNames"}) v.erase(k);
            if (v.contains("flags") && v["flags"].is_array()) v.erase("flags");  // scan-code flag names
            for (auto& [k, sub] : v.items()) strip(sub);
        } else if (v.is_array()) {
            for (auto& sub : v) strip(sub);
        }
    };
    strip(j);
    j.erase("format");
    j.erase("formatVersion");
    return j;
}

// Where two models part, for the failure message.
std::string difference(const json& wine, const json& kbdtool) {
    std::string s;
    int n = 0;
    for (const auto& op : json::diff(kbdtool, wine)) {
        if (++n > 8) return s + "...\n";
        s += op.dump() + "\n";
    }
    return s;
}

const fs::path kImage = KBD_IMAGE_X64_PATH;

kbd::VersionInfo kbdtoolVersion() {
    const auto v = kbd::readVersion(kbd::MappedImage::load(kImage));
    if (!v) throw std::runtime_error("kbdtool finds no version block in the x64 image");
    return *v;
}

bool writable(uint64_t protect) { return protect & (0x04 | 0x08 | 0x40 | 0x80); }
bool executable(uint64_t protect) { return protect & (0x10 | 0x20 | 0x40 | 0x80); }

}  // namespace

TEST(Wine, LoaderGivesKbdtoolsModelAtTwoForeignBases) {
    const Walk w = walk(kImage);
    ASSERT_EQ(w.cmd.status, 0) << w.log();
    ASSERT_FALSE(w.doc.is_discarded()) << w.log();
    ASSERT_EQ(w.doc["loads"].size(), 2u) << w.log();
    const uint64_t preferred = w.doc["preferredBase"];
    std::set<uint64_t> bases;
    for (const auto& load : w.doc["loads"]) {
        const uint64_t base = load["base"];
        EXPECT_NE(base, preferred);
        bases.insert(base);
        const json expected = kbdtoolModel(kImage, base);
        EXPECT_TRUE(load["layout"] == expected)
            << fmt::format("at base {:#x}, Wine's reading differs from kbdtool's (JSON patch from kbdtool's):\n{}", base,
                           difference(load["layout"], expected));
        std::printf("Wine loaded %s at %#llx\n", kImage.filename().c_str(), static_cast<unsigned long long>(base));
    }
    EXPECT_EQ(bases.size(), 2u) << "both loads at the same base";
}

// The program depends on Windows itself and nothing else: no C or C++
// runtime DLL has to travel with it.
TEST(Wine, KbdwalkImportsFromSystemDllsOnly) {
    const Command c = run(fmt::format("{} --coff-imports {}", quoted(LLVM_READOBJ_PATH), quoted(KBDWALK_PATH)), "imports");
    ASSERT_EQ(c.status, 0) << c.err;
    std::set<std::string> dlls;
    for (size_t at = 0; (at = c.out.find("Name: ", at)) != std::string::npos; at += 6)
        dlls.insert(c.out.substr(at + 6, c.out.find('\n', at) - at - 6));
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "version.dll"})) << c.out;
}

TEST(Wine, ExportAndPagesAreAsTheLoaderMapsThem) {
    const Walk w = walk(kImage);
    ASSERT_EQ(w.cmd.status, 0) << w.log();
    ASSERT_EQ(w.doc["loads"].size(), 2u) << w.log();
    for (const auto& load : w.doc["loads"]) {
        const uint64_t base = load["base"], end = base + load["size"].get<uint64_t>();
        const uint64_t byName = load["export"]["byName"], root = load["layout"]["root"]["address"];
        EXPECT_EQ(load["export"]["byOrdinal"], byName);
        EXPECT_TRUE(byName >= base && byName < end);
        EXPECT_TRUE(executable(load["export"]["protect"]));
        EXPECT_EQ(load["roots"], json::array({root, root}));
        EXPECT_TRUE(root >= base && root < end);
        // The whole module, headers to relocations: nothing writable.
        uint64_t covered = 0;
        for (const auto& r : load["regions"]) {
            EXPECT_FALSE(writable(r["protect"])) << fmt::format("region at {:#x}", r["address"].get<uint64_t>());
            covered += r["size"].get<uint64_t>();
        }
        EXPECT_EQ(covered, end - base);
    }
}

TEST(Wine, VersionBlockIsWhatKbdtoolReads) {
    const kbd::VersionInfo v = kbdtoolVersion();
    ASSERT_EQ(v.stringTables.size(), 1u);
    std::vector<std::string> keys;
    for (const auto& [k, value] : v.stringTables[0].strings) keys.push_back(k);
    const Walk w = walk(kImage, keys);
    ASSERT_EQ(w.cmd.status, 0) << w.log();
    const json& got = w.doc["version"];

    const auto& f = v.fixed;
    const json fixed = {{"signature", f.signature},         {"structVersion", f.structVersion},
                        {"fileVersionMS", f.fileVersionMS}, {"fileVersionLS", f.fileVersionLS},
                        {"productVersionMS", f.productVersionMS}, {"productVersionLS", f.productVersionLS},
                        {"fileFlagsMask", f.fileFlagsMask}, {"fileFlags", f.fileFlags},
                        {"fileOS", f.fileOS},               {"fileType", f.fileType},
                        {"fileSubtype", f.fileSubtype},     {"fileDateMS", f.fileDateMS},
                        {"fileDateLS", f.fileDateLS}};
    EXPECT_EQ(got["fixed"], fixed);

    json translations = json::array();
    for (const auto& [language, codePage] : v.translations) translations.push_back({language, codePage});
    EXPECT_EQ(got["translations"], translations);
    EXPECT_TRUE(strcasecmp(got["stringTable"].get<std::string>().c_str(), v.stringTables[0].key.c_str()) == 0)
        << got["stringTable"] << " against " << v.stringTables[0].key;

    json strings = json::array();
    for (const auto& [k, value] : v.stringTables[0].strings) strings.push_back({{"key", k}, {"value", value}});
    EXPECT_EQ(got["strings"], strings);
}

// A copy of the image to damage, and where its parts are in the file.
struct Copy {
    std::vector<uint8_t> bytes;
    kbd::MappedImage     img;
    kbd::Decoded         d;

    static Copy of(const fs::path& path) {
        const std::string s = readFile(path);
        std::vector<uint8_t> b(s.begin(), s.end());
        auto img = kbd::MappedImage::fromBytes(b);
        auto d = kbd::decode(img);
        return {std::move(b), std::move(img), std::move(d)};
    }
    size_t fileOffset(uint32_t rva) const {
        for (const auto& s : img.sections())
            if (rva >= s.rva && rva < s.rva + s.rawSize) return s.rawOffset + (rva - s.rva);
        throw std::runtime_error(fmt::format("RVA {:#x} is not in the file", rva));
    }
    uint32_t u32(size_t off) const {
        uint32_t v;
        std::memcpy(&v, &bytes[off], 4);
        return v;
    }
    // Turns the base relocation of the field at `rva` into padding; false
    // when there is none.
    bool removeRelocation(uint32_t rva) {
        const auto dir = img.directory(kRelocationDirectory);
        for (uint32_t block = 0; block + 8 <= dir.size;) {
            const uint32_t page = u32(fileOffset(dir.rva + block)), size = u32(fileOffset(dir.rva + block + 4));
            if (size < 8) return false;
            for (uint32_t e = 8; e + 2 <= size; e += 2) {
                uint8_t* entry = &bytes[fileOffset(dir.rva + block + e)];
                const unsigned v = entry[0] | entry[1] << 8;
                if (v >> 12 == kRelBasedDir64 && page + (v & 0xFFF) == rva) {
                    entry[0] = entry[1] = 0;  // IMAGE_REL_BASED_ABSOLUTE: no fix-up
                    return true;
                }
            }
            block += size;
        }
        return false;
    }
    // Sets characteristics bits of the named section's header.
    bool addSectionFlags(const std::string& name, uint32_t flags) {
        const uint32_t pe = u32(0x3C);
        const size_t first = pe + 24 + (bytes[pe + 20] | bytes[pe + 21] << 8);
        const unsigned count = bytes[pe + 6] | bytes[pe + 7] << 8;
        for (unsigned i = 0; i < count; ++i) {
            const size_t h = first + 40 * i;
            if (std::string(reinterpret_cast<const char*>(&bytes[h]), strnlen(reinterpret_cast<const char*>(&bytes[h]), 8)) != name)
                continue;
            const uint32_t c = u32(h + 36) | flags;
            std::memcpy(&bytes[h + 36], &c, 4);
            return true;
        }
        return false;
    }
    fs::path save(const std::string& name) const {
        const fs::path path = scratch(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
};

// A copy with the relocation of one pointer field removed: the loader leaves
// that pointer aimed at the preferred base, and kbdwalk must say so. This is
// the proof that the comparison above can fail.
TEST(Wine, DamagedCopyShowsTheUnrelocatedPointer) {
    Copy c = Copy::of(kImage);
    // The last pointer the walk follows: everything before it is read first.
    const kbd::PointerSite* victim = nullptr;
    for (const auto& p : c.d.pointers)
        if (p.target) victim = &p;
    ASSERT_NE(victim, nullptr);
    const uint32_t fieldRva = static_cast<uint32_t>(victim->field - c.img.base());
    ASSERT_TRUE(c.removeRelocation(fieldRva)) << "no relocation for " << victim->what;

    // A name with spaces, which must reach the program whole.
    const Walk w = walk(c.save("kbdQelvo unrelocated (copy).dll"));
    ASSERT_EQ(w.cmd.status, 1) << "kbdwalk did not report the damage" << w.log();
    ASSERT_FALSE(w.doc.is_discarded()) << w.log();
    ASSERT_EQ(w.doc["loads"].size(), 2u) << w.log();
    // Each load reports that one field, still holding its value for the
    // preferred base, and nothing else.
    const json& problems = w.doc["problems"];
    ASSERT_EQ(problems.size(), 2u) << problems.dump(1);
    for (int load = 0; load < 2; ++load) {
        const uint64_t base = w.doc["loads"][load]["base"];
        const json& p = problems[load];
        EXPECT_EQ(p["load"], load);
        EXPECT_EQ(p["field"], base + fieldRva) << p.dump();
        EXPECT_EQ(p["value"], victim->target) << p.dump();
        EXPECT_EQ(p["problem"], "lies outside the module") << p.dump();
    }
}

// Tables the loader maps writable are a fault of the image, and reported as
// one; the tree is still read in full.
TEST(Wine, WritableTablesAreReported) {
    Copy c = Copy::of(kImage);
    ASSERT_TRUE(c.addSectionFlags(".data", 0x80000000u));  // IMAGE_SCN_MEM_WRITE
    const Walk w = walk(c.save("kbdQelvo-writable.dll"));
    ASSERT_EQ(w.cmd.status, 1) << "kbdwalk did not report the writable tables" << w.log();
    ASSERT_EQ(w.doc["loads"].size(), 2u) << w.log();
    for (int load = 0; load < 2; ++load) {
        const json& l = w.doc["loads"][load];
        bool reported = false;
        for (const auto& p : w.doc["problems"])
            reported |= p["load"] == load && p["problem"] == "is in writable memory" &&
                        p["value"].get<uint64_t>() >= l["base"].get<uint64_t>();
        EXPECT_TRUE(reported) << w.doc["problems"].dump(1);
        EXPECT_TRUE(l["layout"] == kbdtoolModel(kImage, l["base"])) << "load " << load;
    }
}
