#pragma once
// The game installation: its folder record in the registry, the client's version and the
// check that a folder holds a client an update package may upgrade.
#include <string>
#include <vector>

namespace velm {

// The folder that holds the running executable, without a trailing backslash.
std::wstring ProgramFolder();

// Sets version to m_strGameVersion of [TCore.VelmEngineBase], or "Unknown" when the file,
// section or key is missing. Always returns 1.
int ReadGameVersion(const std::wstring& ini_path, std::wstring& version);

// "InstallPath" below HKEY_LOCAL_MACHINE\key_path: 1 with a non-empty value, else 0.
int ReadInstallPath(std::wstring& folder, const std::wstring& key_path);
// Records folder + "\" as "InstallPath"; false when the key cannot be written.
bool WriteInstallPath(const std::wstring& key_path, const std::wstring& folder);

// -2: no game executable in the folder; -3: no version readable; 0: the version is one
// of the accepted ones (exact, case-sensitive); -1: another version.
int CheckClientFolder(const std::wstring& folder, const std::vector<std::wstring>& accepted_versions);

// The accepted versions of configuration text 232, one per line.
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace velm
