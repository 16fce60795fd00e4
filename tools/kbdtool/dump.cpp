// kbdtool dump: every table of the layout, as text or as JSON.
#include <iostream>

#include "command.h"
#include "kbd/model/layout_json.h"
#include "kbd/views/dump.h"

namespace kbdtool {

Command addDump(CLI::App& app) {
    struct Options {
        Input in;
        bool  json = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand("dump", "Print every table of the layout.\nExample: kbdtool dump kbdQelvo.dll");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_flag("--json", o->json, "print the whole model as JSON (shape: docs/json.md)");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                const kbd::Decoded d = o->in.decode();
                if (o->json)
                    std::cout << kbd::toJson(d).dump(1) << "\n";
                else
                    std::cout << kbd::dumpText(d);
                return 0;
            }};
}

}  // namespace kbdtool
