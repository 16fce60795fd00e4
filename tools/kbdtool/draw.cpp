// kbdtool draw: SVG pictures of the keyboard and the dead keys.
#include <iostream>

#include "command.h"
#include "kbd/views/draw.h"

namespace kbdtool {

Command addDraw(CLI::App& app) {
    struct Options {
        Input       in;
        std::string outDir;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "draw",
        "Write SVG pictures of the layout: the keyboard in each shift state, and a sheet per dead key.\n"
        "Example: kbdtool draw kbdQelvo.dll --out pictures");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_option("--out", o->outDir, "folder for the SVG files (created if missing)")->required();
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                for (const auto& path : kbd::writeDrawings(o->in.decode().layout, o->outDir)) std::cout << path << "\n";
                return 0;
            }};
}

}  // namespace kbdtool
