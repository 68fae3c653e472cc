#pragma once
// The run's one reading of the downloaded file list: every part of the run (the
// launcher's own entry, the URL roots, the file entries, the script) comes from this
// single parse.
#include <string>
#include <vector>

#include "formats/file_list.h"

namespace velm {

struct LoadedFileList {
    FileListDocument document;
    // Entries left out (an unsafe name, a name that collides with another, a history the
    // URL roots do not reach); the rest of the list updates.
    std::vector<RejectedEntry> rejected;
};

struct FileListLoadError {
    // The line for the run's error list: "<path> load failed\n line: N" for a file that
    // cannot be read (N = 0) or is not well-formed XML (N = the line of the fault); empty
    // for well-formed XML that is not a valid file list.
    std::wstring error_line;
    // The parser's reason, for the log; empty when the file could not be read.
    std::wstring reason;
};

// The downloaded list's bytes, at most the list limit; false when the file cannot be read
// or is larger.
bool ReadFileListBytes(const std::wstring& path, std::string& bytes);

// 1 when bytes (read from path) parse as a file list (base is put before every entry
// name), 0 otherwise with error filled in. A null bytes stands for a list that could not
// be read.
int LoadFileList(const std::wstring& path, const std::string* bytes, const std::wstring& base,
                 LoadedFileList& list, FileListLoadError& error);

}  // namespace velm
