// Releases made with the tool, read back as the launcher reads them: every installation
// of an earlier version (or none) reaches the newest bytes through the launcher's own
// choice of full download or diff chain.
#include "patch_root.h"
#include "paths.h"
#include "release.h"
#include "sha256.h"
#include "test_client.h"
#include "verify.h"

#include "formats/cmp_container.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/diff_file.h"
#include "formats/file_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace velm::publish {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const wchar_t kBaseUrl[] = L"http://127.0.0.1:8080/patch/";

class ReleaseFixture : public ::testing::Test {
protected:
    ReleaseFixture() : dir_("release") {}

    fs::path Root() const { return dir_.path() / root_name_; }

    int Publish(int version, std::string& error, size_t max_history = 30,
                const std::string& script = "") {
        TestClient client(version);
        clients_.emplace(version, client);
        if (!client.WriteTo(dir_.path() / "client")) return 0;
        ReleaseOptions options;
        options.root = Root();
        options.base_url = kBaseUrl;
        options.client = dir_.path() / "client";
        options.max_history = max_history;
        options.quiet = true;
        options.jobs = jobs_;
        Bytes launcher = {'M', 'Z', uint8_t(version >= 3 ? 3 : 1)};
        WriteBytes(dir_.path() / "launcher.exe", launcher.data(), launcher.size());
        options.launcher = dir_.path() / "launcher.exe";
        if (!script.empty()) {
            WriteBytes(dir_.path() / "script.txt", script.data(), script.size());
            options.script = dir_.path() / "script.txt";
        }
        return RunRelease(options, error);
    }

    void PublishAll(int last, size_t max_history = 30) {
        for (int v = 1; v <= last; ++v) {
            std::string error;
            ASSERT_EQ(Publish(v, error, max_history,
                              v == 3 ? "DELETE_FILE VelmGame\\old.dll\n"
                                       "CREATE_SHORTCUT VelmLauncher.exe \"{DESKTOP}\\Velm.lnk\" \"Velm\"\n"
                                     : ""),
                      1)
                << error;
        }
    }

    FileListDocument List() {
        PatchRoot root;
        std::string error;
        EXPECT_TRUE(LoadPatchRoot(Root(), root, error)) << error;
        return root.list;
    }

    // Edits the root's current list in place, companion included, as another publisher
    // (or an earlier version of this one) could have written it.
    void RewriteList(const std::function<void(FileListDocument&)>& edit) {
        FileListDocument list = List();
        edit(list);
        const std::string xml = WriteFileList(list);
        Bytes container;
        ASSERT_TRUE(WriteCmp(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(), container));
        const std::string companion = FileListHashCompanion(xml);
        WriteBytes(Root() / kFileListName, container.data(), container.size());
        WriteBytes(Root() / kFileListHashName, companion.data(), companion.size());
    }

    std::vector<std::string> Verify() {
        VerifyOptions options;
        options.root = Root();
        options.quiet = true;
        VerifyReport report;
        std::string error;
        EXPECT_EQ(RunVerify(options, report, error), 1) << error;
        return report.problems;
    }

    // What the server sends for root index k and a name, decoded as the write thread does.
    Bytes Fetch(const FileListDocument& list, size_t k, const std::wstring& name) {
        const std::wstring& url = list.url_roots.at(k);
        fs::path folder = Root() / fs::u8path(WideToUtf8(url.substr(url.rfind(L'/') + 1)));
        Bytes stored, decoded;
        EXPECT_TRUE(ReadBytes(EntryPath(folder, name), stored)) << WideToUtf8(url + name);
        EXPECT_TRUE(DecodeCmp(stored.data(), stored.size(), decoded, 1u << 30));
        return decoded;
    }

