#include "resign.h"

#include "durable_files.h"
#include "patch_root.h"

#include "common/text.h"
#include "formats/file_list.h"

namespace velm::publish {
namespace fs = std::filesystem;

int RunResign(const ResignOptions& options, std::string& error) {
    if (options.signing.key.empty()) {
        error = "resign needs --sign-key";
        return 0;
    }
    PatchRoot root;
    if (!LoadPatchRoot(options.root, root, error)) return 0;
    if (root.empty) {
        error = "no release in " + options.root.u8string();
        return 0;
    }
    // Signing a list that launchers with the key refuse would only look like success.
    const std::wstring unvouched = FindUnvouchedObject(root.list);
    if (!unvouched.empty()) {
        error = "launchers that hold a key refuse the current list (" + WideToUtf8(unvouched) +
                "); publish a release with this velm-publish, which completes the list, instead";
        return 0;
    }
    SigningPlan plan;
    std::string signature;
    if (!PlanSigning(options.root, options.signing, false, "resign", options.quiet, plan, error) ||
        !SignList(plan, root.xml, signature, error))
        return 0;
    const fs::path staged = options.root / ".filelist.xml.sig.new";
    const fs::path target = options.root / kFileListSigName;
    // The serial is recorded before the signature that uses it goes live.
    bool done = WriteFlushed(staged, signature.data(), signature.size());
    if (!done) error = "cannot write " + staged.u8string();
    done = done && WriteKeySerial(plan.serial_path, plan.signature.serial, error);
    if (done && !(MoveFileOver(staged, target) && FlushFolder(options.root))) {
        done = false;
        error = "cannot replace " + target.u8string();
    }
    if (done) {
        ReportSignature(plan, "resign", options.quiet);
        return 1;
    }
    std::error_code ignored;
    fs::remove(staged, ignored);
    return 0;
}

}  // namespace velm::publish
