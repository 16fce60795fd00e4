#include "kbd/build/compiler.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <semaphore>
#include <thread>

#include <unistd.h>

#include <fmt/format.h>

#include "kbd/build/image_rules.h"
#include "kbd/build/layout_files.h"
#include "kbd/image/error.h"
#include "kbd/views/diff.h"

namespace kbd::build {
namespace {

namespace fs = std::filesystem;

// The record definitions of include/, as this kbdtool was built with them.
struct Header {
    const char* name;
    const char* text;
};
const Header kHeaders[] = {
    {"kbd.h",
#include "kbd/build/include/kbd.h.txt"
    },
    {"vkcodes.h",
#include "kbd/build/include/vkcodes.h.txt"
    },
    {"kbd_constants.inc",
#include "kbd/build/include/kbd_constants.inc.txt"
    },
    {"kbd_records.inc",
#include "kbd/build/include/kbd_records.inc.txt"
    },
    {"kbd_vk.inc",
#include "kbd/build/include/kbd_vk.inc.txt"
    },
};

// The version block of resources/, which includes version_texts.h.
const char* const kVersionBlock =
#include "kbd/build/version.rc.txt"
    ;
constexpr const char* kVersionTexts = "version_texts.h";

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) throw Error(fmt::format("build: cannot write {}", path.string()));
}

// A scratch folder, removed with everything in it when the build ends.
class Scratch {
public:
    Scratch() {
        const fs::path base = fs::temp_directory_path();
        for (unsigned i = 0;; ++i) {
            path_ = base / fmt::format("kbdtool-build-{}-{}", ::getpid(), i);
            std::error_code ec;
            if (fs::create_directory(path_, ec)) break;
            if (ec || i > 1000) throw Error(fmt::format("build: cannot make a scratch folder in {}", base.string()));
        }
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<std::string> compileArgs(const rules::Kind& kind, const fs::path& include) {
    std::vector<std::string> args = {fmt::format("--target={}", kind.triple)};
    for (const char* d : kind.definitions) args.push_back(fmt::format("-D{}", d));
    args.push_back("-I" + include.string());
    for (const char* o : rules::kCompileOptions) args.emplace_back(o);
    return args;
}

// What is wrong with one built image, or "".
std::string verify(const std::string& path, const Layout& tables, std::vector<Finding>& notes) {
    CheckReport report = checkImage(MappedImage::load(path));
    for (auto& f : report.findings) {
        if (f.level == Finding::Level::Error) return "check failed: " + f.message;
        notes.push_back(std::move(f));
    }
    if (!report.tree) return "check failed: the tables do not decode";
    const auto changes = diffLayouts(tables, report.tree->layout);
    if (!changes.empty())
        return fmt::format("its tables differ from the source's ({} differences; {}: {})", changes.size(),
                           changes[0].section, changes[0].item);
    return "";
}

}  // namespace

BuildResult buildLayout(const LayoutSource& source, const std::string& outDir, const Toolchain& tools) {
    const LayoutFiles files = writeLayoutFiles(source);
    const std::string& name = source.info.name;
    Scratch scratch;
    const fs::path work = scratch.path(), include = work / "include";
    fs::create_directory(include);
    for (const auto& h : kHeaders) writeFile(include / h.name, h.text);
    const fs::path cpp = work / (name + ".cpp"), def = work / (name + ".def"), rc = work / (name + ".rc");
    writeFile(cpp, files.tables);
    writeFile(def, files.def);
    writeFile(rc, kVersionBlock);
    const fs::path texts = work / kVersionTexts;
    writeFile(texts, files.versionTexts);

    // The version block, preprocessed as CMake's rule for llvm-rc does, once
    // for all kinds (a .res names no machine).
    const fs::path pp = work / (name + ".rc.pp"), res = work / (name + ".res");
    run(tools.compiler,
        {fmt::format("--target={}", rules::kKinds.front().triple), "-DRC_INVOKED", "-x", "c", "-E", "-o",
         pp.string(), "--", rc.string()},
        (work / "rc.log").string());
    run(tools.resourceCompiler, {"/fo", res.string(), pp.string()}, (work / "rc.log").string());

    // Each kind compiled and linked on its own thread, as many at once as
    // the machine has cores.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::counting_semaphore<64> slots(std::min(cores, 64u));
    std::mutex mutex;
    std::string failure;
    std::vector<BuiltImage> built(rules::kKinds.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rules::kKinds.size(); ++i)
        threads.emplace_back([&, i] {
            const rules::Kind& kind = rules::kKinds[i];
            slots.acquire();
            try {
                const fs::path dir = work / kind.name;
                fs::create_directory(dir);
                const fs::path obj = dir / (name + ".obj"), dll = dir / (name + ".dll");
                const std::string log = (dir / "log").string();
                auto args = compileArgs(kind, include);
                for (const char* a : {"-c", "-o"}) args.emplace_back(a);
                args.push_back(obj.string());
                args.push_back(cpp.string());
                run(tools.compiler, args, log);
                std::vector<std::string> link;
                for (std::string option : kind.link) {
                    if (const size_t at = option.find("{def}"); at != std::string::npos)
                        option.replace(at, 5, def.string());
                    link.push_back(option);
                }
                link.push_back(obj.string());
                link.push_back(res.string());
                link.push_back("/out:" + dll.string());
                run(tools.linker, link, log);
                built[i].kind = kind.name;
                built[i].path = dll.string();
                if (const auto fault = verify(dll.string(), source.tables, built[i].notes); !fault.empty())
                    throw Error(fmt::format("build: the {} image: {}", kind.name, fault));
            } catch (const Error& e) {
                const std::lock_guard lock(mutex);
                if (failure.empty()) failure = e.what();
            } catch (const std::exception& e) {
                const std::lock_guard lock(mutex);
                if (failure.empty()) failure = fmt::format("build: the {} image: {}", kind.name, e.what());
            }
            slots.release();
        });
    for (auto& t : threads) t.join();
    if (!failure.empty()) throw Error(failure);

    // Everything built and proven: put it in place, every folder made first.
    BuildResult result;
    const fs::path out(outDir), sources = out / "source";
    for (const fs::path& dir : {sources, out / "x86", out / "x64", out / "arm64", out / "wow64"}) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) throw Error(fmt::format("build: cannot make {}: {}", dir.string(), ec.message()));
    }
    for (const auto& [from, to] : {std::pair{cpp, sources / (name + ".cpp")}, std::pair{def, sources / (name + ".def")},
                                   std::pair{rc, sources / (name + ".rc")}, std::pair{texts, sources / kVersionTexts}}) {
        std::error_code ec;
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        if (ec) throw Error(fmt::format("build: cannot write {}: {}", to.string(), ec.message()));
        result.sources.push_back(to.string());
    }
    for (auto& image : built) {
        const fs::path dir = out / image.kind, to = dir / (name + ".dll"), part = dir / (name + ".dll.part");
        std::error_code ec;
        fs::copy_file(image.path, part, fs::copy_options::overwrite_existing, ec);
        if (!ec) fs::rename(part, to, ec);
        if (ec) throw Error(fmt::format("build: cannot write {}: {}", to.string(), ec.message()));
        image.path = to.string();
        result.images.push_back(std::move(image));
    }
    return result;
}

}  // namespace kbd::build
