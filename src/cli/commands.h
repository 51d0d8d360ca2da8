// The sub-commands of quelvista-cli. Each returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace qvcli {

using Args = std::vector<std::string>;

int CmdHeader(const Args& args);
int CmdProcess(const Args& args);
int CmdSimulate(const Args& args);
int CmdProject(const Args& args);
int CmdSettings(const Args& args);
int CmdStack(const Args& args);

// True for a project file name (extension "txt").
bool FileKindIsProject(const std::string& path);

// A one-line message on stderr, prefixed with the program name.
void Complain(const std::string& message);

}  // namespace qvcli
