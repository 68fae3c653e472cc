#pragma once
// Single-file commands of velm-publish, for checking one diff or one container by hand
// and for the benchmarks:
//
//   velm-publish diff --old FILE --new FILE --out FILE.diff   diff in a ".cmp" container
//   velm-publish compress --in FILE --out FILE.cmp            full file in a container
#include <filesystem>
#include <string>

namespace velm::publish {

int RunDiffCommand(const std::filesystem::path& old_path, const std::filesystem::path& new_path,
                   const std::filesystem::path& out, std::string& error);

int RunCompressCommand(const std::filesystem::path& in, const std::filesystem::path& out,
                       std::string& error);

}  // namespace velm::publish
