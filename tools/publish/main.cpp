// velm-publish entry: command line in, exit code out.
#include "command_line.h"
#include "file_commands.h"
#include "signing.h"
#include "verify.h"

#include "common/text.h"

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <cwchar>
#endif

namespace {

using namespace velm::publish;

constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

int Run(const std::vector<std::string>& args) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        std::fprintf(stderr, "velm-publish: %s\n\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    switch (line.command) {
        case Command::kHelp:
            std::fputs(kUsage, stdout);
            return 0;
        case Command::kRelease:
            if (!RunRelease(line.release, error)) break;
            return 0;
        case Command::kResign:
            if (!RunResign(line.resign, error)) break;
            return 0;
        case Command::kPack:
            if (!RunPack(line.pack, error)) break;
            std::fprintf(stderr, "pack: wrote %s\n", line.pack.out.u8string().c_str());
            return 0;
        case Command::kDiff:
            if (!RunDiffCommand(line.old_file, line.new_file, line.out_file, error)) break;
            return 0;
        case Command::kCompress:
            if (!RunCompressCommand(line.in_file, line.out_file, error)) break;
            return 0;
        case Command::kVerify: {
            VerifyReport report;
            if (!RunVerify(line.verify, report, error)) break;
            for (const std::string& problem : report.problems)
                std::fprintf(stderr, "problem: %s\n", problem.c_str());
            std::FILE* out = report.problems.empty() ? stdout : stderr;
            std::fprintf(out, "%s\n", SignatureSummary(report).c_str());
            std::fprintf(out, "verify: %zu problem(s); %zu entries, %zu full files, %zu diffs checked\n",
                         report.problems.size(), report.entries, report.full_files, report.diffs);
            return report.problems.empty() ? 0 : kExitProblems;
        }
        case Command::kKeygen:
        case Command::kPublicKey: {
            velm::ReleasePublicKey key{};
            std::string pem;
            if (line.command == Command::kKeygen ? !MakeSigningKey(line.out_file, key, error)
                                                 : !ReadSigningKey(line.in_file, pem, key, error))
                break;
            if (line.command == Command::kKeygen) {
                std::fprintf(stderr,
                             "keygen: wrote the private key to %s; keep it off the patch server.\n"
                             "keygen: the launcher's release public key:\n",
                             line.out_file.u8string().c_str());
            }
            std::printf("%s\n", velm::WideToUtf8(velm::ReleasePublicKeyText(key)).c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "velm-publish: %s\n", error.c_str());
    return kExitFailure;
}

}  // namespace

#ifdef _WIN32
// Wide entry so that paths outside the ANSI code page reach the tool intact.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(velm::WideToUtf8(argv[i]));
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
