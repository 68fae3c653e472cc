// Signed releases under Wine against nginx: with a release key, a run uses a file list only
// when its signature file is well-formed, made with that key over exactly those list
// bytes, not expired and not older than the release the installation has; every refusal
// leaves the installation as it was. The signature files come from a second signer of the
// format (tests/update/signed_fixture.py, the openssl command line), so that the system's
// verifier is checked against it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "common/file_io.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/file_list.h"
#include "update/release_verification_win32.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

std::wstring SignedUrl(const std::wstring& folder) { return NginxUrl() + L"/signed/" + folder + L"/filelist.xml"; }

// The public key texts of the fixture's keys "a" and "b".
std::wstring FixtureKey(const std::string& name) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WwwDir() + L"\\signed\\keys.json", bytes, 4096));
    const std::string text(bytes.begin(), bytes.end());
    const size_t at = text.find("\"" + name + "\": \"");
    if (at == std::string::npos) return L"";
    const size_t begin = at + name.size() + 5;
    return Utf8ToWide(text.substr(begin, text.find('"', begin) - begin));
}

// Every file of the installation but the launcher's scratch folder, with its MD5.
std::map<std::wstring, std::wstring> Snapshot(const Installation& installation) {
    std::map<std::wstring, std::wstring> files;
    for (const std::wstring& name : ListFiles(installation.Path()))
        if (name.compare(0, 5, L"\\tmp\\") != 0) files[name] = FileMd5(installation.File(name));
    return files;
}

std::string ReadText(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, 1 << 20);
    return std::string(bytes.begin(), bytes.end());
}

// The error-list line about the signature, or empty.
std::wstring SignatureError(TestOwner& owner) {
    for (const std::wstring& line : owner.updater.GetErrors())
        if (line.compare(0, 19, L"filelist.xml.sig : ") == 0) return line;
    return L"";
}

TEST(ReleaseSignature, ARunUsesOnlyAListSignedWithItsKey) {
    struct Case {
        const char* name;
        const wchar_t* folder;
        const char* key;           // fixture key, or "" for a launcher without one
        const char* stored_serial;  // the installation's accepted serial, or null
        int result;
        const wchar_t* error;  // part of the signature's error line; null when accepted
    } cases[] = {
        {"good", L"good", "a", nullptr, kUpdateSucceeded, nullptr},
        {"same_serial_again", L"good", "a", "5", kUpdateSucceeded, nullptr},
        {"unsigned_mode", L"missing", "", nullptr, kUpdateSucceeded, nullptr},
        {"flipped_list_byte", L"flipped_list", "a", nullptr, kUpdateFailed, L"not the one the release signature names"},
        {"signed_with_another_key", L"other_key", "a", nullptr, kUpdateFailed, L"another key"},
        {"forged_key_id", L"forged_key_id", "a", nullptr, kUpdateFailed, L"does not verify"},
        {"missing_signature", L"missing", "a", nullptr, kUpdateFailed, L"could not be downloaded"},
        {"empty_signature", L"empty", "a", nullptr, kUpdateFailed, L"has 0 bytes"},
        {"truncated_signature", L"truncated", "a", nullptr, kUpdateFailed, L"has 70 bytes"},
        {"expired", L"expired", "a", nullptr, kUpdateFailed, L"expired on 1970-01-01"},
        {"older_than_accepted", L"older_serial", "a", "5", kUpdateFailed, L"release 4 is older than release 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.name);
        Installation installation(std::string("signed_") + c.name, 2);
        if (c.stored_serial) {
            ASSERT_TRUE(WriteWholeFile(installation.File(L"\\") + kAcceptedSerialPath, c.stored_serial,
                                       std::strlen(c.stored_serial)));
        }
        const std::map<std::wstring, std::wstring> before = Snapshot(installation);
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"releases/patch", SignedUrl(c.folder));
        owner.options.release_key = *c.key ? FixtureKey(c.key) : L"";
        owner.updater.SetOptions(owner.options);

        EXPECT_EQ(RunUpdateThread(owner), c.result);
        const std::wstring error = SignatureError(owner);
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::wstring::npos) << WideToUtf8(error);
            EXPECT_EQ(Snapshot(installation), before);
            continue;
        }
        EXPECT_TRUE(error.empty()) << WideToUtf8(error);
        for (const auto& [name, hash] : Manifest(3)) EXPECT_EQ(FileMd5(installation.File(name)), hash) << WideToUtf8(name);
        if (*c.key) {
            EXPECT_EQ(ReadText(installation.File(L"\\") + kAcceptedSerialPath), "5");
        } else {
            EXPECT_EQ(log.Count(L"Releases are not verified"), 1);
            EXPECT_FALSE(FileExists(installation.File(L"\\") + kAcceptedSerialPath));
        }
    }
}

