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
#include "common/file_system.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/cmp_container.h"
#include "formats/diff_file.h"
#include "formats/file_list.h"
#include "update/accepted_release_store_win32.h"
#include "update/release_verification_win32.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

std::wstring SignedUrl(const std::wstring& folder) { return NginxUrl() + L"/signed/" + folder + L"/filelist.xml"; }

// A text of the fixture's keys.json: the public key texts of keys "a" and "b", and the
// SHA-256 of the genuine list ("list_sha256").
std::wstring FixtureText(const std::string& name) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WwwDir() + L"\\signed\\keys.json", bytes, 4096));
    const std::string text(bytes.begin(), bytes.end());
    const size_t at = text.find("\"" + name + "\": \"");
    if (at == std::string::npos) return L"";
    const size_t begin = at + name.size() + 5;
    return Utf8ToWide(text.substr(begin, text.find('"', begin) - begin));
}

std::wstring FixtureKey(const std::string& name) { return FixtureText(name); }

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

std::wstring Errors(TestOwner& owner) {
    std::wstring all;
    for (const std::wstring& line : owner.updater.GetErrors()) all += line;
    return all;
}

// A registry key of the test's own below HKEY_LOCAL_MACHINE, standing for the
// installation's key; gone before and after.
class TestRegistryKey {
public:
    explicit TestRegistryKey(const std::string& name) : path_(L"SOFTWARE\\VelmTests\\" + Utf8ToWide(name)) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    }
    ~TestRegistryKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str()); }
    const std::wstring& Path() const { return path_; }
    void Set(const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        const std::wstring text = Utf8ToWide(value);
        RegSetValueExW(key, kAcceptedReleaseValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       DWORD((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    std::string Get() const {
        wchar_t text[256] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, path_.c_str(), kAcceptedReleaseValue, RRF_RT_REG_SZ, nullptr, text,
                         &size) != ERROR_SUCCESS)
            return "";
        return WideToUtf8(text);
    }

private:
    std::wstring path_;
};

// Points a run at a list of the signed fixture, its roots at served, with one of the
// fixture's keys ("" for none), the launcher's channel ("" for the default) and the
// test's registry key.
void PointSignedRun(TestOwner& owner, const Installation& installation, const TestRegistryKey& registry,
                    const std::wstring& served, const std::wstring& list, const char* key,
                    const std::wstring& channel = L"") {
    PointRunAt(owner, installation.Path(), served, SignedUrl(list));
    owner.options.release_key = *key ? FixtureKey(key) : L"";
    owner.options.release_channel = channel;
    owner.options.install_registry_key = registry.Path();
    owner.updater.SetOptions(owner.options);
}

enum class Record { kNone, kText, kFolder };

TEST(ReleaseSignature, ARunUsesOnlyAListSignedWithItsKey) {
    const std::string genuine = WideToUtf8(FixtureText("list_sha256"));
    ASSERT_EQ(genuine.size(), 64u);
    const std::string accepted = "5 " + genuine;
    struct Case {
        const char* name;
        const wchar_t* folder;
        const char* key;          // fixture key, or "" for a launcher without one
        const wchar_t* channel;   // the launcher's channel
        Record record;            // LocalReleaseSerial.txt before the run
        std::string stored;       // its text
        std::string registry;     // the registry copy before the run, or empty
        int result;
        const wchar_t* error;  // part of the error list when refused; null when accepted
    } cases[] = {
        {"good", L"good", "a", L"", Record::kNone, "", "", kUpdateSucceeded, nullptr},
        {"version_1_is_live", L"good_v1", "a", L"live", Record::kNone, "", "", kUpdateSucceeded, nullptr},
        {"same_serial_again", L"good", "a", L"", Record::kText, accepted, "", kUpdateSucceeded, nullptr},
        {"record_without_list", L"good", "a", L"", Record::kText, "5", "", kUpdateSucceeded, nullptr},
        {"own_channel", L"other_channel", "a", L"test", Record::kNone, "", "", kUpdateSucceeded, nullptr},
        {"unsigned_mode", L"missing", "", L"", Record::kNone, "", "", kUpdateSucceeded, nullptr},
        {"unsigned_list_without_digests", L"no_digests", "", L"", Record::kNone, "", "", kUpdateSucceeded, nullptr},
        {"flipped_list_byte", L"flipped_list", "a", L"", Record::kNone, "", "", kUpdateFailed,
         L"not the one the release signature names"},
        {"signed_with_another_key", L"other_key", "a", L"", Record::kNone, "", "", kUpdateFailed, L"another key"},
        {"forged_key_id", L"forged_key_id", "a", L"", Record::kNone, "", "", kUpdateFailed, L"does not verify"},
        {"missing_signature", L"missing", "a", L"", Record::kNone, "", "", kUpdateFailed, L"could not be downloaded"},
        {"empty_signature", L"empty", "a", L"", Record::kNone, "", "", kUpdateFailed, L"has 0 bytes"},
        {"truncated_signature", L"truncated", "a", L"", Record::kNone, "", "", kUpdateFailed, L"has 70 bytes"},
        {"expired", L"expired", "a", L"", Record::kNone, "", "", kUpdateFailed, L"expired on 1970-01-01"},
        {"older_than_accepted", L"older_serial", "a", L"", Record::kText, "5", "", kUpdateFailed,
         L"release 4 is older than release 5"},
        {"older_than_the_registry_copy", L"good", "a", L"", Record::kNone, "", "6", kUpdateFailed,
         L"release 5 is older than release 6"},
        {"another_channel", L"other_channel", "a", L"", Record::kNone, "", "", kUpdateFailed,
         L"signed for another channel than this launcher's (\"live\")"},
        {"version_1_is_not_another_channel", L"good_v1", "a", L"test", Record::kNone, "", "", kUpdateFailed,
         L"signed for another channel than this launcher's (\"test\")"},
        {"same_serial_another_list", L"other_list", "a", L"", Record::kText, accepted, "", kUpdateFailed,
         L"release 5 was accepted before with another file list"},
        {"list_without_digests", L"no_digests", "a", L"", Record::kNone, "", "", kUpdateFailed,
         L"gives no SHA-256 and size, which a signed release must give"},
        {"unreadable_record", L"good", "a", L"", Record::kText, "five", "", kUpdateFailed,
         L"filelist.xml.sig : LocalReleaseSerial.txt cannot be read, so the release this installation accepted is "
         L"unknown; delete the file to accept the current release"},
        {"folder_in_the_records_place", L"good", "a", L"", Record::kFolder, "", "", kUpdateFailed,
         L"LocalReleaseSerial.txt cannot be read"},
        {"unreadable_registry_copy", L"good", "a", L"", Record::kNone, "", "5x", kUpdateFailed,
         L"the value AcceptedRelease under HKEY_LOCAL_MACHINE\\SOFTWARE\\VelmTests\\unreadable_registry_copy cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.name);
        Installation installation(std::string("signed_") + c.name, 2);
        TestRegistryKey registry(c.name);
        const std::wstring record = installation.File(L"\\") + kAcceptedReleasePath;
        if (c.record == Record::kText) {
            ASSERT_TRUE(WriteWholeFile(record, c.stored.data(), c.stored.size()));
        }
        if (c.record == Record::kFolder) {
            ASSERT_TRUE(CreateDirectoryW(record.c_str(), nullptr));
        }
        if (!c.registry.empty()) registry.Set(c.registry);
        const std::map<std::wstring, std::wstring> before = Snapshot(installation);
        TestOwner owner;
        PointSignedRun(owner, installation, registry, L"releases/patch", c.folder, c.key, c.channel);

        EXPECT_EQ(RunUpdateThread(owner), c.result);
        const std::wstring errors = Errors(owner);
        if (c.error) {
            EXPECT_NE(errors.find(c.error), std::wstring::npos) << WideToUtf8(errors);
            EXPECT_EQ(Snapshot(installation), before);
            EXPECT_EQ(registry.Get(), c.registry);
            continue;
        }
        EXPECT_TRUE(errors.empty()) << WideToUtf8(errors);
        for (const auto& [name, hash] : Manifest(3)) EXPECT_EQ(FileMd5(installation.File(name)), hash) << WideToUtf8(name);
        if (*c.key) {
            // Both copies name the release and the list it came with.
            EXPECT_EQ(ReadText(record), accepted);
            EXPECT_EQ(registry.Get(), accepted);
            EXPECT_EQ(log.Count(L"Release 5 verified."), 1);
        } else {
            EXPECT_EQ(log.Count(L"Releases are not verified"), 1);
            EXPECT_FALSE(FileExists(record));
        }
    }
}

// A release that runs out within three days is taken, and the operator's lapse is told:
// in the log and in the error list.
TEST(ReleaseSignature, AReleaseAboutToExpireIsTakenWithAWarning) {
    LogCapture log("expiring");
    Installation installation("signed_expiring", 2);
    TestRegistryKey registry("expiring");
    TestOwner owner;
    PointSignedRun(owner, installation, registry, L"releases/patch", L"expiring", "a");

    EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
    const std::wstring errors = Errors(owner);
    EXPECT_NE(errors.find(L"filelist.xml.sig : release 5 expires on "), std::wstring::npos) << WideToUtf8(errors);
    EXPECT_EQ(log.Count(L"Warning: release 5 expires on "), 1);
    for (const auto& [name, hash] : Manifest(3)) EXPECT_EQ(FileMd5(installation.File(name)), hash) << WideToUtf8(name);
}

// An object that matches the MD5 the signed list gives, but not its SHA-256, never reaches
// the installation: whoever placed one file in a release cannot swap in its MD5 twin.
TEST(ReleaseSignature, AnMd5TwinIsRefusedByItsSha256) {
    LogCapture log("md5_twin");
    Installation installation("signed_md5_twin", 0);
    TestRegistryKey registry("md5_twin");
    TestOwner owner;
    PointSignedRun(owner, installation, registry, L"signed/md5_only_root", L"md5_only", "a");

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    const std::wstring twin = installation.File(L"\\VelmGame\\Scripts\\quest0.lua");
    const std::wstring errors = Errors(owner);
    EXPECT_NE(errors.find(twin + L" : Decompressed file does not match the SHA-256 its file list gives."),
              std::wstring::npos)
        << WideToUtf8(errors);
    EXPECT_FALSE(FileExists(twin));
    EXPECT_FALSE(FileExists(twin + L".unpack"));
}

// The attacker's diff: the genuine diff's steps applied to old, with one add of its diff
// block dropped on the way (the variant-th nonzero one after the middle; a zero compresses
// at least as well, so the planted diff still fits the listed size), and the digest of
// what that makes written into its header, so that the diff vouches for its own output.
// output gets that output.
std::vector<uint8_t> PlantedDiff(const std::vector<uint8_t>& genuine_diff, const std::vector<uint8_t>& old,
                                 size_t variant, std::vector<uint8_t>& output) {
    DiffFile diff;
    std::string error;
    EXPECT_TRUE(ParseDiffFile(genuine_diff.data(), genuine_diff.size(), diff, error)) << error;
    std::vector<uint8_t>& block = diff.diff_block;
    size_t at = block.size() / 2;
    for (size_t seen = 0; at < block.size(); ++at)
        if (block[at] != 0 && seen++ == variant) break;
    EXPECT_LT(at, block.size()) << "no add to drop";
    if (at < block.size()) block[at] = 0;
    output.assign(size_t(diff.new_size), 0);
    EXPECT_TRUE(ApplyControlTriples(old.data(), old.size(), output.data(), output.size(), diff.triples.data(),
                                    diff.triples.size(), diff.diff_block.data(), diff.diff_block.size(),
                                    diff.extra_block.data(), diff.extra_block.size()));
    diff.old_size = uint32_t(old.size());
    diff.old_md5 = Md5Bytes(old.data(), old.size());
    diff.new_md5 = Md5Bytes(output.data(), output.size());
    return SerializeDiffFile(diff);
}

// Serves a planted diff in place of the genuine one at path, in a container of exactly
// the size the list gives the genuine one: the container's extra block pads it. The
// attacker compresses with whichever settings make it fit.
void ServePlantedDiff(const std::wstring& path, const std::vector<uint8_t>& old, std::vector<uint8_t>& output) {
    const std::vector<uint8_t> genuine = ReadServedCmp(path);
    const int64_t listed = FileSize(path);
    LzmaEncoderSettings compact;
    compact.lc = 2;
    compact.pb = 0;
    compact.fb = 273;
    compact.dict_size = 1u << 20;
    for (size_t variant = 0; variant < 16; ++variant) {
        const std::vector<uint8_t> planted = PlantedDiff(genuine, old, variant, output);
        for (const LzmaEncoderSettings& settings : {LzmaEncoderSettings(), compact}) {
            std::vector<uint8_t> container;
            ASSERT_TRUE(WriteCmp(planted.data(), planted.size(), container, settings));
            if (int64_t(container.size()) > listed) continue;
            const uint32_t pad = uint32_t(listed - int64_t(container.size()));
            std::vector<uint8_t> padded(container.begin(), container.begin() + 24);
            for (int i = 0; i < 4; ++i) padded.push_back(uint8_t(pad >> (8 * i)));
            padded.insert(padded.end(), pad, 0);
            padded.insert(padded.end(), container.begin() + 28, container.end());
            ASSERT_EQ(int64_t(padded.size()), listed);
            ASSERT_TRUE(WriteWholeFile(path, padded.data(), padded.size()));
            return;
        }
    }
    FAIL() << "no planted diff fits the listed size of " << WideToUtf8(path);
}

std::vector<uint8_t> ClientFile(int version, const std::wstring& name) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(ReleasesDir() + L"\\client-v" + std::to_wstring(version) + name, bytes, 64 << 20));
    return bytes;
}

