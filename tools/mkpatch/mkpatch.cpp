// talvora-mkpatch: builds patch archives, lays out the patch server and checks what is published.
#include <cstdio>
#include <string>

#include "tools/common/tool_support.h"
#include "tools/mkpatch/change_set.h"
#include "tools/mkpatch/patch_build.h"
#include "tools/mkpatch/release_signing.h"
#include "tools/mkpatch/server_commands.h"

namespace fs = std::filesystem;

namespace {

const char Usage[] =
    "usage: talvora-mkpatch <command> ...\n"
    "\n"
    "  build <N> <change-dir> <out-dir> [--seed S] [--rar PROGRAM] [--codepage CP]\n"
    "      Builds patch N from a change folder:\n"
    "        pack/        files to store in the pack store, under their relative paths\n"
    "        loose/       files to write in the game folder, under their relative paths\n"
    "        delete.txt   files to delete from the game folder, one relative path per line\n"
    "      Writes <out-dir>/N.rar: the patch file N.dat with the pack files, and the loose files\n"
    "      as ext\\<path> entries. A patch file holds one kind of record, so deletions that come\n"
    "      with other changes go into the next number, N+1.rar. S is the mask seed (0-255; random\n"
    "      by default). PROGRAM is the rar archiver (default: rar on the PATH). Names are taken in\n"
    "      the game's code page CP (default 1252, Windows-1252); one without a form there is refused.\n"
    "  diff <old-build> <new-build> <change-dir> [--codepage CP]\n"
    "      Writes the change folder between two builds of the game data, each laid out as pack/\n"
    "      and loose/. Files gone from pack/ cannot be taken out of a store: they are listed.\n"
    "  publish <server-dir> [N.rar ...] [--launcher FILE --launcher-version V]\n"
    "                                   [--client FILE --client-version V]\n"
    "                                   [--sign KEY [--valid-days D]]\n"
    "      Copies the archives into <server-dir>/patch/, with launcher.exe and Orvant.exe when\n"
    "      given, and writes patch.hpl (latest patch, launcher version, client version). Refuses to\n"
    "      replace a published archive, a version that does not grow, and a gap in the numbers.\n"
    "      Also writes <server-dir>/nginx-site.conf, a sample nginx site with the cache rules.\n"
    "      --sign also writes manifest.sig, signed with the release key KEY and valid for D days\n"
    "      (default 30; publish again with --sign before it expires). Once a server has a manifest,\n"
    "      every publication must be signed.\n"
    "  keygen <dir>\n"
    "      Writes <dir>/release.key (the private release key: keep it offline) and <dir>/release.pub\n"
    "      (build the launcher with -DTALVORA_RELEASE_PUBLIC_KEY=<dir>/release.pub). Refuses to\n"
    "      overwrite an existing release.key.\n"
    "  check <base-install-dir> <server-dir> [--out DIR]\n"
    "      Copies the installation, applies every published patch after its version with the\n"
    "      launcher's own extraction and patch application, and checks the resulting store. Exit\n"
    "      code 1 at the first patch that fails. --out keeps the resulting installation in DIR.\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 bad usage.\n";

int usageError(const std::string& text) { return tools::fail(text + " (talvora-mkpatch --help)", tools::ExitUsage); }

bool version(const tools::Arguments& args, const char* option, bool* has, uint32_t* out) {
    *has = args.has(option);
    if (!*has) return true;
    uint64_t v;
    if (!tools::parseNumber(args.value(option), 0, 0xFFFFFFFFu, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    tools::setToolName("talvora-mkpatch");
    if (argc < 2) return usageError("no command");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage, stdout);
        return tools::ExitOk;
    }
    tools::Arguments args(argc, argv, 2,
                          {"--seed", "--rar", "--launcher", "--launcher-version", "--client", "--client-version",
                           "--out", "--codepage", "--sign", "--valid-days"},
                          {"--help"});
    if (!args.ok()) return usageError(args.error());
    if (args.has("--help")) {
        std::fputs(Usage, stdout);
        return tools::ExitOk;
    }
    const auto& p = args.positional();
    std::string why;
    if (args.has("--codepage")) {
        tools::GameCodePage page;
        if (!tools::GameCodePage::parse(args.value("--codepage"), &page, &why)) return usageError(why);
        tools::setGameCodePage(page);
    }

    if (command == "build") {
        if (p.size() != 3) return usageError("build needs <N> <change-dir> <out-dir>");
        uint64_t number = 0, seed = 0;
        if (!tools::parseNumber(p[0], 1, 65535, &number)) return usageError("N must be a patch number from 1 to 65535");
        if (args.has("--seed") && !tools::parseNumber(args.value("--seed"), 0, 255, &seed)) {
            return usageError("--seed must be a number from 0 to 255");
        }
        tools::ChangeSet change;
        if (!tools::loadChangeSet(p[1], &change, &why)) return tools::fail(why);
        std::vector<tools::BuiltArchive> built;
        if (!tools::buildPatches(static_cast<uint32_t>(number), change, p[2],
                                 args.has("--seed") ? static_cast<int>(seed) : -1, args.value("--rar", "rar"), &built,
                                 &why)) {
            return tools::fail(why);
        }
        for (const tools::BuiltArchive& b : built) {
            std::printf("wrote %s: patch %u, %s\n", b.archive.string().c_str(), b.number, b.summary.c_str());
        }
        return tools::ExitOk;
    }
    if (command == "diff") {
        if (p.size() != 3) return usageError("diff needs <old-build> <new-build> <change-dir>");
        tools::ChangeSet change;
        std::vector<std::string> stranded;
        if (!tools::diffBuilds(p[0], p[1], &change, &stranded, &why) || !tools::writeChangeSet(change, p[2], &why)) {
            return tools::fail(why);
        }
        for (const std::string& s : stranded) {
            tools::note("pack/" + s +
                        " is gone from the new build but stays in players' stores (a store cannot drop files)");
        }
        std::printf("wrote %s: %zu pack files, %zu loose files, %zu deletions\n", p[2].c_str(), change.pack.size(),
                    change.loose.size(), change.deletions.size());
        return tools::ExitOk;
    }
    if (command == "publish") {
        if (p.empty()) return usageError("publish needs <server-dir>");
        tools::PublishRequest q;
        q.serverFolder = p[0];
        q.archives.assign(p.begin() + 1, p.end());
        q.launcherFile = args.value("--launcher");
        q.clientFile = args.value("--client");
        if (!version(args, "--launcher-version", &q.hasLauncherVersion, &q.launcherVersion) ||
            !version(args, "--client-version", &q.hasClientVersion, &q.clientVersion)) {
            return usageError("versions are numbers from 0 to 4294967295");
        }
        q.signingKey = args.value("--sign");
        if (args.has("--sign") && q.signingKey.empty()) return usageError("--sign needs the release key file");
        if (args.has("--valid-days")) {
            uint64_t days = 0;
            if (q.signingKey.empty()) return usageError("--valid-days goes with --sign");
            if (!tools::parseNumber(args.value("--valid-days"), 1, 3650, &days)) {
                return usageError("--valid-days must be a number of days from 1 to 3650");
            }
            q.validDays = static_cast<uint32_t>(days);
        }
        return tools::publish(q);
    }
    if (command == "keygen") {
        if (p.size() != 1) return usageError("keygen needs <dir>");
        if (!tools::makeReleaseKey(p[0], &why)) return tools::fail(why);
        std::printf("wrote %s/release.key (private: keep it offline) and %s/release.pub\n", p[0].c_str(), p[0].c_str());
        return tools::ExitOk;
    }
    if (command == "check") {
        if (p.size() != 2) return usageError("check needs <base-install-dir> <server-dir>");
        return tools::checkPatches(p[0], p[1], args.value("--out"));
    }
    return usageError("unknown command " + command);
}
