#include "kbd/build/setup_program.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

#include <fmt/format.h>
#include <llvm/ADT/StringRef.h>
#include <llvm/Support/SHA1.h>

#include "../../../installer/identity.h"
#include "kbd/build/layout_files.h"
#include "kbd/build/setup_rules.h"
#include "kbd/image/error.h"

namespace kbd::build {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(fmt::format("build --setup: cannot read {}", path.string()));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) throw Error(fmt::format("build --setup: cannot write {}", path.string()));
}

// A name-based id (the form of a version 5 UUID) from a SHA-1 of the layout's
// file name: the same layout always gets the same Active Setup component,
// two layouts never share one.
std::string activeSetupId(const std::string& name) {
    llvm::SHA1 sha;
    std::string text = "keyboard layout setup:" + name;
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
    sha.update(llvm::StringRef(text));
    auto b = sha.final();
    b[6] = uint8_t((b[6] & 0x0F) | 0x50);
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    std::string hex;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) hex += '-';
        hex += fmt::format("{:02X}", b[i]);
    }
    return "{" + hex + "}";
}

using Fields = std::map<std::string, std::string>;

// The template's @NAME@ fields filled in; a field the template names that
// `fields` lacks is an error (the setup's sources and this tool disagree).
std::string fill(const std::string& text, const Fields& fields, const std::string& what,
                 std::string (*quote)(const std::string&) = nullptr) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t at = text.find('@', i);
        if (at == std::string::npos) {
            out.append(text, i);
            break;
        }
        const size_t end = text.find('@', at + 1);
        const auto it = end == std::string::npos ? fields.end() : fields.find(text.substr(at + 1, end - at - 1));
        if (it == fields.end()) throw Error(fmt::format("build --setup: {} has a field this kbdtool does not fill", what));
        out.append(text, i, at - i);
        out += quote ? quote(it->second) : it->second;
        i = end + 1;
    }
    return out;
}

// In the resource script every field stands in a quoted string: a path
// stays as it is, a text becomes the wide string of rcString.
std::string fillResourceScript(const std::string& text, const Fields& paths, const Fields& texts) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('"', i);
        const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
        if (close == std::string::npos) {
            out += fill(text.substr(i), texts, "the setup's resource script");
            break;
        }
        out += fill(text.substr(i, open - i), texts, "the setup's resource script");
        const std::string inside = text.substr(open + 1, close - open - 1);
        const bool isPath = inside.size() > 2 && inside.front() == '@' && inside.back() == '@' &&
                            paths.count(inside.substr(1, inside.size() - 2));
        if (isPath) {
            const std::string& path = paths.at(inside.substr(1, inside.size() - 2));
            if (path.find('"') != std::string::npos)
                throw Error(fmt::format("build --setup: the path {} has a '\"' in it", path));
            out += '"' + path + '"';
        } else if (inside.find('@') != std::string::npos) {
            out += rcString(fill(inside, texts, "the setup's resource script"));
        } else {
            out += '"' + inside + '"';
        }
        i = close + 1;
    }
    return out;
}

Fields identityFields(const LayoutInfo& info) {
    return {
        {"KBD_SETUP_LAYOUT_FILE", info.name + ".dll"},
        {"KBD_SETUP_LAYOUT_TEXT", info.description.empty() ? info.name : info.description},
        {"KBD_SETUP_MARKER", info.name + " Setup"},
        {"KBD_VERSION", versionText(info, ".")},
        {"KBD_VERSION_COMMAS", versionText(info, ",")},
        {"KBD_SETUP_PUBLISHER", info.company.empty() ? info.name : info.company},
        {"KBD_SETUP_COPYRIGHT", info.copyright},
        {"KBD_SETUP_NAME", info.name},
        {"KBD_SETUP_ACTIVE_SETUP", activeSetupId(info.name)},
        {"KBD_SETUP_LANGUAGE_LINE", fmt::format("Language={:04x}", info.localeId & 0xFFFF)},
    };
}

