// kbdtool find: the shortest key sequences for each character of a text.
#include <iostream>
#include <vector>

#include "command.h"
#include "kbd/typing/find.h"
#include "kbd/views/find_report.h"
#include "kbd/views/unicode_names.h"

namespace kbdtool {

Command addFind(CLI::App& app) {
    struct Options {
        Input                    in;
        std::vector<std::string> texts;
        bool                     keys = false, all = false, markdown = false, json = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "find",
        "Show the shortest key sequences that give each character of TEXT: dead keys, AltGr and Caps Lock\n"
        "considered, ties listed, each chord as `type` takes it and each key by its position (ISO names:\n"
        "E04 is the 4 key, D01 the Q key, A03 the space bar). Exit 1 when a character is not on the layout.\n"
        "Example: kbdtool find kbdQelvo.dll ṛ\n"
        "         kbdtool type kbdQelvo.dll $(kbdtool find --keys kbdQelvo.dll rāmāyaṇa)");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_option("TEXT", o->texts, "characters to look up (with --keys: the text to type; several are joined by spaces)");
    sub->add_flag("--keys", o->keys, "print one key sequence that types the whole text, for `kbdtool type`");
    sub->add_flag("--all", o->all, "list every character the layout types, by code point, with its Unicode name");
    sub->add_flag("--markdown", o->markdown, "with --all: a Markdown document (docs/characters.md)");
    sub->add_flag("--json", o->json, "print JSON instead of text");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                o->in.at();
                if (!o->all && o->texts.empty()) {
                    std::cerr << "kbdtool find: give the TEXT to look up, or --all\n";
                    return 2;
                }
                const kbd::Decoded d = o->in.decode();
                const kbd::Finder finder(d.layout);
                if (o->all) {
                    std::cout << (o->json       ? kbd::allJson(finder).dump(1) + "\n"
                                  : o->markdown ? kbd::allMarkdown(finder)
                                                : kbd::allText(finder));
                    return 0;
                }
                std::string joined;
                for (const auto& t : o->texts) joined += (joined.empty() || !o->keys ? "" : " ") + t;
                const std::u16string text = kbd::fromUtf8(joined);
                if (o->keys) {
                    const kbd::Sequence seq = kbd::keysFor(finder, text);
                    std::cout << (o->json ? kbd::keysJson(text, seq).dump(1) : seq.chords()) << "\n";
                    return 0;
                }
                bool allFound = true;
                if (o->json)
                    std::cout << kbd::charactersJson(finder, text, allFound).dump(1) << "\n";
                else
                    std::cout << kbd::charactersText(finder, text, allFound);
                return allFound ? 0 : 1;
            }};
}

}  // namespace kbdtool
