// velm-retarget: writes a copy of VelmLauncher.exe whose built-in configuration texts
// come from a deployment file (config/deployment.ini format), for example one that
// names an operator's own hosts.
#include <cstdio>
#include <string>
#include <vector>

#include "app/deployment_config.h"
#include "common/file_io.h"
#include "common/text.h"
#include "tools/retarget/retarget_win32.h"

namespace {

constexpr const wchar_t* kUsage =
    L"usage: velm-retarget --exe VelmLauncher.exe --out COPY.exe --deployment FILE.ini\n"
    L"  Writes COPY.exe: VelmLauncher.exe with every text of FILE.ini (\"ID = text\"\n"
    L"  lines, as in config/deployment.ini) replacing its built-in configuration text.\n";

int Fail(const std::wstring& message) {
    std::fprintf(stderr, "velm-retarget: %s\n", velm::WideToUtf8(message).c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring exe, out, deployment;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        std::wstring* slot = arg == L"--exe" ? &exe : arg == L"--out" ? &out
                           : arg == L"--deployment" ? &deployment : nullptr;
        if (arg == L"--help" || arg == L"-h") {
            std::fputs(velm::WideToUtf8(kUsage).c_str(), stdout);
            return 0;
        }
        if (!slot || i + 1 >= argc) return Fail(L"unexpected argument " + arg + L"\n" + kUsage);
        *slot = argv[++i];
    }
    if (exe.empty() || out.empty() || deployment.empty()) return Fail(kUsage);

    std::vector<uint8_t> bytes;
    if (!velm::ReadWholeFile(deployment, bytes, 1 << 20))
        return Fail(L"cannot read " + deployment + L" (missing, unreadable or above 1 MiB)");
    std::map<int, std::wstring> texts;
    std::wstring error;
    if (!velm::ParseDeploymentConfig(std::string(bytes.begin(), bytes.end()), texts, error))
        return Fail(deployment + L": " + error);
    if (!velm::RetargetExecutable(exe, out, texts, error)) return Fail(error);
    std::printf("velm-retarget: wrote %s with %d texts\n", velm::WideToUtf8(out).c_str(), int(texts.size()));
    return 0;
}
