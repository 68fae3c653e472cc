// Telling an unstripped launcher from a stripped one: real MinGW images built with and
// without -g, and made-up section tables whose names take every path through the COFF
// string table, cut at every length.
#include "pe_debug.h"
#include "paths.h"
#include "release.h"
#include "test_client.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velm::publish {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// An image of headers only: DOS header, PE header, an empty optional header, the given
// 8-byte section names and, after them, a string table holding strings (its size field
// says table_size when that is set).
Bytes MakeImage(const std::vector<std::string>& sections, const std::string& strings,
                uint32_t table_size = 0) {
    Bytes b(64 + 24 + 40 * sections.size(), 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 64);
    Put32(b, 64, 0x00004550);
    b[64 + 4] = 0x64;
    b[64 + 5] = 0x86;
    b[64 + 6] = uint8_t(sections.size());
    Put32(b, 64 + 12, uint32_t(b.size()));  // the symbol table (no symbols) and its strings
    for (size_t i = 0; i < sections.size(); ++i) {
        for (size_t c = 0; c < sections[i].size() && c < 8; ++c)
            b[64 + 24 + 40 * i + c] = uint8_t(sections[i][c]);
    }
    size_t table = b.size();
    b.resize(table + 4);
    Put32(b, table, table_size ? table_size : uint32_t(4 + strings.size()));
    b.insert(b.end(), strings.begin(), strings.end());
    return b;
}

TEST(PeDebugSections, RealImagesWithAndWithoutDebugInformation) {
    std::vector<std::string> names;
    std::string error;
    ASSERT_EQ(FindPeDebugSections(LoadFixture(VELM_PE_FIXTURE), names, error), 1) << error;
    EXPECT_TRUE(names.empty());
    ASSERT_EQ(FindPeDebugSections(LoadFixture(VELM_PE_FIXTURE_DEBUG), names, error), 1) << error;
    EXPECT_NE(std::find(names.begin(), names.end(), ".debug_info"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), ".debug_line"), names.end());
}

TEST(PeDebugSections, NamesThroughTheStringTable) {
    const std::string info(".debug_info\0", 12);  // at offset 4; the next name at 16
    struct Case {
        const char* what;
        Bytes image;
        std::vector<std::string> expected;
    } cases[] = {
        {"long names resolved", MakeImage({".text", "/4", "/16"}, info + ".gnu_debuglink"),
         {".debug_info"}},
        {"eight-byte names with no NUL", MakeImage({".debug_x", ".zdebug_", ".text"}, ""),
         {".debug_x", ".zdebug_"}},
        {"near misses", MakeImage({"/0", "/4x", "/", ".debu", "debug", "/-4"}, info), {}},
        {"offset past the table", MakeImage({"/16", "/99999999"}, info), {}},
        {"table size past the file", MakeImage({"/4"}, info, 0x7FFFFFFF), {}},
        {"table size under its own field", MakeImage({"/4"}, info, 3), {}},
        {"last name without its NUL", MakeImage({"/4"}, ".debug_abbrev"), {".debug_abbrev"}},
        {"name too long to be real", MakeImage({"/4"}, ".debug" + std::string(300, 'x')), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> names;
        std::string error;
        ASSERT_EQ(FindPeDebugSections(c.image, names, error), 1) << error;
        EXPECT_EQ(names, c.expected);
    }
}

TEST(PeDebugSections, DamagedImagesAreRejectedOrReadNeverOverrun) {
    std::vector<std::string> names;
    std::string error;
    EXPECT_EQ(FindPeDebugSections(Bytes(4096, 'x'), names, error), 0);
    EXPECT_NE(error.find("not a PE"), std::string::npos) << error;

    // A cut inside the headers or the section table is no PE; a cut inside the string
    // table only loses the names it held.
    Bytes made = MakeImage({".text", "/4", "/16"}, std::string(".debug_info\0", 12) + ".debug_line");
    size_t table = 64 + 24 + 3 * 40;
    for (size_t size = 0; size < made.size(); ++size) {
        Bytes cut(made.begin(), made.begin() + long(size));
        EXPECT_EQ(FindPeDebugSections(cut, names, error), size >= table ? 1 : 0) << size;
        if (size >= table) {
            EXPECT_TRUE(names.empty()) << size;
        }
    }
    Bytes real = LoadFixture(VELM_PE_FIXTURE_DEBUG);
    for (size_t size = 0; size < real.size(); size += 509) {
        Bytes cut(real.begin(), real.begin() + long(size));
        FindPeDebugSections(cut, names, error);
    }
}

// The release goes through either way (a debug build is still a working launcher), but
// the operator hears that players would download its debug information, even with --quiet.
TEST(PeDebugSections, ReleaseWarnsAboutAnUnstrippedLauncher) {
    TestDir dir("release_unstripped");
    ASSERT_TRUE(TestClient(1).WriteTo(dir.path() / "client"));
    struct Case {
        const char* launcher;
        bool warned;
    } cases[] = {{VELM_PE_FIXTURE_DEBUG, true}, {VELM_PE_FIXTURE, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.launcher);
        ReleaseOptions options;
        options.root = dir.path() / "root";
        options.base_url = L"http://127.0.0.1:8080/patch";
        options.client = dir.path() / "client";
        options.launcher = fs::u8path(c.launcher);
        options.quiet = true;
        std::string error;
        ::testing::internal::CaptureStderr();
        int published = RunRelease(options, error);
        std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(published, 1) << error;
        EXPECT_EQ(said.find("carries debug information (.debug_") != std::string::npos, c.warned)
            << said;
    }
}

}  // namespace
}  // namespace velm::publish
