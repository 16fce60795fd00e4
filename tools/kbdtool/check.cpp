// kbdtool check: is the image safe to load? One line per finding.
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "kbd/check/check.h"

namespace kbdtool {

Command addCheck(CLI::App& app) {
    auto in = std::make_shared<Input>();
    auto* sub = app.add_subcommand(
        "check",
        "Check that a layout image is safe to load: one line per problem, exit 1 if any.\n"
        "Notes (legal but worth knowing) do not fail the check.\nExample: kbdtool check kbdQelvo.dll");
    sub->add_option("FILE", in->file, "layout image (.dll)")->required();
    addMappingOptions(sub, *in, false);
    return {sub, [in] {
                const auto at = in->at();
                const kbd::CheckReport r =
                    kbd::checkImage(kbd::inFile(in->file, [&] { return kbd::MappedImage::load(in->file, at); }));
                for (const auto& f : r.findings)
                    std::cout << (f.level == kbd::Finding::Level::Error ? "error: " : "note: ") << f.message << "\n";
                std::cout << fmt::format("{}: {}\n", in->file, r.ok() ? "ok" : "check failed");
                return r.ok() ? 0 : 1;
            }};
}

}  // namespace kbdtool
