#include "kbd/build/toolchain.h"

#include <fstream>
#include <optional>

#include <fmt/format.h>
#include <llvm/ADT/SmallVector.h>
#include <llvm/ADT/StringRef.h>
#include <llvm/Support/Path.h>
#include <llvm/Support/Program.h>

#include "kbd/build/image_rules.h"
#include "kbd/image/error.h"

namespace kbd::build {
namespace {

std::string find(const char* tool) {
    const auto found = llvm::sys::findProgramByName(tool);
    if (!found)
        throw Error(fmt::format("build: {} not found on PATH; install the Debian package {} (apt-get install {})", tool,
                                packageOf(tool), packageOf(tool)));
    return *found;
}

}  // namespace

std::string packageOf(const std::string& tool) {
    static const std::pair<const char*, const char*> packages[] = {
        {"clang++", "clang"}, {"clang", "clang"}, {"lld-link", "lld"}, {"llvm-rc", "llvm"}};
    const size_t dash = tool.rfind('-');
    const bool versioned = dash != std::string::npos && dash + 1 < tool.size() &&
                           tool.find_first_not_of("0123456789", dash + 1) == std::string::npos;
    const std::string base = versioned ? tool.substr(0, dash) : tool, version = versioned ? tool.substr(dash) : "";
    for (const auto& [name, package] : packages)
        if (base == name) return package + version;
    return tool;
}

Toolchain findToolchain() {
    return {find(rules::kCompiler), find(rules::kLinker), find(rules::kResourceCompiler)};
}

void run(const std::string& program, const std::vector<std::string>& args, const std::string& logFile) {
    std::vector<llvm::StringRef> argv = {program};
    for (const auto& a : args) argv.emplace_back(a);
    const std::optional<llvm::StringRef> redirects[] = {llvm::StringRef(""), llvm::StringRef(logFile),
                                                        llvm::StringRef(logFile)};
    std::string message;
    const int status = llvm::sys::ExecuteAndWait(program, argv, std::nullopt, redirects, 0, 0, &message);
    const std::string tool = llvm::sys::path::filename(program).str();
    if (status < 0) throw Error(fmt::format("build: {} could not run: {}", tool, message));
    if (status != 0) {
        std::ifstream log(logFile);
        std::string first;
        while (first.empty() && std::getline(log, first)) {}
        throw Error(fmt::format("build: {} failed (exit {}): {}", tool, status, first.empty() ? "no output" : first));
    }
}

}  // namespace kbd::build