    // The launcher's planning and patching for one entry.
    Bytes Update(const FileListDocument& list, const FileEntry& entry, const Bytes* installed,
                 int& diffs_applied) {
        std::wstring local = installed ? Md5ToHex(Md5Bytes(installed->data(), installed->size()))
                                       : L"";
        if (installed && HashTextEquals(local, entry.hash)) return *installed;
        const auto& h = entry.history;
        int start = -1;
        int64_t total = 0;
        bool broken = false;
        for (size_t i = 0; i + 1 < h.size(); ++i)
            broken = broken || (h[i].hash != h[i + 1].hash && h[i].diff_size < 1);
        for (size_t j = 0; !broken && !local.empty() && j < h.size(); ++j) {
            if (h[j].hash == local) {
                start = int(j);
                break;
            }
            total += h[j].diff_size;
        }
        if (start >= 1 && total > 0 && total < entry.size_compressed) {
            Bytes current = *installed;
            for (int k = start - 1; k >= 0; --k) {
                if (h[size_t(k)].diff_size <= 0) continue;
                Bytes file = Fetch(list, size_t(k), entry.name + L".diff"), next;
                DiffFile diff;
                std::string error;
                EXPECT_TRUE(ParseDiffFile(file.data(), file.size(), diff, error)) << error;
                EXPECT_TRUE(ApplyDiff(diff, current.data(), current.size(), next, error)) << error;
                current.swap(next);
                ++diffs_applied;
            }
            return current;
        }
        return Fetch(list, FullDownloadRootIndex(entry), entry.name);
    }

    TestDir dir_;
    std::string root_name_ = "root";
    size_t jobs_ = 1;
    std::map<int, TestClient> clients_;  // every version published, by number
};

ContentDigest DigestOf(const Bytes& bytes) {
    ContentDigest digest;
    std::string error;
    EXPECT_EQ(ContentDigestOf(bytes, digest, error), 1) << error;
    return digest;
}

// A list as publishers wrote it before lists carried SHA-256 and decoded sizes.
void StripDigests(FileListDocument& list) {
    for (FileEntry& entry : list.entries) {
        entry.content = entry.diff = ContentDigest();
        for (HistoryVersion& version : entry.history) version.content = version.diff = ContentDigest();
    }
    list.launcher.content = ContentDigest();
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& p : problems) text += p + "\n";
    return text;
}

// Every file of every version, path and bytes, relative to the root.
std::map<std::string, Bytes> RootContents(const fs::path& root) {
    std::map<std::string, Bytes> contents;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        Bytes bytes;
        EXPECT_TRUE(ReadBytes(item.path(), bytes));
        contents[fs::relative(item.path(), root).generic_u8string()] = bytes;
    }
    return contents;
}

// Files are compressed and diffed on several threads, each into its own slot: the patch
// root must not depend on which thread finished first.
TEST_F(ReleaseFixture, ThreadCountDoesNotChangeAByteOfTheRoot) {
    PublishAll(3);
    const std::map<std::string, Bytes> one_thread = RootContents(Root());
    root_name_ = "root-four-jobs";
    jobs_ = 4;
    PublishAll(3);
    const std::map<std::string, Bytes> four_threads = RootContents(Root());
    ASSERT_GT(one_thread.size(), 8u);
    EXPECT_TRUE(one_thread == four_threads);
    for (const auto& [name, bytes] : one_thread) {
        auto other = four_threads.find(name);
        EXPECT_TRUE(other != four_threads.end() && other->second == bytes) << name;
    }
    EXPECT_TRUE(Verify().empty());
}

