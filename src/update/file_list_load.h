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

// 1 when the list at path was read and parsed (base is put before every entry name), 0
// otherwise with error filled in.
int LoadFileList(const std::wstring& path, const std::wstring& base, LoadedFileList& list,
                 FileListLoadError& error);

}  // namespace velm
