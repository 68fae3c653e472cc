#pragma once
// The check an object passes before it is moved into the installation: its MD5 against the
// published one and, where the file list gives them, its SHA-256 and length, which a signed
// list vouches for (MD5 alone can be matched by a second, prepared file). All of them are
// taken in one pass over the bytes as they come (decoded out of a container, read back from
// a plain transfer, or out of a patch step), so that the check costs no second read.
//
// Not thread-safe; one object per pass.
#include <cstdint>
#include <memory>
#include <string>

#include "common/cng_win32.h"
#include "common/md5.h"
#include "formats/content_digest.h"

namespace velm {

enum class ContentVerdict {
    kMatches,
    kMd5Differs,
    kSizeDiffers,
    kSha256Differs,
    kSha256Unavailable,  // the system gave no SHA-256 for an object that needs one
};

// What the object fails to match, for an error text: "its published MD5", ...
const wchar_t* ContentVerdictText(ContentVerdict verdict);

class ContentCheck {
public:
    // expected_md5 empty: there is no MD5 to compare with (it is still taken, for the hash
    // cache). expected not present: no SHA-256 is taken.
    ContentCheck(std::wstring expected_md5, const ContentDigest& expected);

    void Update(const uint8_t* data, size_t size);
    uint64_t Size() const { return size_; }
    // Ends the pass; md5 gets the upper-case hexadecimal MD5 of every byte given.
    ContentVerdict Finish(std::wstring& md5);

private:
    std::wstring expected_md5_;
    ContentDigest expected_;
    Md5 md5_;
    std::unique_ptr<CngSha256Stream> sha256_;
    uint64_t size_ = 0;
};

// Reads the whole file through check; false (last error set) when it cannot be read.
bool CheckFileContent(const std::wstring& path, ContentCheck& check);

}  // namespace velm
