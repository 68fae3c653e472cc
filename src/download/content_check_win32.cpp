#include "download/content_check_win32.h"

#include <windows.h>

#include <vector>

#include "common/handle_win32.h"

namespace velm {

const wchar_t* ContentVerdictText(ContentVerdict verdict) {
    switch (verdict) {
    case ContentVerdict::kMatches:
        return L"what it should";
    case ContentVerdict::kMd5Differs:
        return L"its published MD5";
    case ContentVerdict::kSizeDiffers:
        return L"the size its file list gives";
    case ContentVerdict::kSha256Differs:
        return L"the SHA-256 its file list gives";
    case ContentVerdict::kSha256Unavailable:
        return L"a SHA-256 the system can compute";
    }
    return L"";
}

ContentCheck::ContentCheck(std::wstring expected_md5, const ContentDigest& expected)
    : expected_md5_(std::move(expected_md5)), expected_(expected) {
    if (expected_.present) sha256_ = std::make_unique<CngSha256Stream>();
}

void ContentCheck::Update(const uint8_t* data, size_t size) {
    md5_.Update(data, size);
    if (sha256_) sha256_->Update(data, size);
    size_ += size;
}

ContentVerdict ContentCheck::Finish(std::wstring& md5) {
    md5 = Md5ToHex(md5_.Finish());
    if (!expected_md5_.empty() && !HashTextEquals(md5, expected_md5_)) return ContentVerdict::kMd5Differs;
    if (!expected_.present) return ContentVerdict::kMatches;
    if (size_ != expected_.size) return ContentVerdict::kSizeDiffers;
    Sha256Digest digest{};
    if (!sha256_->Finish(digest)) return ContentVerdict::kSha256Unavailable;
    return digest == expected_.sha256 ? ContentVerdict::kMatches : ContentVerdict::kSha256Differs;
}

bool CheckFileContent(const std::wstring& path, ContentCheck& check) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    std::vector<uint8_t> piece(1u << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), piece.data(), DWORD(piece.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        check.Update(piece.data(), got);
    }
}

}  // namespace velm