// An attacker on the path serves, for world.pak, diffs of exactly the listed sizes whose
// headers vouch for their own output (a changed file), and refuses the full download that
// a failed chain asks for. The list and its signature are genuine. The installed file must
// stay byte for byte as it was, whether the list binds the diffs by SHA-256 (signed) or
// only names the file's MD5 (unsigned, a list without digests); then the honest server
// brings the installation to the release.
TEST(ReleaseSignature, APlantedDiffNeverReachesTheInstalledFile) {
    const std::wstring world = L"\\VelmGame\\Data\\world.pak";
    const std::wstring root = WwwDir() + L"\\planted";
    RemoveTree(root);
    CreateDirectoryW(root.c_str(), nullptr);
    CopyTree(ReleasesDir() + L"\\patch", root + L"\\patch");
    // The v2-to-v3 diff planted alone, and the v1-to-v2 diff with a v3 diff that builds on
    // the planted v2: a chain of two.
    std::vector<uint8_t> planted_v2, planted_v3, from_planted_v2;
    ServePlantedDiff(root + L"\\patch\\v2" + world + L".diff", ClientFile(1, world), planted_v2);
    CreateDirectoryW((root + L"\\patch_two").c_str(), nullptr);
    CopyTree(root + L"\\patch", root + L"\\patch_two");
    ServePlantedDiff(root + L"\\patch\\v3" + world + L".diff", ClientFile(2, world), planted_v3);
    ServePlantedDiff(root + L"\\patch_two\\v3" + world + L".diff", planted_v2, from_planted_v2);
    ASSERT_FALSE(HasFailure());
    const std::vector<uint8_t> release = ClientFile(3, world);
    ASSERT_NE(Md5Bytes(planted_v3.data(), planted_v3.size()), Md5Bytes(release.data(), release.size()));
    ASSERT_NE(Md5Bytes(from_planted_v2.data(), from_planted_v2.size()), Md5Bytes(release.data(), release.size()));
    for (const wchar_t* served : {L"\\patch", L"\\patch_two"})
        for (const wchar_t* version : {L"\\v1", L"\\v2", L"\\v3"})
            DeleteFileW((root + served + version + world).c_str());

    struct Case {
        const char* name;
        int version;
        const wchar_t* served;
        const wchar_t* list;  // a folder of the signed fixture
        const char* key;
    } cases[] = {
        {"signed_one_step", 2, L"planted/patch", L"good", "a"},
        {"signed_two_steps", 1, L"planted/patch_two", L"good", "a"},
        {"unsigned_one_step", 2, L"planted/patch", L"no_digests", ""},
        {"unsigned_two_steps", 1, L"planted/patch_two", L"no_digests", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(std::string("planted_") + c.name);
        Installation installation(std::string("planted_") + c.name, c.version);
        TestRegistryKey registry(std::string("planted_") + c.name);
        const std::wstring installed = installation.File(world);
        const std::wstring before = FileMd5(installed);
        TestOwner owner;
        PointSignedRun(owner, installation, registry, c.served, c.list, c.key);

        EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
        EXPECT_EQ(FileMd5(installed), before);
        EXPECT_EQ(FileMd5(installed), Manifest(c.version)[world]);
        EXPECT_FALSE(FileExists(installed + L".patched"));
        EXPECT_NE(Errors(owner).find(installed), std::wstring::npos) << WideToUtf8(Errors(owner));

        LogCapture honest(std::string("planted_") + c.name + "_honest");
        PointSignedRun(owner, installation, registry, L"releases/patch", c.list, c.key);
        EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
        for (const auto& [name, hash] : Manifest(3)) EXPECT_EQ(FileMd5(installation.File(name)), hash) << WideToUtf8(name);
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
            EXPECT_NE(Errors(owner).find(L"not the one the release signature names"), std::wstring::npos);
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
