// kbdtool diff: what layout B types differently from layout A.
#include <iostream>
#include <optional>

#include "command.h"
#include "kbd/views/diff.h"

namespace kbdtool {

Command addDiff(CLI::App& app) {
    struct Options {
        Input       in;  // in.file is A
        std::string other;
        bool        json = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "diff",
        "Show how layout B differs from layout A as a person reads them: settings, modifier columns,\n"
        "what each key gives in each shift state, compositions added, removed or changed, names.\n"
        "Exit status: 0 they are the same (nothing printed); 1 they differ; 2 a file could not be read\n"
        "or the command line is wrong.\nExample: kbdtool diff old/kbdQelvo.dll build/x86/kbdQelvo.dll");
    sub->add_option("A", o->in.file, "layout image before")->required();
    sub->add_option("B", o->other, "layout image after")->required();
    sub->add_flag("--json", o->json, "print the differences as JSON");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                o->in.at();
                // A file that cannot be read is trouble, not a difference: exit 2,
                // so that a script never takes it for "they differ".
                std::optional<kbd::Decoded> a, b;
                try {
                    a = o->in.decode();
                    b = o->in.decode(o->other);
                } catch (const kbd::Error& e) {
                    std::cerr << "kbdtool: " << e.what() << "\n";
                    return 2;
                }
                const std::vector<kbd::Change> changes = kbd::diffLayouts(a->layout, b->layout);
                if (o->json)
                    std::cout << kbd::diffJson(changes).dump(1) << "\n";
                else
                    std::cout << kbd::diffText(changes);
                return changes.empty() ? 0 : 1;
            }};
}

}  // namespace kbdtool
