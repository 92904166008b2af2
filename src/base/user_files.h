// Where the program keeps its own files (settings.ini, journal.sqlite3).
#pragma once

#include <string>

namespace kiren {

// The user's folder family used when the program folder cannot be written.
enum class TUserFolder {
  Config,  // $XDG_CONFIG_HOME, or ~/.config
  Data,    // $XDG_DATA_HOME, or ~/.local/share
};

// True when ADir is an existing folder this process may create files in.
bool IsWritableDir(const std::string& ADir);

// The user's base folder of the given family: AUserHome when not empty, else the XDG variable
// when it holds an absolute path, else the default under $HOME.
std::string UserBaseDir(TUserFolder AFolder, const std::string& AUserHome = {});

// Path of a program file: beside the program when AProgramDir is a writable folder, otherwise
// in <user base folder>/kiren/. The folder is not created here.
std::string ProgramFilePath(const std::string& AProgramDir, const std::string& AFileName,
                            TUserFolder AFolder, const std::string& AUserHome = {});

}  // namespace kiren
