#include "app/deployment_config.h"

#include "common/text.h"

namespace velm {
namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::string Unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 'n' || value[i + 1] == '\\')) {
            out.push_back(value[i + 1] == 'n' ? '\n' : '\\');
            ++i;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

}  // namespace

bool ParseDeploymentConfig(const std::string& utf8_text, std::map<int, std::wstring>& texts,
                           std::wstring& error) {
    std::string text = utf8_text;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    size_t start = 0;
    for (int line_number = 1; start <= text.size(); ++line_number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        size_t equals = line.find('=');
        std::string key = Trim(line.substr(0, equals == std::string::npos ? 0 : equals));
        bool numeric = !key.empty() && key.size() <= 5 &&
                       key.find_first_not_of("0123456789") == std::string::npos;
        int id = numeric ? std::stoi(key) : 0;
        if (equals == std::string::npos || id < 1 || id > 65535) {
            error = FormatText(L"line %d: expected \"ID = text\" with an id from 1 to 65535", line_number);
            return false;
        }
        texts[id] = Utf8ToWide(Unescape(Trim(line.substr(equals + 1))));
    }
    return true;
}

}  // namespace velm
