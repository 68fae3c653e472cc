// The package reader over real pack files written by BuildPack, whole and damaged.
#include "formats/pack_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/text.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

std::wstring TempPath(const std::string& name) {
    const char* dir = std::getenv("VELM_BINARY_DIR");
    std::string path = (dir ? std::string(dir) : std::string(".")) + "/pack_file_test_" + name;
#ifdef _WIN32
    std::wstring wide = L"Z:" + Utf8ToWide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
#else
    return Utf8ToWide(path);
#endif
}

void PutLe(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

size_t FindId(const std::vector<uint8_t>& bytes, const char* id) {
    return size_t(std::search(bytes.begin(), bytes.end(), id, id + 4) - bytes.begin());
}

struct Source {
    std::wstring name;
    std::vector<uint8_t> data;
    uint32_t flags;
};

constexpr int64_t kBase = 300;  // bytes of "executable" in front of the pack
constexpr uint64_t kFileTime = 0x01D9A1B2C3D4E5F0ull;

class PackFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& path : cleanup_) RemoveFile(path);
        std::error_code error;
        std::filesystem::remove_all(std::filesystem::path(TempPath("out")), error);
    }

    // A host file: kBase filler bytes, then a pack of sources.
    std::vector<uint8_t> BuildHost(const std::vector<Source>& sources) {
        std::vector<PackSource> packed;
        for (size_t i = 0; i < sources.size(); ++i) {
            std::wstring path = TempPath("src" + std::to_string(i));
            cleanup_.push_back(path);
            EXPECT_TRUE(WriteWholeFile(path, sources[i].data.data(), sources[i].data.size()));
            packed.push_back({sources[i].name, path, sources[i].flags, kFileTime});
        }
        FileHandle out = OpenFile(host_, FileMode::kWrite);
        std::vector<uint8_t> filler(size_t(kBase), 'M');
        std::fwrite(filler.data(), 1, filler.size(), out.get());
        std::string error;
        EXPECT_EQ(BuildPack(out.get(), packed, nullptr, error), 1) << error;
        out.reset();
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadWholeFile(host_, bytes, 1u << 30));
        return bytes;
    }

    int Open(const std::vector<uint8_t>& host, PackFile& pack, int64_t base = kBase) {
        EXPECT_TRUE(WriteWholeFile(host_, host.data(), host.size()));
        pack.SetBaseOffset(base);
        return pack.OpenPackFile(host_);
    }

    std::vector<uint8_t> ReadAll(const PackFile& pack, const std::wstring& name, size_t step) {
        PackEntryHandle handle = pack.OpenEntry(name);
        EXPECT_TRUE(handle.Valid());
        std::vector<uint8_t> out, buffer(step);
        for (;;) {
            int64_t got = 0;
            EXPECT_EQ(pack.ReadPackFile(handle, buffer.data(), buffer.size(), got), 1);
            if (got == 0) break;
            out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        }
        return out;
    }

    std::wstring host_ = TempPath("host.exe");
    std::vector<std::wstring> cleanup_{host_};
};

const std::vector<Source>& Sample() {
    static const std::vector<Source> sources = {
        {L"\\Data\\stored.bin", test::SampleData(12345, 1), 0},
        {L"\\Data\\Packed.DAT", test::SampleData(70000, 2), kPackFlagLzma},
        {L"\\empty.dat", {}, 0},
    };
    return sources;
}

TEST_F(PackFileTest, EntriesReadAndExtractByteIdentical) {
    PackFile pack;
    ASSERT_EQ(Open(BuildHost(Sample()), pack), 1) << pack.LastError();
    EXPECT_GT(pack.DataChunkOffset(), 0);
    for (const Source& source : Sample()) {
        SCOPED_TRACE(WideToUtf8(source.name));
        int64_t offset = -1, size = -1;
        ASSERT_EQ(pack.FindFile(source.name, &offset, &size), 1);
        EXPECT_EQ(size, int64_t(source.data.size()));
        EXPECT_GE(offset, pack.DataChunkOffset());
        if (source.flags == 0) {
            EXPECT_EQ(ReadAll(pack, source.name, 5120), source.data);
        }

        std::wstring out = TempPath("out/sub/extracted");
        cleanup_.push_back(out);
        ASSERT_EQ(pack.ExtractFile(source.name, out), 1);
        std::vector<uint8_t> extracted;
        ASSERT_TRUE(ReadWholeFile(out, extracted, 1u << 20));
        EXPECT_EQ(extracted, source.data);
        uint64_t time = 0;
        ASSERT_TRUE(FileWriteTime(out, time));
        EXPECT_EQ(time, kFileTime);
        RemoveFile(out);
    }
}

