// The PE resource stamp and `velm-publish pack` end to end: the copy of the launcher
// names its package's offset, and the package holds the client byte for byte, or a
// patch root's objects exactly as the patch server serves them.
#include "command_line.h"
#include "pack.h"
#include "paths.h"
#include "patch_root.h"
#include "pe_resource.h"
#include "release.h"
#include "signing.h"
#include "test_client.h"

#include "common/lzma_decoder.h"
#include "common/file_io.h"
#include "common/text.h"
#include "formats/pack_file.h"
#include "formats/pack_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace velm::publish {
namespace {

namespace fs = std::filesystem;

int64_t StampedValue(const std::vector<uint8_t>& image) {
    uint64_t at = 0;
    uint32_t size = 0;
    std::string error;
    EXPECT_EQ(FindPeResource(image, L"UPDATE", 211, at, size, error), 1) << error;
    int64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | image[size_t(at) + i];
    return value;
}

TEST(PeResource, StampsTheEightByteResourceInPlace) {
    std::vector<uint8_t> image = LoadFixture(VELM_PE_FIXTURE);
    EXPECT_EQ(StampedValue(image), 0);
    std::string error;
    ASSERT_EQ(StampPackageOffset(image, 0x0102030405060708, error), 1) << error;
    EXPECT_EQ(StampedValue(image), 0x0102030405060708);
    EXPECT_EQ(image.size(), LoadFixture(VELM_PE_FIXTURE).size());
}

TEST(PeResource, RefusesWhatItCannotStamp) {
    std::string error;
    std::vector<uint8_t> short_resource = LoadFixture(VELM_PE_FIXTURE_SHORT);
    EXPECT_EQ(StampPackageOffset(short_resource, 1, error), 0);
    EXPECT_NE(error.find("not 8"), std::string::npos) << error;
    std::vector<uint8_t> not_pe(4096, 'x');
    EXPECT_EQ(StampPackageOffset(not_pe, 1, error), 0);
    EXPECT_NE(error.find("not a PE"), std::string::npos) << error;
    // Cut anywhere or damaged anywhere, the image is rejected or stamped, never overrun.
    std::vector<uint8_t> image = LoadFixture(VELM_PE_FIXTURE);
    for (size_t size = 0; size < image.size(); size += 509) {
        std::vector<uint8_t> cut(image.begin(), image.begin() + long(size));
        StampPackageOffset(cut, 1, error);
    }
    uint64_t at = 0;
    uint32_t length = 0;
    ASSERT_EQ(FindPeResource(image, L"UPDATE", 211, at, length, error), 1);
    for (size_t i = 0; i < 1024 && i < image.size(); ++i) {
        std::vector<uint8_t> bad = image;
        bad[i] ^= 0xFF;
        FindPeResource(bad, L"UPDATE", 211, at, length, error);
    }
}

TEST(PackCommand, CopyOpensAtTheStampedOffsetWithEveryFile) {
    TestDir dir("pack_command");
    TestClient client(1);
    ASSERT_TRUE(client.WriteTo(dir.path() / "client"));
    for (bool store : {false, true}) {
        PackOptions options;
        options.client = dir.path() / "client";
        options.launcher = fs::u8path(VELM_PE_FIXTURE);
        options.out = dir.path() / "out" / "VelmLauncher.exe";
        options.store = store;
        options.quiet = true;
        std::string error;
        ASSERT_EQ(RunPack(options, error), 1) << error;
        std::vector<uint8_t> host;
        ASSERT_TRUE(ReadBytes(options.out, host));
        int64_t base = StampedValue(host);
        EXPECT_EQ(base, int64_t(LoadFixture(VELM_PE_FIXTURE).size()));
        FileHandle in = OpenFile(WidePath(options.out), FileMode::kRead);
        PackDirectory pack;
        ASSERT_EQ(pack.Read(in.get(), int64_t(host.size()), base, error), 1) << error;
        ASSERT_EQ(pack.Entries().size(), client.files().size());
        for (const auto& [name, bytes] : client.files()) {
            const PackEntry* entry = pack.Find(name);
            ASSERT_NE(entry, nullptr);
            const uint8_t* stored = host.data() + base + entry->data_offset;
            std::vector<uint8_t> content(stored, stored + entry->stored_size);
            if (!store) {
                ASSERT_EQ(DecodeLzmaBuffer(stored, size_t(entry->stored_size), content,
                                           bytes.size()), 1);
            }
            EXPECT_EQ(content, bytes);
        }
    }
}

TEST(PackCommand, LauncherWithoutTheResourceIsRefusedAndNothingWritten) {
    TestDir dir("pack_refused");
    TestClient client(1);
    ASSERT_TRUE(client.WriteTo(dir.path() / "client"));
    std::vector<uint8_t> not_pe(100, 'x');
    ASSERT_TRUE(WriteBytes(dir.path() / "fake.exe", not_pe.data(), not_pe.size()));
    PackOptions options;
    options.client = dir.path() / "client";
    options.launcher = dir.path() / "fake.exe";
    options.out = dir.path() / "out.exe";
    options.quiet = true;
    std::string error;
    EXPECT_EQ(RunPack(options, error), 0);
    EXPECT_FALSE(fs::exists(options.out));
    EXPECT_FALSE(fs::exists(dir.path() / "out.exe.new"));
}

// Three releases into a patch root, for the packages of a root.
class RootPackage : public ::testing::Test {
protected:
    void SetUp() override {
        for (int version = 1; version <= 3; ++version) {
            TestClient client(version);
            fs::path folder = dir_.path() / ("client" + std::to_string(version));
            ASSERT_TRUE(client.WriteTo(folder));
            ReleaseOptions release;
            release.root = root_;
            release.base_url = L"https://cdn.example.test:8443/game/patch/";
            release.client = folder;
            release.quiet = true;
            std::string error;
            ASSERT_EQ(RunRelease(release, error), 1) << error;
        }
    }

