#include "common/file_io.h"

#include "common/file_system.h"
#include "common/text.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velm {
namespace {

const wchar_t* ModeText(FileMode mode) {
    switch (mode) {
        case FileMode::kRead: return L"rb";
#ifdef _WIN32
        case FileMode::kReadSequential: return L"rbS";
#else
        case FileMode::kReadSequential: return L"rb";
#endif
        case FileMode::kWrite: return L"wb";
        case FileMode::kReadWrite: return L"r+b";
        case FileMode::kAppend: return L"ab";
    }
    return L"rb";
}

template <typename Bytes>
bool ReadInto(const std::wstring& path, Bytes& bytes, uint64_t max_size) {
    FileHandle file = OpenFile(path, FileMode::kRead);
    if (!file) return false;
    if (!SeekFile(file.get(), 0, SEEK_END)) return false;
    int64_t size = TellFile(file.get());
    if (size < 0 || uint64_t(size) > max_size || !SeekFile(file.get(), 0, SEEK_SET)) return false;
    bytes.resize(size_t(size));
    return size == 0 || std::fread(&bytes[0], 1, bytes.size(), file.get()) == bytes.size();
}

}  // namespace

FileHandle OpenFile(const std::wstring& path, FileMode mode) {
#ifdef _WIN32
    return FileHandle(_wfopen(path.c_str(), ModeText(mode)));
#else
    std::wstring wide_mode = ModeText(mode);
    std::string narrow_mode(wide_mode.begin(), wide_mode.end());
    return FileHandle(std::fopen(WideToUtf8(path).c_str(), narrow_mode.c_str()));
#endif
}

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes, uint64_t max_size) {
    return ReadInto(path, bytes, max_size);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, uint64_t max_size) {
    return ReadInto(path, bytes, max_size);
}

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    FileHandle file = OpenFile(path, FileMode::kWrite);
    if (!file) return false;
    bool written = size == 0 || std::fwrite(data, 1, size, file.get()) == size;
    return std::fclose(file.release()) == 0 && written;
}

bool ReplaceWholeFile(const std::wstring& path, const void* data, size_t size) {
    const std::wstring beside = path + L".new";
    FileHandle file = OpenFile(beside, FileMode::kWrite);
    if (!file) return false;
    bool written = (size == 0 || std::fwrite(data, 1, size, file.get()) == size) &&
                   std::fflush(file.get()) == 0;
#ifdef _WIN32
    written = written && _commit(_fileno(file.get())) == 0;
#else
    written = written && fsync(fileno(file.get())) == 0;
#endif
    written = std::fclose(file.release()) == 0 && written;
    if (written && ReplaceFileAtomically(beside, path)) return true;
    RemoveFile(beside);
    return false;
}

bool FileExists(const std::wstring& path) { return FileSize(path) >= 0; }

int64_t FileSize(const std::wstring& path) {
#ifdef _WIN32
    struct _stat64 info;
    if (_wstat64(path.c_str(), &info) != 0 || !(info.st_mode & _S_IFREG)) return -1;
    return info.st_size;
#else
    struct stat info;
    if (stat(WideToUtf8(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return info.st_size;
#endif
}

bool RemoveFile(const std::wstring& path) {
#ifdef _WIN32
    return _wremove(path.c_str()) == 0;
#else
    return std::remove(WideToUtf8(path).c_str()) == 0;
#endif
}

bool SeekFile(std::FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin) == 0;
#else
    return fseeko(file, off_t(offset), origin) == 0;
#endif
}

int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return int64_t(ftello(file));
#endif
}

}  // namespace velm
