// kbdtool names: the key names and dead-key names.
#include <iostream>

#include "command.h"
#include "kbd/views/dump.h"

namespace kbdtool {

Command addNames(CLI::App& app) {
    auto in = std::make_shared<Input>();
    auto* sub = app.add_subcommand("names", "List the key names and dead-key names.\nExample: kbdtool names kbdQelvo.dll");
    sub->add_option("FILE", in->file, "layout image (.dll)")->required();
    addMappingOptions(sub, *in);
    return {sub, [in] {
                std::cout << kbd::namesText(in->decode().layout);
                return 0;
            }};
}

}  // namespace kbdtool