TEST_F(ReleaseFixture, EveryEarlierInstallationReachesTheNewestBytes) {
    PublishAll(3);
    EXPECT_TRUE(Verify().empty());
    FileListDocument list = List();
    TestClient newest(3);
    ASSERT_EQ(list.entries.size(), newest.files().size());
    ASSERT_EQ(list.url_roots.size(), 3u);
    EXPECT_EQ(list.url_roots[0], L"http://127.0.0.1:8080/patch/v3");
    for (int installed_version : {0, 1, 2}) {
        TestClient installed(installed_version ? installed_version : 1);
        int diffs = 0;
        for (const FileEntry& entry : list.entries) {
            auto found = installed.files().find(entry.name);
            const Bytes* bytes = installed_version && found != installed.files().end()
                                     ? &found->second : nullptr;
            EXPECT_EQ(Update(list, entry, bytes, diffs), newest.files().at(entry.name))
                << "from v" << installed_version << ": " << WideToUtf8(entry.name);
        }
        // The edited world.pak comes by diffs: two steps from v1, one from v2.
        EXPECT_GE(diffs, installed_version == 0 ? 0 : 3 - installed_version) << installed_version;
    }
    // Only what changed goes into the new version folder.
    EXPECT_TRUE(fs::exists(Root() / "v3" / "VelmGame" / "Data" / "world.pak.diff"));
    EXPECT_FALSE(fs::exists(Root() / "v3" / "VelmGame" / "Movies" / "intro.bik"));
    EXPECT_FALSE(fs::exists(Root() / "v3" / "VelmGame" / "old.dll"));
    ASSERT_EQ(list.script.size(), 2u);
    EXPECT_EQ(list.script[0].name, L"DELETE_FILE");
    EXPECT_TRUE(list.has_launcher);
    EXPECT_EQ(list.launcher.url, L"http://127.0.0.1:8080/patch/v3/.launcher/VelmLauncher.exe");
}

// Every object the launcher ends up with is named by its SHA-256 and decoded size: each
// file's current bytes, every version a diff makes and the decoded diff itself, through
// releases that carry the history on, and the launcher.
TEST_F(ReleaseFixture, ListVouchesForEveryObjectWithItsSha256AndSize) {
    PublishAll(2);
    const FileListDocument second = List();
    std::string error;
    ASSERT_EQ(Publish(3, error), 1) << error;
    const FileListDocument list = List();
    EXPECT_EQ(FindUnvouchedObject(list), L"");
    size_t diffs = 0;
    for (const FileEntry& entry : list.entries) {
        SCOPED_TRACE(WideToUtf8(entry.name));
        ASSERT_FALSE(entry.history.empty());
        EXPECT_EQ(entry.content, entry.history[0].content);
        EXPECT_EQ(entry.diff, entry.history[0].diff);
        EXPECT_EQ(entry.content, DigestOf(clients_.at(3).files().at(entry.name)));
        for (size_t k = 0; k < entry.history.size(); ++k) {
            const HistoryVersion& version = entry.history[k];
            if (version.diff_size == 0) {
                EXPECT_FALSE(version.diff.present) << k;
                continue;
            }
            ++diffs;
            EXPECT_EQ(version.content, DigestOf(clients_.at(3 - int(k)).files().at(entry.name))) << k;
            EXPECT_EQ(version.diff, DigestOf(Fetch(list, k, entry.name + L".diff"))) << k;
        }
    }
    // world.pak's diff from v1 to v2 came with the second release and is carried as it was.
    const auto world = [](const FileListDocument& document) {
        return *std::find_if(document.entries.begin(), document.entries.end(),
                             [](const FileEntry& e) { return e.name == L"\\VelmGame\\Data\\world.pak"; });
    };
    ASSERT_GE(world(list).history.size(), 3u);
    EXPECT_EQ(world(list).history[1].diff, world(second).history[0].diff);
    EXPECT_EQ(world(list).history[1].content, world(second).history[0].content);
    EXPECT_GE(diffs, 3u);
    EXPECT_EQ(list.launcher.content, DigestOf({'M', 'Z', 3}));
    EXPECT_TRUE(Verify().empty());
}

