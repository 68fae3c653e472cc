// "filelist.xml.sig" and the public key text: the reader against every wrong size, a
// foreign tag or version, and the writer's bytes at their documented offsets.
#include "formats/release_signature.h"

#include "common/text.h"
#include "formats/accepted_release.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

namespace velm {
namespace {

ReleaseSignature Sample(uint32_t version) {
    ReleaseSignature release;
    release.version = version;
    for (size_t i = 0; i < release.key_id.size(); ++i) release.key_id[i] = uint8_t(0xA0 + i);
    release.serial = 0x0807060504030201ull;
    release.expires = 0x1122334455667788ull;
    for (size_t i = 0; i < release.list_sha256.size(); ++i) release.list_sha256[i] = uint8_t(i);
    if (version != kReleaseSignatureVersion1)
        for (size_t i = 0; i < release.channel_id.size(); ++i) release.channel_id[i] = uint8_t(0x40 + i);
    for (size_t i = 0; i < release.signature.size(); ++i) release.signature[i] = uint8_t(0xFF - i);
    return release;
}

uint64_t LeAt(const std::string& bytes, size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = size; i-- > 0;) value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// Version 1 (140 bytes, no channel) is still read, as launchers in the field meet it;
// version 2 adds the channel id before the signature.
TEST(ReleaseSignature, WriterPlacesEveryFieldAndTheReaderGivesItBack) {
    struct Case {
        uint32_t version;
        size_t size;
        size_t signature_at;
    } cases[] = {{1, 140, 76}, {2, 172, 108}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        const ReleaseSignature release = Sample(c.version);
        const std::string bytes = EncodeReleaseSignature(release);
        ASSERT_EQ(bytes.size(), c.size);
        EXPECT_EQ(bytes.substr(0, 16), "VELM-RELEASE-SIG");
        EXPECT_EQ(LeAt(bytes, 16, 4), c.version);
        EXPECT_EQ(uint8_t(bytes[20]), 0xA0);
        EXPECT_EQ(LeAt(bytes, 28, 8), release.serial);
        EXPECT_EQ(LeAt(bytes, 36, 8), release.expires);
        EXPECT_EQ(uint8_t(bytes[44]), 0);
        EXPECT_EQ(uint8_t(bytes[75]), 31);
        if (c.version == 2) {
            EXPECT_EQ(uint8_t(bytes[76]), 0x40);
            EXPECT_EQ(uint8_t(bytes[107]), 0x40 + 31);
        }
        EXPECT_EQ(uint8_t(bytes[c.signature_at]), 0xFF);
        EXPECT_EQ(uint8_t(bytes[c.size - 1]), 0xFF - 63);
        // The signed part is the file without its signature.
        EXPECT_EQ(EncodeSignedPart(release), bytes.substr(0, c.signature_at));

        ReleaseSignature read;
        std::string reason;
        ASSERT_EQ(ParseReleaseSignature(bytes, read, reason), 1) << reason;
        EXPECT_EQ(read.version, c.version);
        EXPECT_EQ(read.key_id, release.key_id);
        EXPECT_EQ(read.serial, release.serial);
        EXPECT_EQ(read.expires, release.expires);
        EXPECT_EQ(read.list_sha256, release.list_sha256);
        EXPECT_EQ(read.channel_id, release.channel_id);
        EXPECT_EQ(read.signature, release.signature);
    }
}

// Each version is read at its own size only: a version 2 file cut to 140 bytes is not a
// version 1 file, nor is a version 1 file padded to 172 a version 2 one.
TEST(ReleaseSignature, OnlyTheExactSizeOfItsVersionIsRead) {
    for (uint32_t version : {1u, 2u}) {
        const std::string good = EncodeReleaseSignature(Sample(version));
        for (size_t size = 0; size <= 173; ++size) {
            std::string bytes = good.substr(0, size);
            bytes.resize(size, '\0');
            ReleaseSignature read;
            read.serial = 77;
            std::string reason;
            const int result = ParseReleaseSignature(bytes, read, reason);
            EXPECT_EQ(result, size == good.size() ? 1 : 0) << version << " " << size;
            if (result == 0) {
                EXPECT_EQ(read.serial, 77u) << "a refused file changed the output, size " << size;
                EXPECT_NE(reason.find(std::to_string(size) + " bytes"), std::string::npos) << reason;
            }
        }
    }
}

TEST(ReleaseSignature, ForeignTagOrVersionIsRefused) {
    const std::string good = EncodeReleaseSignature(Sample(2));
    struct Case {
        const char* what;
        size_t at;
        char value;
        const char* reason;
    };
    const Case cases[] = {
        {"tag's first byte", 0, 'v', "not a release signature"},
        {"tag's last byte", 15, 'g', "not a release signature"},
        {"version 0", 16, 0, "version 0"},
        {"version 3", 16, 3, "version 3"},
        {"version 2 + 2^24", 19, 1, "version 16777218"},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        bytes[c.at] = c.value;
        ReleaseSignature read;
        std::string reason;
        EXPECT_EQ(ParseReleaseSignature(bytes, read, reason), 0) << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    }
}

TEST(ReleaseChannelName, OneSpellingPerName) {
    for (const wchar_t* good : {L"live", L"test-2", L"eu.beta_1", L"0"})
        EXPECT_TRUE(IsReleaseChannelName(good)) << WideToUtf8(good);
    for (const std::wstring& bad : {std::wstring(L""), std::wstring(L"Live"), std::wstring(L"live "),
                                    std::wstring(L"测试"), std::wstring(L"a/b"), std::wstring(65, L'a')})
        EXPECT_FALSE(IsReleaseChannelName(bad)) << WideToUtf8(bad);
    EXPECT_TRUE(IsReleaseChannelName(std::wstring(64, L'a')));
}

// "LocalReleaseSerial.txt": the serial alone (as older launchers wrote it) or with the
// list's digest; anything else is not a record.
TEST(AcceptedRelease, ReadsBothFormsAndNothingElse) {
    const std::string digest(64, 'c');
    AcceptedRelease with_list;
    ASSERT_TRUE(ParseAcceptedRelease("17 " + digest + "\r\n", with_list));
    EXPECT_EQ(with_list.serial, 17u);
    EXPECT_TRUE(with_list.has_list);
    EXPECT_EQ(with_list.list_sha256[31], 0xCC);
    EXPECT_EQ(EncodeAcceptedRelease(with_list), "17 " + digest);
    AcceptedRelease legacy;
    ASSERT_TRUE(ParseAcceptedRelease("5", legacy));
    EXPECT_EQ(legacy.serial, 5u);
    EXPECT_FALSE(legacy.has_list);
    ASSERT_TRUE(ParseAcceptedRelease("18446744073709551615\n", legacy));
    EXPECT_EQ(legacy.serial, UINT64_MAX);

    for (const std::string& bad :
         {std::string(""), std::string("\n"), std::string("-1"), std::string("+5"), std::string(" 5"),
          std::string("5 "), std::string("5x"), std::string("18446744073709551616"), std::string("5  " + digest),
          std::string("5 " + digest.substr(1)), std::string("5 " + digest + "0"), std::string("5\n\n"),
          std::string("5\t" + digest), std::string(200, '7')}) {
        AcceptedRelease read;
        read.serial = 99;
        EXPECT_FALSE(ParseAcceptedRelease(bad, read)) << bad;
        EXPECT_EQ(read.serial, 99u) << bad;
    }
}

TEST(AcceptedRelease, TheLaterRecordCounts) {
    AcceptedRelease low, high, high_with_list;
    low.serial = 3;
    high.serial = high_with_list.serial = 9;
    high_with_list.has_list = true;
    EXPECT_EQ(LaterAcceptedRelease(low, high), high);
    EXPECT_EQ(LaterAcceptedRelease(high, low), high);
    EXPECT_EQ(LaterAcceptedRelease(high, high_with_list), high_with_list);
    EXPECT_EQ(LaterAcceptedRelease(high_with_list, high), high_with_list);
}

TEST(ReleasePublicKeyText, ReadsWhatItWritesInEitherCase) {
    ReleasePublicKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(i * 37 + 5);
    const std::wstring text = ReleasePublicKeyText(key);
    ASSERT_EQ(text.size(), 5u + 128u);
    EXPECT_EQ(text.substr(0, 7), L"P256:05");  // X first, lower-case hex
    std::wstring upper = text;
    for (size_t i = 5; i < upper.size(); ++i) upper[i] = wchar_t(std::towupper(upper[i]));
    for (const std::wstring& variant :
         {text, upper, L"  " + text + L"\r\n", L"\t" + upper + L" "}) {
        ReleasePublicKey read{};
        ASSERT_TRUE(ParseReleasePublicKey(variant, read));
        EXPECT_EQ(read, key);
    }
}

TEST(ReleasePublicKeyText, RefusesAnythingElse) {
    ReleasePublicKey key{};
    key.fill(0xAB);
    const std::wstring good = ReleasePublicKeyText(key);
    const std::wstring digits = good.substr(5);
    struct Case {
        const char* what;
        std::wstring text;
    };
    const Case cases[] = {
        {"empty", L""},
        {"prefix only", L"P256:"},
        {"no prefix", digits},
        {"other curve", L"P384:" + digits},
        {"prefix in lower case", L"p256:" + digits},
        {"127 digits", good.substr(0, good.size() - 1)},
        {"129 digits", good + L"0"},
        {"not hex", good.substr(0, 40) + L"g" + good.substr(41)},
        {"blank inside", good.substr(0, 40) + L" " + good.substr(41)},
        {"blank after the prefix", L"P256: " + digits.substr(1)},
        {"full-width digit", good.substr(0, 40) + L"\xFF10" + good.substr(41)},
        {"hex prefix", L"P256:0x" + digits.substr(2)},
    };
    for (const Case& c : cases) {
        ReleasePublicKey read{};
        read.fill(0x11);
        EXPECT_FALSE(ParseReleasePublicKey(c.text, read)) << c.what;
        EXPECT_EQ(read[0], 0x11) << c.what << ": a refused text changed the key";
    }
}

TEST(ReleaseKeyId, IsTheDigestsFirstEightBytes) {
    Sha256Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = uint8_t(100 + i);
    const ReleaseKeyId id = KeyIdFromDigest(digest);
    for (size_t i = 0; i < id.size(); ++i) EXPECT_EQ(id[i], uint8_t(100 + i));
}

}  // namespace
}  // namespace velm
