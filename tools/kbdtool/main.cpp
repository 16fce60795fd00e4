// kbdtool: reads a Windows keyboard-layout image, as the input subsystem
// would, and shows what it does.
//
// Exit codes: 0 success; 1 the file or the key sequence is at fault (one line
// on stderr says what); 2 the command line is wrong.
#include <exception>
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include "command.h"

namespace {

int run(int argc, char** argv) {
    CLI::App app{"kbdtool: read a Windows keyboard-layout DLL on any OS, check it and type through it.\n"
                 "Example: kbdtool type kbdQelvo.dll CapsLock AltGr+q"};
    app.require_subcommand(1);
    app.footer("Exit status: 0 success; 1 the file or a key is at fault, check found a problem, find met a\n"
               "character the layout lacks, or diff found differences (one line on stderr says what went wrong);\n"
               "2 a wrong command line, or a file diff could not read.");
    using namespace kbdtool;
    const std::vector<Command> commands = {addDump(app), addType(app),   addNames(app), addCheck(app), addDraw(app),
                                           addExport(app), addFind(app), addHtml(app),  addDiff(app),
                                           addBuild(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    for (const auto& c : commands)
        if (*c.app) return c.run();
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const kbdtool::UsageError& e) {
        std::cerr << "kbdtool: " << e.what() << "\n";
        return 2;
    } catch (const kbd::Error& e) {
        std::cerr << "kbdtool: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kbdtool: internal error: " << e.what() << "\n";
        return 1;
    }
}
