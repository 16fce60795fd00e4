// kbdtool export: the layout in another system's formats (XKB for Linux).
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "kbd/xkb/export.h"

namespace kbdtool {

Command addExport(CLI::App& app) {
    struct Options {
        Input       in;
        std::string xkbDir, name;
        bool        strict = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "export",
        "Write the layout in another system's formats.\n"
        "--xkb DIR: for Linux, an XKB keymap (symbols, key types, rules, one complete keymap.xkb) and a Compose\n"
        "file for the dead keys, with report.json and a line on stderr for everything that does not carry over\n"
        "exactly. README \"On Linux\" says where the files go.\nExample: kbdtool export --xkb out kbdQelvo.dll");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_option("--xkb", o->xkbDir, "folder for the Linux files (created if missing)")->required();
    sub->add_option("--name", o->name,
                    "layout id: a-z, 0-9, '_' and '-', starting with a letter (default: from the file name)")
        ->check([](const std::string& n) { return kbd::xkb::validName(n) ? "" : "a-z, 0-9, '_' and '-', starting with a letter"; });
    sub->add_flag("--strict", o->strict, "fail, writing nothing, if anything would be approximate");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                const kbd::Decoded d = o->in.decode();
                const std::string& file = o->in.file;
                const auto e = kbd::xkb::plan(d.layout, o->name.empty() ? kbd::xkb::defaultName(file) : o->name,
                                              std::filesystem::path(file).filename().string());
                for (const auto& a : e.approximations) std::cerr << "kbdtool: export: approximate: " << a.message << "\n";
                if (o->strict && !e.approximations.empty())
                    throw kbd::Error(fmt::format("--strict: {} things would be approximate; nothing written",
                                                 e.approximations.size()));
                for (const auto& f : kbd::xkb::write(e, o->xkbDir))
                    std::cout << fmt::format("{}  {} bytes\n", (std::filesystem::path(o->xkbDir) / f.path).string(), f.size);
                return 0;
            }};
}

}  // namespace kbdtool
