#include "command_line.h"

#include "common/text.h"

#include <algorithm>
#include <map>

namespace velm::publish {
namespace fs = std::filesystem;

const char kUsage[] =
    "velm-publish: publishes client releases and update packages for the Velm launcher.\n"
    "\n"
    "  velm-publish release --root PATCHROOT --base-url URL --client DIR\n"
    "                       [--launcher EXE] [--script FILE] [--max-history N] [--jobs N]\n"
    "                       [--sign-key KEY.pem [--expires-days N] [--channel NAME] | --unsigned]\n"
    "      Publishes DIR as the next version into PATCHROOT, which is served at URL:\n"
    "      writes PATCHROOT/filelist.xml, PATCHROOT/filelist.xml.hash and a new version\n"
    "      folder vN holding the files that changed (full and as diffs from the previous\n"
    "      version). --launcher publishes a new launcher for self-update; --script sets\n"
    "      the post-update script (without it the published script is kept).\n"
    "      --max-history N keeps N older versions per file (default 30). --jobs N\n"
    "      compresses and diffs N files at once (default: the number of cores).\n"
    "      --sign-key KEY.pem signs the release (PATCHROOT/filelist.xml.sig) with the\n"
    "      next release serial: one above the larger of the root's and the one recorded\n"
    "      beside the key (KEY.pem.serial). The signature expires after --expires-days N\n"
    "      days (default 30; 0: never) and names the channel --channel NAME (default\n"
    "      live; a-z, 0-9, '.', '_', '-'). A root whose release is signed takes no\n"
    "      unsigned release unless --unsigned is given (its signature is then removed).\n"
    "\n"
    "  velm-publish resign --root PATCHROOT --sign-key KEY.pem [--expires-days N]\n"
    "                      [--channel NAME]\n"
    "      Signs the current release of PATCHROOT again with the next serial and a new\n"
    "      expiry, changing nothing else: run it from a scheduled job well within the\n"
    "      expiry, so that launchers keep accepting an unchanged release.\n"
    "\n"
    "  velm-publish pack --client DIR --launcher EXE --out EXE [--store]\n"
    "      Appends an update package of DIR to a copy of the launcher EXE, written to\n"
    "      --out, which then opens in package mode. --store keeps entries uncompressed.\n"
    "  velm-publish pack --root PATCHROOT --launcher EXE --out EXE\n"
    "      The same with the current release of PATCHROOT: the file list, every file\n"
    "      and every diff, as the patch server serves them, for the launcher's update\n"
    "      run to take from the package instead of the network.\n"
    "\n"
    "  velm-publish verify --root PATCHROOT [--public-key TEXT] [--channel NAME]\n"
    "      Reads PATCHROOT as the launcher would and checks every URL, size, hash and\n"
    "      diff chain, and the release signature when there is one. With --public-key\n"
    "      (\"P256:\" and 128 hex digits) the release must be signed with that key; the\n"
    "      signature must name the channel --channel NAME (default live).\n"
    "      Exits with 1 and lists the problems when anything is wrong.\n"
    "\n"
    "  velm-publish keygen --out KEY.pem\n"
    "      Makes a release signing key: writes the private key (owner-only, never over an\n"
    "      existing file) and prints the public key text for the launcher's configuration.\n"
    "  velm-publish public-key --key KEY.pem\n"
    "      Prints the public key text of a signing key.\n"
    "      Signing works in the native (Linux) build of velm-publish only.\n"
    "\n"
    "  velm-publish diff --old FILE --new FILE --out FILE\n"
    "  velm-publish compress --in FILE --out FILE\n"
    "      One diff, or one full file, in the compressed container the server stores.\n"
    "\n"
    "  --quiet   no progress lines      --help   this text\n"
    "\n"
    "Exit codes: 0 success, 1 verify found problems, 2 bad command line, 3 failure.\n";

namespace {

fs::path PathArg(const std::string& text) { return fs::u8path(text); }

}  // namespace

int ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
    line = CommandLine();
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") return 1;
    static const std::map<std::string, Command> commands = {
        {"release", Command::kRelease}, {"resign", Command::kResign},
        {"pack", Command::kPack},       {"verify", Command::kVerify},
        {"diff", Command::kDiff},       {"compress", Command::kCompress},
        {"keygen", Command::kKeygen},   {"public-key", Command::kPublicKey}};
    auto command = commands.find(args[0]);
    if (command == commands.end()) {
        error = "unknown command \"" + args[0] + "\"";
        return 0;
    }
    line.command = command->second;
    std::map<std::string, std::string> values;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            line.command = Command::kHelp;
            return 1;
        }
        if (arg == "--quiet") {
            line.quiet = true;
            continue;
        }
        if (arg == "--store" && line.command == Command::kPack) {
            line.pack.store = true;
            continue;
        }
        if (arg == "--unsigned" && line.command == Command::kRelease) {
            line.release.unsigned_release = true;
            continue;
        }
        static const std::map<Command, std::vector<std::string>> allowed = {
            {Command::kRelease,
             {"--root", "--base-url", "--client", "--launcher", "--script", "--max-history",
              "--sign-key", "--expires-days", "--channel", "--jobs"}},
            {Command::kResign, {"--root", "--sign-key", "--expires-days", "--channel"}},
            {Command::kPack, {"--client", "--root", "--launcher", "--out"}},
            {Command::kVerify, {"--root", "--public-key", "--channel"}},
            {Command::kDiff, {"--old", "--new", "--out"}},
            {Command::kCompress, {"--in", "--out"}},
            {Command::kKeygen, {"--out"}},
            {Command::kPublicKey, {"--key"}}};
        const auto& names = allowed.at(line.command);
        if (std::find(names.begin(), names.end(), arg) == names.end()) {
            error = "unknown option \"" + arg + "\" for " + args[0];
            return 0;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = "option " + arg + " needs a value";
            return 0;
        }
        if (!values.emplace(arg, args[++i]).second) {
            error = "option " + arg + " given twice";
            return 0;
        }
    }
    auto require = [&](const char* name) {
        if (values.count(name)) return true;
        error = std::string("missing ") + name + " for " + args[0];
        return false;
    };
    auto channel = [&](std::wstring& name) {
        if (!values.count("--channel")) return true;
        name = Utf8ToWide(values["--channel"]);
        if (IsReleaseChannelName(name)) return true;
        error = "--channel takes 1 to 64 of a-z, 0-9, '.', '_' and '-'";
        return false;
    };
    // The key, expiry and channel of release and resign.
    auto signing = [&](SigningOptions& options) {
        if (values.count("--sign-key")) options.key = PathArg(values["--sign-key"]);
        if (options.key.empty() && (values.count("--expires-days") || values.count("--channel"))) {
            error = std::string(values.count("--channel") ? "--channel" : "--expires-days") + " needs --sign-key";
            return false;
        }
        if (values.count("--expires-days")) {
            const std::string& text = values["--expires-days"];
            if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
                error = "--expires-days takes a number from 0 to 99999";
                return false;
            }
            options.expires_days = std::stoi(text);
        }
        return channel(options.channel);
    };
    switch (line.command) {
        case Command::kRelease: {
            if (!require("--root") || !require("--base-url") || !require("--client")) return 0;
            ReleaseOptions& r = line.release;
            r.root = PathArg(values["--root"]);
            r.base_url = Utf8ToWide(values["--base-url"]);
            r.client = PathArg(values["--client"]);
            if (values.count("--launcher")) r.launcher = PathArg(values["--launcher"]);
            if (values.count("--script")) r.script = PathArg(values["--script"]);
            if (values.count("--max-history")) {
                const std::string& text = values["--max-history"];
                if (text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(text) < 1) {
                    error = "--max-history takes a number from 1 to 9999";
                    return 0;
                }
                r.max_history = size_t(std::stoi(text));
            }
            r.jobs = DefaultReleaseJobs();
            if (values.count("--jobs")) {
                const std::string& text = values["--jobs"];
                if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(text) < 1) {
                    error = "--jobs takes a number from 1 to 999";
                    return 0;
                }
                r.jobs = size_t(std::stoi(text));
            }
            if (!signing(r.signing)) return 0;
            if (r.unsigned_release && !r.signing.key.empty()) {
                error = "--unsigned and --sign-key exclude each other";
                return 0;
            }
            if (r.base_url.find(L'\\') != std::wstring::npos || r.base_url.find(L' ') != std::wstring::npos ||
                r.base_url.find(L"://") == std::wstring::npos) {
                error = "--base-url must be an absolute URL without blanks or backslashes";
                return 0;
            }
            r.quiet = line.quiet;
            break;
        }
        case Command::kResign:
            if (!require("--root") || !require("--sign-key") || !signing(line.resign.signing)) return 0;
            line.resign.root = PathArg(values["--root"]);
            line.resign.quiet = line.quiet;
            break;
        case Command::kPack:
            if (values.count("--client") == values.count("--root")) {
                error = "pack takes either --client or --root";
                return 0;
            }
            if (!require("--launcher") || !require("--out")) return 0;
            if (values.count("--client")) line.pack.client = PathArg(values["--client"]);
            if (values.count("--root")) line.pack.root = PathArg(values["--root"]);
            line.pack.launcher = PathArg(values["--launcher"]);
            line.pack.out = PathArg(values["--out"]);
            line.pack.quiet = line.quiet;
            break;
        case Command::kVerify:
            if (!require("--root")) return 0;
            line.verify.root = PathArg(values["--root"]);
            if (values.count("--public-key")) {
                line.verify.has_key = true;
                if (!ParseReleasePublicKey(Utf8ToWide(values["--public-key"]), line.verify.key)) {
                    error = "--public-key takes \"P256:\" and 128 hexadecimal digits";
                    return 0;
                }
            }
            if (!channel(line.verify.channel)) return 0;
            line.verify.quiet = line.quiet;
            break;
        case Command::kKeygen:
            if (!require("--out")) return 0;
            line.out_file = PathArg(values["--out"]);
            break;
        case Command::kPublicKey:
            if (!require("--key")) return 0;
            line.in_file = PathArg(values["--key"]);
            break;
        case Command::kDiff:
            if (!require("--old") || !require("--new") || !require("--out")) return 0;
            line.old_file = PathArg(values["--old"]);
            line.new_file = PathArg(values["--new"]);
            line.out_file = PathArg(values["--out"]);
            break;
        case Command::kCompress:
            if (!require("--in") || !require("--out")) return 0;
            line.in_file = PathArg(values["--in"]);
            line.out_file = PathArg(values["--out"]);
            break;
        case Command::kHelp:
            break;
    }
    return 1;
}

}  // namespace velm::publish
