#include "file_commands.h"

#include "diff_generator.h"
#include "paths.h"

#include "formats/cmp_container.h"
#include "common/file_io.h"

namespace velm::publish {

int RunDiffCommand(const std::filesystem::path& old_path, const std::filesystem::path& new_path,
                   const std::filesystem::path& out, std::string& error) {
    std::vector<uint8_t> old_bytes, new_bytes, container;
    if (!ReadBytes(old_path, old_bytes) || !ReadBytes(new_path, new_bytes)) {
        error = "cannot read " + old_path.u8string() + " or " + new_path.u8string();
        return 0;
    }
    DiffFile diff;
    if (!MakeDiff(old_bytes.data(), old_bytes.size(), new_bytes.data(), new_bytes.size(), diff,
                  error))
        return 0;
    old_bytes = {};
    new_bytes = {};
    std::vector<uint8_t> file = SerializeDiffFile(diff);
    diff = DiffFile();
    if (!WriteCmp(file.data(), file.size(), container, DiffContainerSettings()) ||
        !WriteBytes(out, container.data(), container.size())) {
        error = "cannot write " + out.u8string();
        return 0;
    }
    return 1;
}

int RunCompressCommand(const std::filesystem::path& in, const std::filesystem::path& out,
                       std::string& error) {
    FileHandle source = OpenFile(WidePath(in), FileMode::kRead);
    int64_t size = FileSize(WidePath(in));
    FileHandle target = OpenFile(WidePath(out), FileMode::kWrite);
    if (!source || size < 0 || !target) {
        error = "cannot open " + in.u8string() + " or " + out.u8string();
        return 0;
    }
    if (!WriteCmpFile(source.get(), uint64_t(size), target.get()) ||
        std::fclose(target.release()) != 0) {
        error = "cannot compress " + in.u8string();
        return 0;
    }
    return 1;
}

}  // namespace velm::publish