// The first release into a root whose list predates the digests takes them from the
// objects the root already serves, so that it is as complete as a root that always had
// them: the files kept in place, the versions diffs make, the launcher kept.
TEST_F(ReleaseFixture, FirstReleaseAfterTheUpgradeFillsInTheDigestsFromThePublishedObjects) {
    const auto publish_all = [&](bool strip_after_second) {
        std::string error;
        for (int version : {1, 2, 2, 3}) {
            ASSERT_EQ(Publish(version, error), 1) << error;
            if (strip_after_second && version == 2 && List().url_roots.size() == 2) RewriteList(StripDigests);
        }
    };
    root_name_ = "always";
    publish_all(false);
    const FileListDocument always = List();
    root_name_ = "upgraded";
    publish_all(true);
    const FileListDocument upgraded = List();
    EXPECT_EQ(FindUnvouchedObject(upgraded), L"");
    EXPECT_TRUE(Verify().empty()) << Joined(Verify());
    ASSERT_EQ(upgraded.entries.size(), always.entries.size());
    for (size_t i = 0; i < upgraded.entries.size(); ++i) {
        const FileEntry& entry = upgraded.entries[i];
        SCOPED_TRACE(WideToUtf8(entry.name));
        ASSERT_EQ(entry.history.size(), always.entries[i].history.size());
        for (size_t k = 0; k < entry.history.size(); ++k) {
            const HistoryVersion& version = entry.history[k];
            const HistoryVersion& expected = always.entries[i].history[k];
            EXPECT_TRUE(!version.content.present || version.content == expected.content) << k;
            EXPECT_TRUE(!version.diff.present || version.diff == expected.diff) << k;
        }
    }
    EXPECT_EQ(upgraded.launcher.content, always.launcher.content);
}

// Where the root no longer holds what its list says, the upgrade stops with the object's
// name and the previous release stays as it was.
TEST_F(ReleaseFixture, FillingInRefusesAPublishedObjectThatDoesNotMatchItsList) {
    struct Case {
        const char* what;
        const char* damaged;  // inside the root
        int next_version;     // 2 again keeps the launcher and every file
    };
    const Case cases[] = {
        {"diff cut short", "v2/VelmGame/Data/world.pak.diff", 3},
        {"launcher kept, its object replaced", "v1/.launcher/VelmLauncher.exe", 2},
        {"file kept, its object replaced", "v1/VelmGame/Movies/intro.bik", 2},
    };
    PublishAll(2);
    RewriteList(StripDigests);
    const fs::path pristine = dir_.path() / "pristine";
    fs::copy(Root(), pristine, fs::copy_options::recursive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Root());
        fs::copy(pristine, Root(), fs::copy_options::recursive);
        Bytes bytes;
        ASSERT_TRUE(ReadBytes(Root() / c.damaged, bytes));
        bytes.resize(bytes.size() / 2);
        WriteBytes(Root() / c.damaged, bytes.data(), bytes.size());
        std::string error;
        EXPECT_EQ(Publish(c.next_version, error), 0);
        EXPECT_NE(error.find("previous release damaged"), std::string::npos) << error;
        EXPECT_NE(error.find(fs::path(c.damaged).filename().u8string()), std::string::npos) << error;
        Bytes list_after, list_before;
        ASSERT_TRUE(ReadBytes(Root() / kFileListName, list_after));
        ASSERT_TRUE(ReadBytes(pristine / kFileListName, list_before));
        EXPECT_EQ(list_after, list_before);
        EXPECT_FALSE(fs::exists(Root() / "v3"));
    }
}

// A file whose MD5 matches the published one but whose bytes differ (an MD5 twin) is
// published anew: keeping the old object would list bytes the root does not serve.
TEST_F(ReleaseFixture, SameMd5WithOtherBytesIsPublishedAgain) {
    PublishAll(2);
    RewriteList([](FileListDocument& list) {
        for (FileEntry& entry : list.entries) {
            if (entry.name != L"\\VelmGame\\Movies\\intro.bik") continue;
            entry.content.sha256[0] ^= 1;
            entry.history[0].content = entry.content;
        }
    });
    std::string error;
    ASSERT_EQ(Publish(2, error), 1) << error;
    EXPECT_TRUE(fs::exists(Root() / "v3" / "VelmGame" / "Movies" / "intro.bik"));
    EXPECT_FALSE(fs::exists(Root() / "v3" / "VelmGame" / "Data" / "world.pak"));
    for (const FileEntry& entry : List().entries)
        EXPECT_EQ(entry.content, DigestOf(clients_.at(2).files().at(entry.name))) << WideToUtf8(entry.name);
}