TEST_F(PackFileTest, LookupIgnoresCaseAndSlashesAndFirstOfTwinsWins) {
    std::vector<Source> sources = Sample();
    sources.push_back({L"\\DATA\\STORED.BIN", {'t', 'w', 'i', 'n'}, 0});
    PackFile pack;
    ASSERT_EQ(Open(BuildHost(sources), pack), 1) << pack.LastError();
    EXPECT_EQ(pack.FindFile(L"/data/packed.dat"), 1);
    EXPECT_EQ(pack.FindFile(L"\\data\\PACKED.dat"), 1);
    EXPECT_EQ(pack.FindFile(L"\\data"), 0);
    EXPECT_EQ(pack.FindFile(L"data\\packed.dat"), 0);
    EXPECT_FALSE(pack.OpenEntry(L"\\missing").Valid());
    // Directory order is by name without case: the one listed first is read first.
    int64_t size = 0;
    ASSERT_EQ(pack.FindFile(L"/data/stored.bin", nullptr, &size), 1);
    EXPECT_EQ(size, int64_t(sources[0].data.size()));
}

TEST_F(PackFileTest, ReadsStopAtTheEntrysEndAndHandlesAreIndependent) {
    PackFile pack;
    ASSERT_EQ(Open(BuildHost(Sample()), pack), 1) << pack.LastError();
    // A compressed entry read raw yields its stored bytes only, never its neighbour's.
    int64_t size = 0;
    ASSERT_EQ(pack.FindFile(L"\\Data\\Packed.DAT", nullptr, &size), 1);
    std::vector<uint8_t> raw = ReadAll(pack, L"\\Data\\Packed.DAT", 4096);
    EXPECT_LT(int64_t(raw.size()), size);
    EXPECT_EQ(raw[0], 0x5D);  // LZMA properties byte lc=3 lp=0 pb=2

    PackEntryHandle a = pack.OpenEntry(L"\\Data\\stored.bin");
    PackEntryHandle b = pack.OpenEntry(L"\\Data\\stored.bin");
    uint8_t first[100], second[100];
    int64_t got = 0;
    ASSERT_EQ(pack.ReadPackFile(a, first, sizeof first, got), 1);
    ASSERT_EQ(pack.ReadPackFile(a, first, sizeof first, got), 1);
    ASSERT_EQ(pack.ReadPackFile(b, second, sizeof second, got), 1);
    EXPECT_EQ(std::memcmp(second, Sample()[0].data.data(), sizeof second), 0);
    EXPECT_EQ(std::memcmp(first, Sample()[0].data.data() + 100, sizeof first), 0);

    PackEntryHandle invalid;
    EXPECT_EQ(pack.ReadPackFile(invalid, first, sizeof first, got), 0);
    EXPECT_EQ(got, 0);
}

// Offsets of the first directory entry's fields in a host made from Sample(); the
// directory is sorted, so the first entry is "\\Data\\Packed.DAT".
struct Layout {
    size_t head_id, data_id, dir_id, count, entry;
};

Layout LayoutOf(const std::vector<uint8_t>& host) {
    Layout layout;
    layout.head_id = FindId(host, "1dh ");
    layout.data_id = FindId(host, "otsf");
    layout.dir_id = FindId(host, "tslf");
    layout.count = layout.dir_id + 12;
    layout.entry = layout.count + 4;
    return layout;
}

TEST_F(PackFileTest, DamagedPackagesFailToOpen) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&, const Layout&)> damage;
    };
    const Case cases[] = {
        {"no \"1dh \" chunk", [](auto& h, const Layout& l) { h[l.head_id] = 'x'; }},
        {"no \"tslf\" chunk", [](auto& h, const Layout& l) { h[l.dir_id] = 'x'; }},
        {"directory cut short", [](auto& h, const Layout&) { h.resize(h.size() - 9); }},
        {"directory size beyond the file",
         [](auto& h, const Layout& l) { PutLe(h, l.dir_id + 4, uint64_t(1) << 62, 8); }},
        {"negative directory size",
         [](auto& h, const Layout& l) { PutLe(h, l.dir_id + 4, ~uint64_t(0), 8); }},
        {"huge entry count", [](auto& h, const Layout& l) { PutLe(h, l.count, 0xFFFFFFFFu, 4); }},
        {"one entry more than listed", [](auto& h, const Layout& l) { PutLe(h, l.count, 4, 4); }},
        {"name length 1025", [](auto& h, const Layout& l) { PutLe(h, l.entry + 36, 1025, 4); }},
        {"name length 1026", [](auto& h, const Layout& l) { PutLe(h, l.entry + 36, 1026, 4); }},
        {"negative name length",
         [](auto& h, const Layout& l) { PutLe(h, l.entry + 36, 0x80000000u, 4); }},
        {"data offset past the end",
         [](auto& h, const Layout& l) { PutLe(h, l.entry, uint64_t(h.size()), 8); }},
        {"negative data offset", [](auto& h, const Layout& l) { PutLe(h, l.entry, ~uint64_t(0), 8); }},
        {"stored size past the end",
         [](auto& h, const Layout& l) { PutLe(h, l.entry + 16, uint64_t(h.size()), 8); }},
        {"stored entry shorter than its size",
         [](auto& h, const Layout& l) {
             // The second entry, "\\Data\\stored.bin", follows the first one's 32-byte name.
             size_t second = l.entry + 40 + 32;
             PutLe(h, second + 8, 12346, 8);
         }},
    };
    const std::vector<uint8_t> good = BuildHost(Sample());
    const Layout layout = LayoutOf(good);
    ASSERT_LT(layout.dir_id, good.size());
    for (const Case& c : cases) {
        std::vector<uint8_t> host = good;
        c.damage(host, layout);
        PackFile pack;
        EXPECT_EQ(Open(host, pack), 0) << c.what;
        EXPECT_FALSE(pack.LastError().empty()) << c.what;
        EXPECT_EQ(pack.FindFile(L"\\Data\\stored.bin"), 0) << c.what;
    }
}