    PackOptions Options() const {
        PackOptions options;
        options.root = root_;
        options.launcher = fs::u8path(VELM_PE_FIXTURE);
        options.out = dir_.path() / "VelmLauncher.exe";
        options.quiet = true;
        return options;
    }

    TestDir dir_{"pack_root"};
    fs::path root_ = dir_.path() / "patch";
};

// Every file of the patch root with the URL the launcher would fetch it from.
std::map<std::wstring, fs::path> PublishedObjects(const fs::path& root, const std::wstring& base) {
    std::map<std::wstring, fs::path> objects;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        std::wstring relative = WidePath(fs::relative(item.path(), root));
        std::replace(relative.begin(), relative.end(), L'\\', L'/');
        std::wstring url = base + relative;
        // Entries sit below a version root with "\\" separators, as the launcher joins them.
        size_t version_end = relative.find(L'/');
        if (relative[0] == L'v' && version_end != std::wstring::npos) {
            std::wstring rest = relative.substr(version_end);
            std::replace(rest.begin(), rest.end(), L'/', L'\\');
            url = base + relative.substr(0, version_end) + rest;
        }
        objects[url] = item.path();
    }
    return objects;
}

TEST_F(RootPackage, HoldsWhatTheReleaseCanAskForAsServed) {
    std::string error;
    ASSERT_EQ(RunPack(Options(), error), 1) << error;
    std::vector<uint8_t> host;
    ASSERT_TRUE(ReadBytes(Options().out, host));
    PackFile pack;
    pack.SetBaseOffset(StampedValue(host));
    ASSERT_EQ(pack.OpenPackFile(WidePath(Options().out)), 1) << pack.LastError();

    // Every entry is a file of the root, byte for byte, under the name of its URL.
    const std::wstring base = L"https://cdn.example.test:8443/game/patch/";
    std::map<std::wstring, fs::path> served;
    for (const auto& [url, file] : PublishedObjects(root_, base))
        served[PackLookupKey(PackEntryNameForUrl(url))] = file;
    for (const PackEntry& entry : pack.Directory().Entries()) {
        SCOPED_TRACE(WideToUtf8(entry.name));
        EXPECT_EQ(entry.name.compare(0, 12, L"\\game\\patch\\"), 0);
        auto file = served.find(PackLookupKey(entry.name));
        ASSERT_NE(file, served.end());
        std::vector<uint8_t> bytes, stored(size_t(entry.file_size) + 1);
        ASSERT_TRUE(ReadBytes(file->second, bytes));
        PackEntryHandle handle = pack.OpenEntry(entry.name);
        int64_t got = 0;
        ASSERT_EQ(pack.ReadPackFile(handle, stored.data(), stored.size(), got), 1);
        stored.resize(size_t(got));
        EXPECT_EQ(stored, bytes);
    }

    // And it holds everything an installation of any published version asks for.
    PatchRoot root;
    ASSERT_TRUE(LoadPatchRoot(root_, root, error)) << error;
    const FileListDocument& list = root.list;
    std::vector<std::wstring> asked = {base + L"filelist.xml", base + L"filelist.xml.hash"};
    for (const FileEntry& entry : list.entries) {
        asked.push_back(list.url_roots[FullDownloadRootIndex(entry)] + entry.name);
        for (size_t k = 0; k < entry.history.size(); ++k)
            if (entry.history[k].diff_size > 0)
                asked.push_back(list.url_roots[k] + entry.name + L".diff");
    }
    for (const std::wstring& url : asked)
        EXPECT_EQ(pack.FindFile(PackEntryNameForUrl(url)), 1) << WideToUtf8(url);
    EXPECT_EQ(pack.Directory().Entries().size(), asked.size());
}

