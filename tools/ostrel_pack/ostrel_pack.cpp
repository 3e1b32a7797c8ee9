// ostrel-pack: builds and inspects the game's pack store ("data.idx" and its packs).
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/common/tool_support.h"
#include "tools/ostrel_pack/store_commands.h"

namespace {

const char Usage[] =
    "usage: ostrel-pack <command> ...\n"
    "\n"
    "  create <out-dir> <content-dir> [--version N] [--codepage CP]\n"
    "      A new store in <out-dir> (data.idx, GAME0.VFS, GAME1.VFS, ...) holding every file of\n"
    "      <content-dir> under its relative path, as the game asks for it (data\\maps\\a.bin).\n"
    "      N is the store's patch number (default 0). <out-dir> must not hold a store yet.\n"
    "      Names are keyed in the game's code page CP (default 1252, Windows-1252, in which the\n"
    "      game asks); a file whose name has no form in it is refused.\n"
    "  list <index> [--names <content-dir or list file>] [--codepage CP]\n"
    "      Version, packs and every entry (key, pack, offset, length). The index keeps no names:\n"
    "      given candidate paths, entries whose key matches one are named.\n"
    "  cat <index> <path>\n"
    "      Writes the stored file <path> to standard output, read through OstrelVFS.\n"
    "  extract <index> <out-dir> --names <content-dir or list file> [--codepage CP]\n"
    "      Writes every candidate path that the store holds under <out-dir>; refuses names that\n"
    "      would leave it.\n"
    "  verify <index> [--names <content-dir or list file>] [--codepage CP]\n"
    "      Checks every entry lies inside its pack, keys occur once, entries do not overlap, packs\n"
    "      exist and are not empty; reports dead space; with --names, every name must be stored.\n"
    "      Exit code 1 when a problem is found.\n"
    "\n"
    "Exit codes: 0 success, 1 failure or problem found, 2 bad usage.\n";

int usageError(const std::string& text) {
    tools::fail(text + " (ostrel-pack --help)", tools::ExitUsage);
    return tools::ExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    tools::setToolName("ostrel-pack");
    if (argc < 2) return usageError("no command");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage, stdout);
        return tools::ExitOk;
    }
    tools::Arguments args(argc, argv, 2, {"--version", "--names", "--codepage"}, {"--help"});
    if (!args.ok()) return usageError(args.error());
    if (args.has("--help")) {
        std::fputs(Usage, stdout);
        return tools::ExitOk;
    }
    if (args.has("--codepage")) {
        tools::GameCodePage page;
        std::string why;
        if (!tools::GameCodePage::parse(args.value("--codepage"), &page, &why)) return usageError(why);
        tools::setGameCodePage(page);
    }
    const auto& p = args.positional();
    if (command == "create") {
        if (p.size() != 2) return usageError("create needs <out-dir> <content-dir>");
        uint64_t version = 0;
        if (args.has("--version") && !tools::parseNumber(args.value("--version"), 0, 65535, &version)) {
            return usageError("--version must be a patch number from 0 to 65535");
        }
        return tools::createStore(p[0], p[1], static_cast<int32_t>(version));
    }
    if (command == "list") {
        if (p.size() != 1) return usageError("list needs <index>");
        return tools::listStore(p[0], args.value("--names"));
    }
    if (command == "cat") {
        if (p.size() != 2) return usageError("cat needs <index> <path>");
        return tools::catFile(p[0], p[1]);
    }
    if (command == "extract") {
        if (p.size() != 2 || !args.has("--names")) return usageError("extract needs <index> <out-dir> --names ...");
        return tools::extractFiles(p[0], p[1], args.value("--names"));
    }
    if (command == "verify") {
        if (p.size() != 1) return usageError("verify needs <index>");
        return tools::verifyStore(p[0], args.value("--names"));
    }
    return usageError("unknown command " + command);
}