TEST_F(ReleaseFixture, FailedRunLeavesThePreviousReleaseAsItWas) {
    PublishAll(1);
    Bytes before, after;
    ASSERT_TRUE(ReadBytes(Root() / kFileListName, before));
    std::string error;
    EXPECT_EQ(Publish(2, error, 30, "FORMAT_DISK C:\n"), 0);
    EXPECT_NE(error.find("unknown command"), std::string::npos) << error;
    ASSERT_TRUE(ReadBytes(Root() / kFileListName, after));
    EXPECT_EQ(before, after);
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(Root()))
        left.push_back(item.path().filename().u8string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"filelist.xml", "filelist.xml.hash", "v1"}));
    EXPECT_TRUE(Verify().empty());
}

TEST_F(ReleaseFixture, FolderLeftByACrashedRunIsReplaced) {
    PublishAll(1);
    fs::create_directories(Root() / "v2" / "junk");
    std::string error;
    ASSERT_EQ(Publish(2, error), 1) << error;
    EXPECT_FALSE(fs::exists(Root() / "v2" / "junk"));
    EXPECT_TRUE(Verify().empty());
}

TEST_F(ReleaseFixture, RefusesFoldersItDidNotMake) {
    fs::create_directories(Root());
    WriteBytes(Root() / "index.html", "<html>", 6);
    std::string error;
    EXPECT_EQ(Publish(1, error), 0);
    EXPECT_NE(error.find("not made by velm-publish"), std::string::npos) << error;
    WriteBytes(Root() / kFileListName, "<Root/>", 7);
    EXPECT_EQ(Publish(1, error), 0);
    EXPECT_NE(error.find("not made by velm-publish"), std::string::npos) << error;
}

TEST_F(ReleaseFixture, CutHistoryStillEndsAtARootHoldingTheFile) {
    PublishAll(3, 1);
    std::string error;
    ASSERT_EQ(Publish(4, error, 1), 1) << error;
    FileListDocument list = List();
    for (const FileEntry& entry : list.entries) {
        if (entry.name == L"\\VelmGame\\Movies\\intro.bik") {
            EXPECT_EQ(entry.history.size(), 4u);  // unchanged since v1, which holds it
        } else if (entry.name == L"\\VelmGame\\Data\\world.pak") {
            ASSERT_EQ(entry.history.size(), 2u);  // changed in v4: its root holds it
            EXPECT_EQ(entry.history[1].diff_size, 0);
        }
    }
    EXPECT_TRUE(Verify().empty());
}

struct Damage {
    const char* what;
    const char* path;  // inside the root; empty: the companion
    bool remove;
};

TEST_F(ReleaseFixture, VerifyFindsEveryKindOfDamage) {
    PublishAll(2);
    const Damage damages[] = {
        {"full file cut short", "v1/VelmGame/Movies/intro.bik", false},
        {"diff missing", "v2/VelmGame/Data/world.pak.diff", true},
        {"diff damaged", "v2/VelmGame/Data/world.pak.diff", false},
        {"companion wrong", "filelist.xml.hash", false},
        {"launcher missing", "v1/.launcher/VelmLauncher.exe", true},
        {"version folder missing", "v1", true},
    };
    fs::path pristine = dir_.path() / "pristine";
    fs::copy(Root(), pristine, fs::copy_options::recursive);
    for (const Damage& d : damages) {
        fs::remove_all(Root());
        fs::copy(pristine, Root(), fs::copy_options::recursive);
        fs::path target = Root() / d.path;
        if (d.remove) {
            fs::remove_all(target);
        } else {
            Bytes bytes;
            ASSERT_TRUE(ReadBytes(target, bytes)) << d.what;
            bytes[bytes.size() / 2] ^= 0x40;
            if (bytes.size() > 100) bytes.resize(bytes.size() - 7);
            WriteBytes(target, bytes.data(), bytes.size());
        }
        EXPECT_FALSE(Verify().empty()) << d.what;
    }
}

}  // namespace
}  // namespace velm::publish