std::vector<uint8_t> StandIn() {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WinPath(VELM_STAND_IN), bytes, 64 << 20));
    return bytes;
}

// An attacker on the path swaps the list for one that names an executable of theirs as
// the new launcher, with its true MD5, and keeps the genuine signature file beside it.
// With a key the launcher is left alone; without one it takes the executable (the
// exposure a release key closes).
TEST(ReleaseSignature, AListSwappedInFlightCannotReplaceTheLauncher) {
    std::vector<uint8_t> attacker = StandIn();
    const std::string mark = "attacker's build";
    attacker.insert(attacker.end(), mark.begin(), mark.end());
    const std::wstring attacker_hash = Md5ToHex(Md5Bytes(attacker.data(), attacker.size()));
    const std::wstring folder = WwwDir() + L"\\signed\\swapped";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteServedCmp(folder + L"\\VelmLauncher.exe", attacker);
    std::vector<uint8_t> xml = ReadServedCmp(ReleasesDir() + L"\\patch\\filelist.xml");
    FileListDocument document;
    std::string parse_error;
    ASSERT_EQ(ParseFileList(std::string(xml.begin(), xml.end()), L"", document, parse_error), 1) << parse_error;
    document.launcher = {NginxUrl() + L"/signed/swapped/VelmLauncher.exe", attacker_hash,
                         int32_t(FileSize(folder + L"\\VelmLauncher.exe"))};
    WriteServedFileList(folder, WriteFileList(document));
    ASSERT_TRUE(CopyFileW((WwwDir() + L"\\signed\\good\\filelist.xml.sig").c_str(),
                          (folder + L"\\filelist.xml.sig").c_str(), FALSE));

    struct Case {
        const char* name;
        bool key;
        int result;
    } cases[] = {
        {"with_release_key", true, kUpdateFailed},
        {"without_release_key", false, kUpdateLauncherReplaced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(std::string("swapped_") + c.name);
        Installation installation(std::string("swapped_") + c.name, 3);
        std::vector<uint8_t> old_launcher = StandIn();
        const std::wstring launcher = installation.File(L"\\Velm Launcher.exe");
        ASSERT_TRUE(WriteWholeFile(launcher, old_launcher.data(), old_launcher.size()));
        const std::wstring old_hash = FileMd5(launcher);
        TestOwner owner;
        owner.message_boxes = false;
        PointRunAt(owner, installation.Path(), L"releases/patch", NginxUrl() + L"/signed/swapped/filelist.xml");
        owner.options.self_update = true;
        owner.options.release_key = c.key ? FixtureKey("a") : L"";
        owner.updater.SetOptions(owner.options);
        owner.updater.SetLauncherPath(launcher);

        EXPECT_EQ(RunUpdateThread(owner), c.result);
        if (c.key) {
            EXPECT_NE(SignatureError(owner).find(L"not the one the release signature names"), std::wstring::npos);
            EXPECT_EQ(FileMd5(launcher), old_hash);
            EXPECT_FALSE(FileExists(installation.File(L"\\tmp\\VelmLauncher.ex_")));
            EXPECT_FALSE(FileExists(installation.File(L"\\tmp\\replace.cmd")));
            EXPECT_TRUE(owner.Messages().empty());
        } else {
            EXPECT_EQ(FileMd5(installation.File(L"\\tmp\\VelmLauncher.ex_")), attacker_hash);
        }
    }
}

}  // namespace
}  // namespace velm::test