TEST_F(PackFileTest, WrongBaseOffsetsFailToOpen) {
    const std::vector<uint8_t> host = BuildHost(Sample());
    // 0 is what an executable without a package carries; the others miss the pack.
    for (int64_t base : {int64_t(0), kBase - 1, kBase + 1, int64_t(host.size()),
                         int64_t(host.size()) + 1, int64_t(-1)}) {
        PackFile pack;
        EXPECT_EQ(Open(host, pack, base), 0) << base;
    }
    PackFile missing;
    missing.SetBaseOffset(kBase);
    EXPECT_EQ(missing.OpenPackFile(TempPath("no-such-host.exe")), 0);
}

TEST_F(PackFileTest, MissingDataChunkIdIsTolerated) {
    std::vector<uint8_t> host = BuildHost(Sample());
    host[FindId(host, "otsf")] = 'x';
    PackFile pack;
    ASSERT_EQ(Open(host, pack), 1) << pack.LastError();
    EXPECT_EQ(pack.DataChunkOffset(), 0);
    EXPECT_EQ(ReadAll(pack, L"\\Data\\stored.bin", 5120), Sample()[0].data);
}

TEST_F(PackFileTest, NamesThatLeaveTheInstallationFailThePackage) {
    for (const wchar_t* name : {L"\\..\\evil.dll", L"\\Data\\..\\..\\evil.dll", L"/../evil.dll",
                                L"C:\\Windows\\evil.dll", L"\\Data\\c:evil", L"",
                                L"\\\\server\\share\\evil.dll", L"\\Data\\con"}) {
        std::vector<Source> sources = Sample();
        sources.push_back({name, {'x'}, 0});
        PackFile pack;
        EXPECT_EQ(Open(BuildHost(sources), pack), 0) << WideToUtf8(name);
        EXPECT_EQ(pack.FindFile(L"\\Data\\stored.bin"), 0) << WideToUtf8(name);
    }
}

TEST_F(PackFileTest, RelativeNamesWithoutTheLeadingSeparatorAreFine) {
    std::vector<Source> sources = Sample();
    sources.push_back({L"Data\\relative.bin", {'r'}, 0});
    PackFile pack;
    ASSERT_EQ(Open(BuildHost(sources), pack), 1) << pack.LastError();
    EXPECT_EQ(pack.FindFile(L"data/RELATIVE.bin"), 1);
}

TEST_F(PackFileTest, DamagedCompressedEntryExtractsNothing) {
    std::vector<uint8_t> host = BuildHost(Sample());
    const Layout layout = LayoutOf(host);
    struct Case {
        const char* what;
        size_t field;
        uint64_t value;
    };
    // Stored data cut to 100 bytes; a file size the stream does not reach; one beyond it.
    const Case cases[] = {{"stream cut short", 16, 100},
                          {"file size larger than the stream", 8, 70001},
                          {"file size smaller than the stream", 8, 69999}};
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = host;
        PutLe(damaged, layout.entry + c.field, c.value, 8);
        PackFile pack;
        ASSERT_EQ(Open(damaged, pack), 1) << c.what << ": " << pack.LastError();
        std::wstring out = TempPath("damaged_out");
        cleanup_.push_back(out);
        EXPECT_EQ(pack.ExtractFile(L"\\Data\\Packed.DAT", out), 0) << c.what;
        EXPECT_FALSE(FileExists(out)) << c.what;
    }
}

}  // namespace
}  // namespace velm
