// kbdtool build: a layout's source in, the four images out, each checked.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "kbd/build/compiler.h"
#include "kbd/build/layout_files.h"
#include "kbd/build/setup_program.h"
#include "kbd/klc/klc.h"
#include "kbd/model/source_reader.h"

namespace kbdtool {

namespace {

bool isImage(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw kbd::Error(fmt::format("{}: cannot open", file));
    char magic[2] = {};
    in.read(magic, 2);
    return in.gcount() == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

// The layout's source: a .klc, or a built image (to build it again, for
// every kind). A source larger than the parser reads is cut one byte past
// the limit, which the parser then reports.
kbd::LayoutSource readSource(const std::string& file) {
    if (isImage(file)) return kbd::inFile(file, [&] { return kbd::readLayoutSource(file); });
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes(kbd::klc::kMaxFileBytes + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    return kbd::klc::parseKlc(bytes, file);
}

}  // namespace

Command addBuild(CLI::App& app) {
    struct Options {
        std::string file, outDir, name;
        bool        setup = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "build",
        "Build a layout's images for x86, x64, ARM64 and WOW64 from its source, with the toolchain this project\n"
        "builds its own layout with (clang++-19, lld-link-19 and llvm-rc-19 on PATH). Writes\n"
        "OUT/{x86,x64,arm64,wow64}/NAME.dll and the generated sources in OUT/source/; every image is checked\n"
        "and read back against the source before any is written. FILE is a .klc layout source (UTF-16 LE\n"
        "with a byte-order mark, or UTF-8), or a layout image to build again for every kind.\n"
        "With --setup, also OUT/NAME-setup-{x86,x64,arm64}.exe: the project's setup program carrying this\n"
        "layout's images, name and language, which installs, upgrades, repairs and uninstalls it on Windows.\n"
        "Example: kbdtool build kbdfoo.klc --out built --setup");
    sub->add_option("FILE", o->file, "the layout's source: a .klc file, or a layout image (.dll)")->required();
    sub->add_option("--out", o->outDir, "folder for the images (created if missing)")->required();
    sub->add_option("--name", o->name, "file name of the images, without .dll (default: the source's)");
    sub->add_flag("--setup", o->setup, "also write a setup program for each machine");
    return {sub, [o] {
                if (!o->name.empty())
                    if (const auto fault = kbd::build::nameFault(o->name); !fault.empty())
                        throw UsageError("--name: " + fault);
                kbd::LayoutSource source = readSource(o->file);
                if (!o->name.empty()) source.info.name = o->name;
                if (const auto fault = kbd::build::nameFault(source.info.name); !fault.empty())
                    throw kbd::Error(fmt::format("{}: the layout's name is no file name ({}); give --name", o->file,
                                                 fault));
                const auto tools = kbd::build::findToolchain();
                // What the setup cannot carry is found before anything is built.
                if (o->setup) kbd::build::setupIdentity(source.info);
                const auto result = kbd::build::buildLayout(source, o->outDir, tools);
                // The check's notes about the layout, once each (how wide the
                // pointer fields read is no news for a kind built as such).
                std::vector<std::string> notes;
                for (const auto& image : result.images) {
                    std::cout << fmt::format("{}  {} bytes  check ok\n", image.path,
                                             std::filesystem::file_size(image.path));
                    for (const auto& n : image.notes)
                        if (!n.message.starts_with("tree read with") &&
                            std::find(notes.begin(), notes.end(), n.message) == notes.end())
                            notes.push_back(n.message);
                }
                for (const auto& n : notes) std::cout << "note: " << n << "\n";
                if (o->setup)
                    for (const auto& path : kbd::build::buildSetups(source, result, o->outDir, tools))
                        std::cout << fmt::format("{}  {} bytes\n", path, std::filesystem::file_size(path));
                return 0;
            }};
}

}  // namespace kbdtool
