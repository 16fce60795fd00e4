// kbdtool export: the layout in another system's formats (XKB for Linux, a
// keyboard-layout bundle for macOS).
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "kbd/macos/export.h"
#include "kbd/xkb/export.h"

namespace kbdtool {

namespace {

template <class Export>
void warnOrRefuse(const Export& e, bool strict) {
    for (const auto& a : e.approximations) std::cerr << "kbdtool: export: approximate: " << a.message << "\n";
    if (strict && !e.approximations.empty())
        throw kbd::Error(
            fmt::format("--strict: {} things would be approximate; nothing written", e.approximations.size()));
}

template <class File>
void listWritten(const std::vector<File>& files, const std::string& dir) {
    for (const auto& f : files)
        std::cout << fmt::format("{}  {} bytes\n", (std::filesystem::path(dir) / f.path).string(), f.size);
}

}  // namespace

Command addExport(CLI::App& app) {
    struct Options {
        Input       in;
        std::string xkbDir, macDir, name;
        bool        strict = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "export",
        "Write the layout in another system's formats.\n"
        "--xkb DIR: for Linux, an XKB keymap (symbols, key types, rules, one complete keymap.xkb) and a Compose\n"
        "file for the dead keys, with report.json and a line on stderr for everything that does not carry over\n"
        "exactly. README \"On Linux\" says where the files go.\n"
        "--macos DIR: for macOS, DIR/NAME.bundle holding NAME.keylayout, with report.json and a line on stderr\n"
        "for everything that does not carry over. README \"On a Mac\" says where the bundle goes.\n"
        "Example: kbdtool export --xkb out kbdQelvo.dll\n"
        "         kbdtool export --macos out kbdQelvo.dll");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    auto* xkb = sub->add_option("--xkb", o->xkbDir, "folder for the Linux files (created if missing)");
    auto* mac = sub->add_option("--macos", o->macDir, "folder for the macOS bundle (created if missing)");
    xkb->excludes(mac);
    sub->add_option("--name", o->name,
                    "--xkb: layout id of a-z, 0-9, '_' and '-', starting with a letter; --macos: the bundle's and "
                    "layout's name (default: from the file name)");
    sub->add_flag("--strict", o->strict, "fail, writing nothing, if anything would be approximate");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                if (o->xkbDir.empty() && o->macDir.empty()) throw kbd::Error("export: give --xkb DIR or --macos DIR");
                const std::string& file = o->in.file;
                const std::string source = std::filesystem::path(file).filename().string();
                if (!o->macDir.empty()) {
                    if (!o->name.empty())
                        if (const auto fault = kbd::macos::nameFault(o->name); !fault.empty())
                            throw UsageError("--name: " + fault);
                    const kbd::Decoded d = o->in.decode();
                    const auto e = kbd::macos::plan(d.layout, o->name.empty() ? kbd::macos::defaultName(file) : o->name,
                                                    source);
                    warnOrRefuse(e, o->strict);
                    listWritten(kbd::macos::write(e, o->macDir), o->macDir);
                    return 0;
                }
                if (!o->name.empty() && !kbd::xkb::validName(o->name))
                    throw UsageError("--name: a-z, 0-9, '_' and '-', starting with a letter");
                const kbd::Decoded d = o->in.decode();
                const auto e = kbd::xkb::plan(d.layout, o->name.empty() ? kbd::xkb::defaultName(file) : o->name, source);
                warnOrRefuse(e, o->strict);
                listWritten(kbd::xkb::write(e, o->xkbDir), o->xkbDir);
                return 0;
            }};
}

}  // namespace kbdtool
