#pragma once
// The deployment configuration file (config/deployment.ini): "ID = text" lines giving the
// built-in configuration texts. The build turns it into resources (cmake/gen_rc.py);
// velm-retarget reads it to rewrite the texts of an already built executable.
#include <map>
#include <string>

namespace velm {

// Blanks around the text are dropped, "\n" gives a line feed and "\\" a backslash, and
// lines starting with ";" are comments. Returns false with a message naming the line
// for anything else, and for ids outside 1 to 65535.
bool ParseDeploymentConfig(const std::string& utf8_text, std::map<int, std::wstring>& texts,
                           std::wstring& error);

}  // namespace velm
