#include "script_file.h"

#include "paths.h"

#include "common/text.h"

#include <sstream>

namespace velm::publish {
namespace {

bool SplitLine(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos) return false;
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        }
        words.push_back(word);
    }
    return true;
}

}  // namespace

bool CheckScriptCommand(const ScriptCommand& command, std::string& error) {
    size_t needed;
    if (command.name == L"CREATE_SHORTCUT") {
        needed = 3;
    } else if (command.name == L"DELETE_FILE") {
        needed = 1;
    } else {
        error = "unknown command " + WideToUtf8(command.name);
        return false;
    }
    if (command.args.size() != needed) {
        error = WideToUtf8(command.name) + " takes " + std::to_string(needed) + " argument(s)";
        return false;
    }
    for (const std::wstring& arg : command.args) {
        if (arg.empty()) {
            error = WideToUtf8(command.name) + " with an empty argument";
            return false;
        }
    }
    return true;
}

bool ReadScriptFile(const std::filesystem::path& path, std::vector<ScriptCommand>& commands,
                    std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, bytes)) {
        error = "cannot read script file " + path.u8string();
        return false;
    }
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    commands.clear();
    for (int number = 1; std::getline(in, line); ++number) {
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        std::vector<std::string> words;
        if (!SplitLine(line, words)) {
            error = "script line " + std::to_string(number) + ": unterminated quote";
            return false;
        }
        if (words.empty() || words[0][0] == '#') continue;
        ScriptCommand command{Utf8ToWide(words[0]), {}};
        for (size_t i = 1; i < words.size(); ++i) command.args.push_back(Utf8ToWide(words[i]));
        if (!CheckScriptCommand(command, error)) {
            error = "script line " + std::to_string(number) + ": " + error;
            return false;
        }
        commands.push_back(command);
    }
    return true;
}

}  // namespace velm::publish
