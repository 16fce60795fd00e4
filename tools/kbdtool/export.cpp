// kbdtool export: the layout in another system's formats (XKB for Linux, a
// keyboard-layout bundle for macOS) or as its own source (.klc).
#include <filesystem>
#include <fstream>
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "kbd/klc/klc.h"
#include "kbd/macos/export.h"
#include "kbd/model/source_reader.h"
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

// The layout as a .klc source, written beside FILE and renamed into place.
int exportKlc(const Input& in, const std::string& path, bool strict) {
    const auto source = kbd::inFile(in.file, [&] {
        return kbd::readLayoutSource(in.file, in.at(), kbd::DecodeOptions{in.pointerSize});
    });
    const auto lost = kbd::klc::unsaid(source);
    for (const auto& l : lost) std::cerr << "kbdtool: export: not in the .klc: " << l << "\n";
    if (strict && !lost.empty())
        throw kbd::Error(fmt::format("--strict: {} things a .klc cannot say; nothing written", lost.size()));
    const auto bytes = kbd::klc::writeKlc(source);
    const std::string aside = path + ".part";
    {
        std::ofstream f(aside, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!f.flush()) throw kbd::Error(fmt::format("{}: cannot write", aside));
    }
    std::error_code ec;
    std::filesystem::rename(aside, path, ec);
    if (ec) {
        std::filesystem::remove(aside, ec);
        throw kbd::Error(fmt::format("{}: cannot write", path));
    }
    std::cout << fmt::format("{}  {} bytes\n", path, bytes.size());
    return 0;
}

}  // namespace

Command addExport(CLI::App& app) {
    struct Options {
        Input       in;
        std::string xkbDir, macDir, klcFile, name;
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
        "--klc FILE: the layout's source as a .klc (UTF-16 with byte-order mark, CRLF lines), for editing and\n"
        "rebuilding with kbdtool build; a line on stderr for each thing a .klc cannot say.\n"
        "Example: kbdtool export --xkb out kbdQelvo.dll\n"
        "         kbdtool export --macos out kbdQelvo.dll\n"
        "         kbdtool export --klc kbdqelvo.klc kbdQelvo.dll");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    auto* xkb = sub->add_option("--xkb", o->xkbDir, "folder for the Linux files (created if missing)");
    auto* mac = sub->add_option("--macos", o->macDir, "folder for the macOS bundle (created if missing)");
    auto* klc = sub->add_option("--klc", o->klcFile, "the .klc file to write");
    xkb->excludes(mac);
    klc->excludes(xkb)->excludes(mac);
    auto* name = sub->add_option("--name", o->name,
                                 "--xkb: layout id of a-z, 0-9, '_' and '-', starting with a letter; --macos: the "
                                 "bundle's and layout's name (default: from the file name)");
    sub->add_flag("--strict", o->strict, "fail, writing nothing, if anything would be approximate (or, with --klc, left out)");
    addMappingOptions(sub, o->in);
    return {sub, [o, name] {
                // An empty --name is a bad name, not a request for the default.
                const bool named = name->count() > 0;
                if (o->xkbDir.empty() && o->macDir.empty() && o->klcFile.empty())
                    throw kbd::Error("export: give --xkb DIR, --macos DIR or --klc FILE");
                if (!o->klcFile.empty()) {
                    if (named) throw UsageError("--name: not with --klc (the source takes the image's name)");
                    return exportKlc(o->in, o->klcFile, o->strict);
                }
                const std::string& file = o->in.file;
                const std::string source = std::filesystem::path(file).filename().string();
                if (!o->macDir.empty()) {
                    if (named)
                        if (const auto fault = kbd::macos::nameFault(o->name); !fault.empty())
                            throw UsageError("--name: " + fault);
                    const kbd::Decoded d = o->in.decode();
                    const auto e = kbd::macos::plan(d.layout, named ? o->name : kbd::macos::defaultName(file), source);
                    warnOrRefuse(e, o->strict);
                    listWritten(kbd::macos::write(e, o->macDir), o->macDir);
                    return 0;
                }
                if (named && !kbd::xkb::validName(o->name))
                    throw UsageError("--name: a-z, 0-9, '_' and '-', starting with a letter");
                const kbd::Decoded d = o->in.decode();
                const auto e = kbd::xkb::plan(d.layout, named ? o->name : kbd::xkb::defaultName(file), source);
                warnOrRefuse(e, o->strict);
                listWritten(kbd::xkb::write(e, o->xkbDir), o->xkbDir);
                return 0;
            }};
}

}  // namespace kbdtool
