// Writes a small seed corpus for every fuzz target with the same writers the launcher's
// tests and velm-publish use, so the seeds follow the formats as they change.
// Usage: make_seeds OUTPUT_FOLDER SOURCE_FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/pack_format.h"
#include "formats/release_signature.h"
#include "formats/resume_record.h"
#include "formats/test_streams.h"
#include "fuzz_support.h"
#include "formats/diff_file.h"
#include "formats/file_list.h"
#include "formats/hash_cache.h"

namespace {

using Bytes = std::vector<uint8_t>;
using velm::test::SampleData;
using velm::test::SizeField;

std::string g_out;

void Put(const std::string& target, const std::string& name, const void* data, size_t size) {
    std::string folder = g_out + "/" + target;
    mkdir(folder.c_str(), 0755);
    std::wstring path = velm::Utf8ToWide(folder + "/" + name);
    if (!velm::WriteWholeFile(path, data, size)) {
        std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
        std::exit(1);
    }
}
void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    Put(target, name, bytes.data(), bytes.size());
}
void Put(const std::string& target, const std::string& name, const std::string& text) {
    Put(target, name, text.data(), text.size());
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::wstring Hex(const Bytes& data) { return velm::Md5ToHex(velm::Md5Bytes(data.data(), data.size())); }

void FileListSeeds() {
    velm::FileListDocument doc;
    doc.store_url_root = L"http://127.0.0.1/store/";
    doc.url_roots = {L"http://127.0.0.1/v3/", L"http://127.0.0.1/v2/", L"http://127.0.0.1/v1/"};
    velm::FileEntry plain;
    plain.name = L"\\VelmGame\\Config\\Default.ini";
    plain.hash = Hex(Text("config"));
    plain.size_compressed = 120;
    plain.flags = 1;
    plain.history = {{plain.hash, 0}};
    velm::FileEntry patched;
    patched.name = L"\\VelmGame\\Data\\world.pak";
    patched.hash = Hex(Text("v3"));
    patched.size_compressed = 40000;
    patched.flags = 1;
    patched.diff_size = 900;
    patched.history = {{patched.hash, 900}, {Hex(Text("v2")), 800}, {Hex(Text("v1")), 0}};
    doc.entries = {plain, patched};
    doc.has_launcher = true;
    doc.launcher = {L"http://127.0.0.1/VelmLauncher.exe.cmp", Hex(Text("launcher")), 500000};
    doc.has_script = true;
    doc.script = {{L"CreateShortcut", {L"Velm", L"\\VelmLauncher.exe"}}, {L"DeleteFile", {L"\\old.dll"}}};
    Put("file_list", "release.xml", velm::WriteFileList(doc));
    doc.has_script = false;
    doc.has_launcher = false;
    doc.entries.resize(1);
    doc.url_roots.resize(1);
    Put("file_list", "one_entry.xml", velm::WriteFileList(doc));
    Put("file_list", "bare.xml", std::string("<Root><Store/><UrlRootList/><FileList/></Root>"));
}

void HashCacheSeeds() {
    const std::string folder = velm_fuzz::ScratchFolder();
    const std::wstring base = velm::Utf8ToWide(folder);
    velm::HashCache cache(base);
    const char* names[] = {"/a.dat", "/Data.PAK", "/launcher.exe"};
    for (const char* name : names) {
        std::wstring path = base + velm::Utf8ToWide(name);
        Bytes content = SampleData(64, uint32_t(name[1]));
        velm_fuzz::WriteBytes(path, content.data(), content.size());
        cache.UpdateHashCacheEntry(path, L"");
    }
    const std::wstring saved = velm_fuzz::ScratchPath("cache.xml");
    cache.SaveLocalHashCache(saved);
    Put("hash_cache", "saved.xml", velm_fuzz::ReadBytes(saved));
    Put("hash_cache", "utf8.xml",
        std::string("<?xml version=\"1.0\"?><Root version=\"100\"><FileList>"
                    "<file name=\"\\a.dat\" hash=\"0123456789abcdef0123456789ABCDEF\" "
                    "datetime_low=\"4294967295\" datetime_hi=\"30000000\"/></FileList></Root>"));
}

// A diff from old to new made of one add run over the common length and one extra run.
Bytes MakeDiff(const Bytes& old_data, const Bytes& new_data, int32_t z) {
    velm::DiffFile diff;
    size_t common = std::min(old_data.size(), new_data.size());
    diff.old_size = uint32_t(old_data.size());
    diff.old_md5 = velm::Md5Bytes(old_data.data(), old_data.size());
    diff.new_size = int32_t(new_data.size());
    diff.new_md5 = velm::Md5Bytes(new_data.data(), new_data.size());
    for (size_t i = 0; i < common; ++i) diff.diff_block.push_back(uint8_t(new_data[i] - old_data[i]));
    diff.extra_block.assign(new_data.begin() + long(common), new_data.end());
    diff.triples = {{int32_t(common), int32_t(new_data.size() - common), z}};
    return velm::SerializeDiffFile(diff);
}

void DiffSeeds() {
    Bytes old_data = SampleData(300, 1);
    Bytes new_data = old_data;
    for (size_t i = 0; i < new_data.size(); i += 7) new_data[i] ^= 0x5A;
    new_data.insert(new_data.end(), 40, 'x');
    Put("diff_file", "grow.bin", velm_fuzz::JoinPieces(old_data, MakeDiff(old_data, new_data, 0)));
    Put("diff_file", "shrink.bin", velm_fuzz::JoinPieces(new_data, MakeDiff(new_data, old_data, -5)));
    Put("diff_file", "from_empty.bin", velm_fuzz::JoinPieces({}, MakeDiff({}, old_data, 0)));
}

void CmpSeeds() {
    Bytes sample = SampleData(3000, 7);
    Put("cmp_container", "stored_size.cmp", velm::test::MakeCmp(sample, SizeField::kStored));
    Put("cmp_container", "end_marker.cmp", velm::test::MakeCmp(sample, SizeField::kEndMarker));
    Put("cmp_container", "both.cmp", velm::test::MakeCmp(sample, SizeField::kStoredAndMarker, 16));
    Put("cmp_container", "empty.cmp", velm::test::MakeCmp({}, SizeField::kStored));
    Bytes zeros(20000, 0);
    Bytes container;
    velm::WriteCmp(zeros.data(), zeros.size(), container);
    Put("cmp_container", "zeros.cmp", container);
}

Bytes ResumeInput(uint64_t server_time, const Bytes& data, const std::vector<size_t>& blocks) {
    velm::ResumeHeader header;
    header.created = 130000000000000000ull;
    Bytes record(velm::kResumeHeaderSize);
    velm::EncodeResumeHeader(header, record.data());
    size_t offset = 0;
    for (size_t length : blocks) {
        velm::ResumeEntry entry;
        entry.length = int64_t(length);
        entry.digest = velm::Md5Bytes(data.data() + offset, length);
        uint8_t bytes[velm::kResumeEntrySize];
        velm::EncodeResumeEntry(entry, bytes);
        record.insert(record.end(), bytes, bytes + sizeof bytes);
        offset += length;
    }
    Bytes input(8);
    for (int i = 0; i < 8; ++i) input[size_t(i)] = uint8_t(server_time >> (8 * i));
    Bytes joined = velm_fuzz::JoinPieces(record, data);
    input.insert(input.end(), joined.begin(), joined.end());
    return input;
}

void ResumeSeeds() {
    Bytes short_data = SampleData(700, 3);
    Put("resume_record", "short_block.bin", ResumeInput(0, short_data, {700}));
    Put("resume_record", "outdated.bin", ResumeInput(~0ull, short_data, {700}));
    Bytes long_data = SampleData(size_t(velm::kResumeBlockSize) + 500, 4);
    Put("resume_record", "full_then_short.bin",
        ResumeInput(0, long_data, {size_t(velm::kResumeBlockSize), 500}));
}

void PackSeeds() {
    const std::string folder = velm_fuzz::ScratchFolder();
    std::vector<velm::PackSource> sources;
    const char* names[] = {"\\VelmGame\\Data\\world.pak", "\\VelmLauncher.exe", "\\readme.txt"};
    for (size_t i = 0; i < 3; ++i) {
        std::wstring path = velm::Utf8ToWide(folder + "/pack_source" + std::to_string(i));
        Bytes content = SampleData(200 * (i + 1), uint32_t(i + 9));
        velm_fuzz::WriteBytes(path, content.data(), content.size());
        sources.push_back({velm::Utf8ToWide(names[i]), path, i == 2 ? 0u : velm::kPackFlagLzma, 0x01D0000000000000ull});
    }
    const std::wstring pack_path = velm_fuzz::ScratchPath("host.pack");
    for (uint16_t base : {uint16_t(0), uint16_t(64)}) {
        velm::FileHandle out = velm::OpenFile(pack_path, velm::FileMode::kWrite);
        Bytes host_prefix(base, 'M');
        std::string error;
        if (!out || std::fwrite(host_prefix.data(), 1, host_prefix.size(), out.get()) != host_prefix.size() ||
            velm::BuildPack(out.get(), sources, nullptr, error) != 1) {
            std::fprintf(stderr, "cannot build a pack: %s\n", error.c_str());
            std::exit(1);
        }
        out.reset();
        Bytes input = {uint8_t(base & 0xFF), uint8_t(base >> 8)};
        Bytes host = velm_fuzz::ReadBytes(pack_path);
        input.insert(input.end(), host.begin(), host.end());
        Put("pack_directory", "base_" + std::to_string(base) + ".bin", input);
    }
}

void ReleaseSignatureSeeds() {
    velm::ReleaseSignature release;
    release.serial = 3;
    release.expires = 1900000000;
    for (size_t i = 0; i < release.key_id.size(); ++i) release.key_id[i] = uint8_t(i + 1);
    for (size_t i = 0; i < release.list_sha256.size(); ++i) release.list_sha256[i] = uint8_t(i * 7);
    for (size_t i = 0; i < release.signature.size(); ++i) release.signature[i] = uint8_t(255 - i);
    Put("release_signature", "signed.sig", velm::EncodeReleaseSignature(release));
    velm::ReleasePublicKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(i * 13 + 1);
    Put("release_signature", "key.txt", " " + velm::WideToUtf8(velm::ReleasePublicKeyText(key)) + "\r\n");
}

void ServerListSeeds() {
    const std::string block =
        "SERVER_BEGIN\n"
        "Realm One,Server A,-,1001,1,1,0,-,-,127.0.0.1:7000,127.0.0.1:7001,127.0.0.1:7002,-,1.0.3,127.0.0.1\n"
        "Realm One,Server B,-,1002,3,0,1,-,-,127.0.0.1:7000,,,-,1.0.3,127.0.0.1,extra\n"
        "Realm Two,Server C,-,2001,4,0,0,-,-,p1,p2,p3,-,1.0.3,\n"
        "short,line\n"
        "SERVER_END\n";
    Put("server_list", "utf8.txt", "\x01" + block);
    std::string crlf;
    for (char c : block) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Put("server_list", "bytes_crlf.txt", std::string("\x00header\r\n", 9) + crlf);
    Put("server_list", "bom.txt", "\x01\xEF\xBB\xBF" + block);
}

void IniSeeds(const std::string& source) {
    Bytes perf = velm_fuzz::ReadBytes(velm::Utf8ToWide(source + "/tests/game/fixtures/VelmPerfSwitch.ini"));
    Bytes engine = velm_fuzz::ReadBytes(velm::Utf8ToWide(source + "/tests/game/fixtures/VelmEngine.ini"));
    if (perf.empty() || engine.empty()) {
        std::fprintf(stderr, "INI fixtures missing under %s\n", source.c_str());
        std::exit(1);
    }
    Put("ini_values", "fixtures.bin", velm_fuzz::JoinPieces(perf, engine));
    std::string wide = velm::WideToUtf16Le(velm::Utf8ToWide(std::string(perf.begin(), perf.end())));
    Bytes utf16 = {0xFF, 0xFE};
    utf16.insert(utf16.end(), wide.begin(), wide.end());
    Put("ini_values", "utf16_perf.bin", velm_fuzz::JoinPieces(utf16, {}));
    Put("ini_values", "struct.bin", velm_fuzz::JoinPieces(Text("[SystemSettings]\r\nTEXTUREGROUP_World=(MinLODSize=256, LODBias=0)\r\n"), {}));
}

void CommandLineSeeds() {
    Put("command_line", "switches.txt",
        std::string("\"C:\\Game\\VelmLauncher.exe\" -SHOWDEBUG -NOSELFUPDATE "
                    "-FILELISTURL \"http://127.0.0.1/filelist.xml\""));
    Put("command_line", "roots.txt",
        std::string("-urlroot_original \"http://a/\" -URLROOT_REPLACEMENT \"http://127.0.0.1/\" -TESTDOWNLOADSOURCE"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER SOURCE_FOLDER\n");
        return 2;
    }
    g_out = argv[1];
    mkdir(g_out.c_str(), 0755);
    FileListSeeds();
    HashCacheSeeds();
    DiffSeeds();
    CmpSeeds();
    ResumeSeeds();
    PackSeeds();
    ReleaseSignatureSeeds();
    ServerListSeeds();
    IniSeeds(argv[2]);
    CommandLineSeeds();
    return 0;
}
