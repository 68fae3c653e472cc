#pragma once
// velm-publish's command line. The forms below are a contract that operators' scripts
// rely on; options may be added, never renamed.
//
//   velm-publish release --root PATCHROOT --base-url URL --client DIR
//                        [--launcher EXE] [--script FILE] [--max-history N] [--jobs N]
//                        [--sign-key KEY.pem [--expires-days N] [--channel NAME] | --unsigned]
//                        [--quiet]
//   velm-publish resign --root PATCHROOT --sign-key KEY.pem [--expires-days N]
//                       [--channel NAME] [--quiet]
//   velm-publish pack --client DIR --launcher EXE --out EXE [--store] [--quiet]
//   velm-publish pack --root PATCHROOT --launcher EXE --out EXE [--quiet]
//   velm-publish verify --root PATCHROOT [--public-key TEXT] [--channel NAME] [--quiet]
//   velm-publish keygen --out KEY.pem
//   velm-publish public-key --key KEY.pem
//   velm-publish diff --old FILE --new FILE --out FILE
//   velm-publish compress --in FILE --out FILE
#include "pack.h"
#include "release.h"
#include "resign.h"
#include "verify.h"

#include <string>
#include <vector>

namespace velm::publish {

enum class Command { kHelp, kRelease, kResign, kPack, kVerify, kDiff, kCompress, kKeygen, kPublicKey };

struct CommandLine {
    Command command = Command::kHelp;
    ReleaseOptions release;
    ResignOptions resign;
    PackOptions pack;
    VerifyOptions verify;
    // diff, compress, keygen (out_file) and public-key (in_file)
    std::filesystem::path old_file, new_file, in_file, out_file;
    bool quiet = false;
};

extern const char kUsage[];

// Arguments after the program name, UTF-8. 1 on success, 0 with a reason in error.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

}  // namespace velm::publish