TEST_F(RootPackage, CarriesTheReleaseSignatureWhenThereIsOne) {
    if (!kSigningAvailable) GTEST_SKIP() << kSigningUnavailable;
    std::string error;
    PackOptions options = Options();
    ASSERT_EQ(RunPack(options, error), 1) << error;
    size_t unsigned_entries = 0;
    {
        std::vector<uint8_t> host;
        ASSERT_TRUE(ReadBytes(options.out, host));
        PackFile pack;
        pack.SetBaseOffset(StampedValue(host));
        ASSERT_EQ(pack.OpenPackFile(WidePath(options.out)), 1) << pack.LastError();
        unsigned_entries = pack.Directory().Entries().size();
    }
    ReleasePublicKey key{};
    fs::path pem = dir_.path() / "release.pem";
    ASSERT_EQ(MakeSigningKey(pem, key, error), 1) << error;
    ReleaseOptions release;
    release.root = root_;
    release.base_url = L"https://cdn.example.test:8443/game/patch/";
    release.client = dir_.path() / "client3";
    release.signing.key = pem;
    release.quiet = true;
    ASSERT_EQ(RunRelease(release, error), 1) << error;
    ASSERT_EQ(RunPack(options, error), 1) << error;

    std::vector<uint8_t> host, sig;
    ASSERT_TRUE(ReadBytes(options.out, host));
    ASSERT_TRUE(ReadBytes(root_ / kFileListSigName, sig));
    PackFile pack;
    pack.SetBaseOffset(StampedValue(host));
    ASSERT_EQ(pack.OpenPackFile(WidePath(options.out)), 1) << pack.LastError();
    // The unchanged fourth release adds no objects besides the signature.
    EXPECT_EQ(pack.Directory().Entries().size(), unsigned_entries + 1);
    const std::wstring name =
        PackEntryNameForUrl(L"https://cdn.example.test:8443/game/patch/filelist.xml.sig");
    EXPECT_EQ(name, L"\\game\\patch\\filelist.xml.sig");
    PackEntryHandle handle = pack.OpenEntry(name);
    std::vector<uint8_t> stored(sig.size() + 1);
    int64_t got = 0;
    ASSERT_EQ(pack.ReadPackFile(handle, stored.data(), stored.size(), got), 1);
    stored.resize(size_t(got));
    EXPECT_EQ(stored, sig);
}

TEST_F(RootPackage, IncompleteOrMissingRootsAreRefused) {
    std::string error;
    PackOptions options = Options();
    options.root = dir_.path() / "empty";
    fs::create_directories(options.root);
    EXPECT_EQ(RunPack(options, error), 0);
    EXPECT_NE(error.find("no release"), std::string::npos) << error;

    // A diff the list publishes is gone: the package would fail the players who need it.
    for (const auto& item : fs::recursive_directory_iterator(root_)) {
        if (item.path().extension() == ".diff") {
            fs::remove(item.path());
            break;
        }
    }
    EXPECT_EQ(RunPack(Options(), error), 0);
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Options().out));
}

TEST(PackCommandLine, TakesEitherAClientOrARoot) {
    struct Case {
        std::vector<std::string> args;
        int expected;
    };
    const Case cases[] = {
        {{"pack", "--root", "r", "--launcher", "l", "--out", "o"}, 1},
        {{"pack", "--client", "c", "--launcher", "l", "--out", "o"}, 1},
        {{"pack", "--client", "c", "--root", "r", "--launcher", "l", "--out", "o"}, 0},
        {{"pack", "--launcher", "l", "--out", "o"}, 0},
        {{"pack", "--root", "r", "--out", "o"}, 0},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string error;
        EXPECT_EQ(ParseCommandLine(c.args, line, error), c.expected) << error;
        if (c.expected == 1) {
            EXPECT_EQ(line.pack.root.empty(), c.args[1] != "--root");
        }
    }
}

}  // namespace
}  // namespace velm::publish
