#pragma once
// velm-publish's command line. The forms below are a contract that operators' scripts
// rely on; options may be added, never renamed.
//
//   velm-publish release --root PATCHROOT --base-url URL --client DIR
//                        [--launcher EXE] [--script FILE] [--max-history N] [--quiet]
//   velm-publish pack --client DIR --launcher EXE --out EXE [--store] [--quiet]
//   velm-publish pack --root PATCHROOT --launcher EXE --out EXE [--quiet]
//   velm-publish verify --root PATCHROOT [--quiet]
//   velm-publish diff --old FILE --new FILE --out FILE
//   velm-publish compress --in FILE --out FILE
#include "pack.h"
#include "release.h"

#include <string>
#include <vector>

namespace velm::publish {

enum class Command { kHelp, kRelease, kPack, kVerify, kDiff, kCompress };

struct CommandLine {
    Command command = Command::kHelp;
    ReleaseOptions release;
    PackOptions pack;
    std::filesystem::path verify_root;
    // diff and compress
    std::filesystem::path old_file, new_file, in_file, out_file;
    bool quiet = false;
};

extern const char kUsage[];

// Arguments after the program name, UTF-8. 1 on success, 0 with a reason in error.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

}  // namespace velm::publish
