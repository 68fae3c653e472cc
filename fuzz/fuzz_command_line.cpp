// The launcher's command line. Input: UTF-8 text. Flags follow their substrings exactly;
// a value is the text between the first pair of quotes after its switch, so it is a piece
// of the command line and never holds a quote. A file list URL given there is taken apart
// into a host without a port and a port the URL really names.
#include "fuzz_support.h"

#include "app/command_line.h"
#include "app/process_settings.h"
#include "common/text.h"
#include "common/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring command_line = velm::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
    velm::ProcessSettings settings;
    velm::ApplySwitches(command_line, settings);

    const bool test_source = command_line.find(L"-TESTDOWNLOADSOURCE") != std::wstring::npos;
    const bool no_update = command_line.find(L"-NOSELFUPDATE") != std::wstring::npos;
    FUZZ_CHECK(settings.debug_console == (command_line.find(L"-SHOWDEBUG") != std::wstring::npos ? 1 : 0));
    FUZZ_CHECK(settings.package_mode == (test_source ? 1 : 0));
    FUZZ_CHECK(settings.self_update == (test_source || no_update ? 0 : 1));

    const std::wstring* values[] = {&settings.file_list_url_override, &settings.url_root_replacement,
                                    &settings.url_root_original};
    for (const std::wstring* value : values) {
        FUZZ_CHECK(value->find(L'"') == std::wstring::npos);
        FUZZ_CHECK(value->empty() || command_line.find(L'"' + *value + L'"') != std::wstring::npos);
    }
    velm::UrlEndpoint endpoint;
    if (velm::SplitUrl(settings.file_list_url_override, &endpoint) == 1) {
        FUZZ_CHECK(!endpoint.host.empty());
        FUZZ_CHECK(endpoint.host.find_first_of(L":/") == std::wstring::npos);
        FUZZ_CHECK(endpoint.port != 0);
        FUZZ_CHECK(endpoint.path.empty() || endpoint.path[0] == L'/');
        FUZZ_CHECK(settings.file_list_url_override.find(endpoint.host) != std::wstring::npos);
        FUZZ_CHECK(settings.file_list_url_override.size() >= endpoint.path.size() &&
                   settings.file_list_url_override.compare(
                       settings.file_list_url_override.size() - endpoint.path.size(),
                       endpoint.path.size(), endpoint.path) == 0);
    }
    // The value of a switch given once, in any letter case, is what follows it in quotes.
    const std::wstring value = velm::GetSwitchValue(command_line, L"-filelisturl");
    FUZZ_CHECK(value == settings.file_list_url_override);

    velm::ProcessSettings marked;
    const int64_t marker = size >= 1 ? int64_t(int8_t(data[0])) : 0;
    velm::ApplyPackageMarker(marker, marked);
    FUZZ_CHECK(marked.package_marker == marker);
    FUZZ_CHECK((marked.package_mode == 1) == (marker > 0));
    FUZZ_CHECK((marked.self_update == 0) == (marker > 0));
    return 0;
}
