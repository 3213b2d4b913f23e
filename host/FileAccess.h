// The host's plain reads of the file system, its file writes going through
// InstallFiles and the platform's call table.
#pragma once

#include <string>

namespace tv::host {

// The folder of a path: "/" for an item at the root, "" for a bare name.
std::string Dirname(const std::string &path);
// The whole file; false with *error ("PATH: why").
bool ReadFile(const std::string &path, std::string *content, std::string *error);
// Whether anything (a dangling link too) is at path.
bool Exists(const std::string &path);
// realpath(3), or empty.
std::string Realpath(const std::string &path);

}  // namespace tv::host
