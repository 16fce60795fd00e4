// What the subcommands of kbdtool share: the input file and how it is mapped,
// the error that means a wrong command line, and the shape of a subcommand.
// Each subcommand lives in its own file: its options and its run function.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "kbd/image/error.h"
#include "kbd/model/decoder.h"

namespace kbdtool {

// A wrong command line found after parsing: exit status 2.
class UsageError : public kbd::Error {
public:
    using kbd::Error::Error;
};

// The image a subcommand reads and how to map it.
struct Input {
    std::string file;
    std::string base;          // --base as given; empty for the image's preferred base
    unsigned    pointerSize = 0;

    // --base as an address; throws UsageError when it is not a 64 KiB-aligned number.
    std::optional<uint64_t> at() const;
    // The image decoded; an error names the file.
    kbd::Decoded decode() const { return decode(file); }
    kbd::Decoded decode(const std::string& path) const;
};

// A subcommand once registered: its parser, and what runs it once parsed
// (returns the exit status).
struct Command {
    CLI::App*            app = nullptr;
    std::function<int()> run;
};

// --base, and --pointer-size unless the subcommand reads no tables by it.
void addMappingOptions(CLI::App* sub, Input& in, bool pointerSize = true);

// The subcommands, in the order --help lists them.
Command addDump(CLI::App& app);
Command addType(CLI::App& app);
Command addNames(CLI::App& app);
Command addCheck(CLI::App& app);
Command addDraw(CLI::App& app);
Command addExport(CLI::App& app);
Command addFind(CLI::App& app);
Command addHtml(CLI::App& app);
Command addDiff(CLI::App& app);
Command addBuild(CLI::App& app);

}  // namespace kbdtool
