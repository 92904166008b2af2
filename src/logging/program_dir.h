#pragma once

#include <string>

namespace kiren {

// Folder of the running program file with a trailing '/', read from /proc/self/exe once.
// Falls back to the current working folder when that link cannot be read.
std::string ProgramDir();

// Replaces the program folder (tests, relocated installs); an empty value restores the
// folder of the running program file. A missing trailing '/' is added.
void SetProgramDir(const std::string& ADir);

}  // namespace kiren
