// The toolchain a layout image is made with (clang, lld-link, llvm-rc of the
// LLVM version the project builds with), found on PATH, and running its tools.
#pragma once

#include <string>
#include <vector>

namespace kbd::build {

struct Toolchain {
    std::string compiler;          // clang++-19
    std::string linker;            // lld-link-19
    std::string resourceCompiler;  // llvm-rc-19
};

// The tools' full paths. Throws kbd::Error when one is missing, with one line
// that names the tool and the Debian package that holds it.
Toolchain findToolchain();

// The Debian package of a tool: "clang-19" for clang++-19, "lld-19" for
// lld-link-19, "llvm-19" for llvm-rc-19.
std::string packageOf(const std::string& tool);

// Runs program with args (not counting the program itself), its output in
// logFile. Throws kbd::Error when it cannot start or exits non-zero, with the
// first line of what it printed.
void run(const std::string& program, const std::vector<std::string>& args, const std::string& logFile);

}  // namespace kbd::build
