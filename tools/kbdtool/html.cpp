// kbdtool html: one self-contained page for learning the layout.
#include <filesystem>
#include <iostream>

#include "command.h"
#include "kbd/typing/find.h"
#include "kbd/views/page.h"

namespace kbdtool {

Command addHtml(CLI::App& app) {
    struct Options {
        Input       in;
        std::string pagePath;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "html",
        "Write one self-contained HTML page for learning the layout: the keyboard with Shift, AltGr and\n"
        "Caps Lock, typing by clicking or with your own keyboard (by key position), a search for the keys\n"
        "of a character, and the dead-key sheets. It needs no network.\n"
        "Example: kbdtool html kbdQelvo.dll --out kbdQelvo.html");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_option("--out", o->pagePath, "the HTML file to write")->required();
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                const kbd::Decoded d = o->in.decode();
                kbd::writePage(kbd::Finder(d.layout), std::filesystem::path(o->in.file).stem().string(), o->pagePath);
                std::cout << o->pagePath << "\n";
                return 0;
            }};
}

}  // namespace kbdtool