// A scratch folder, removed with everything in it when the build ends.
struct Scratch {
    fs::path path;
    Scratch() {
        const fs::path base = fs::temp_directory_path();
        for (unsigned i = 0;; ++i) {
            path = base / fmt::format("kbdtool-setup-{}-{}", ::getpid(), i);
            std::error_code ec;
            if (fs::create_directory(path, ec)) break;
            if (ec || i > 1000) throw Error(fmt::format("build --setup: cannot make a scratch folder in {}", base.string()));
        }
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

std::string setupIdentity(const LayoutInfo& info) {
    const std::string record =
        fill(readText(fs::path(rules::kSetupSourceDir) / "identity.txt.in"), identityFields(info),
             "the setup's identity template");
    // The setup's own reader decides what it can carry.
    setup::Identity parsed;
    if (const char* wrong =
            setup::parseIdentity(reinterpret_cast<const unsigned char*>(record.data()), record.size(), parsed))
        throw Error(fmt::format("build --setup: the layout's setup cannot say who it is: {}", wrong));
    return record;
}

std::vector<std::string> buildSetups(const LayoutSource& source, const BuildResult& built, const std::string& outDir,
                                     const Toolchain& tools) {
    const LayoutInfo& info = source.info;
    const fs::path sources(rules::kSetupSourceDir);
    Scratch scratch;
    const fs::path identity = scratch.path / "identity.txt";
    writeText(identity, setupIdentity(info));

    Fields paths = {{"KBD_SETUP_MANIFEST", (sources / "setup.manifest").string()},
                    {"KBD_SETUP_IDENTITY", identity.string()}};
    for (const auto& image : built.images) {
        std::string kind = image.kind;
        for (char& c : kind) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
        paths["KBD_IMAGE_" + kind] = fs::absolute(image.path).string();
    }
    const fs::path rc = scratch.path / "setup.rc";
    writeText(rc, fillResourceScript(readText(sources / "setup.rc.in"), paths, identityFields(info)));

    std::vector<std::pair<fs::path, fs::path>> made;
    for (const auto& machine : rules::kSetupMachines) {
        if (!fs::exists(machine.recipe))
            throw Error(fmt::format("build --setup: the setup program is not built ({} is missing); build the "
                                    "project's `setups` target first",
                                    machine.recipe));
        const fs::path dir = scratch.path / machine.name;
        fs::create_directory(dir);
        const fs::path pp = dir / "setup.rc.pp", res = dir / "setup.res", exe = dir / "setup.exe";
        const std::string log = (dir / "log").string();
        // As CMake's rule for llvm-rc: preprocessed for the machine, then compiled.
        run(tools.compiler,
            {fmt::format("--target={}", machine.triple), "-DRC_INVOKED", "-I", sources.string(), "-x", "c", "-E",
             "-o", pp.string(), "--", rc.string()},
            log);
        run(tools.resourceCompiler, {"/fo", res.string(), pp.string()}, log);
        std::vector<std::string> link;
        std::istringstream recipe(readText(machine.recipe));
        for (std::string line; std::getline(recipe, line);)
            if (!line.empty()) link.push_back(line);
        link.push_back(res.string());
        link.push_back("/out:" + exe.string());
        run(tools.linker, link, log);
        made.emplace_back(exe, fs::path(outDir) / fmt::format("{}-setup-{}.exe", info.name, machine.name));
    }

    std::vector<std::string> written;
    for (const auto& [from, to] : made) {
        std::error_code ec;
        fs::path part = to;
        part += ".part";
        fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
        if (!ec) fs::rename(part, to, ec);
        if (ec) throw Error(fmt::format("build --setup: cannot write {}: {}", to.string(), ec.message()));
        written.push_back(to.string());
    }
    return written;
}

}  // namespace kbd::build
