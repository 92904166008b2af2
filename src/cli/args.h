#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiren::cli {

// Wrong command line: the message is shown with a pointer to --help; exit status 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One option of a command: "--name VALUE" when Value is set, a flag otherwise.
struct TOptionSpec {
  const char* Name;
  const char* Value;  // placeholder shown in help, nullptr for a flag
  const char* Help;
};

struct TCommandSpec {
  const char* Name;
  bool NeedsPort;
  const char* Words;  // positional words after the command, as help shows them
  const char* Summary;
  std::vector<TOptionSpec> Options;
};

// The parsed command line.
struct TArgs {
  const TCommandSpec* Command = nullptr;  // nullptr: none given
  std::string Port;
  std::vector<std::string> Words;
  std::map<std::string, std::string> Options;
  bool Json = false;
  bool Help = false;
  bool Version = false;
  bool MaskKeys = false;  // --mask-keys: key bytes of load-key requests hidden in the debug log

  bool Has(const std::string& AName) const { return Options.count(AName) != 0; }
  std::string Get(const std::string& AName, const std::string& ADefault) const;
  // Whole number in [AMin, AMax]; ADefault when the option is absent.
  std::int64_t GetInt(const std::string& AName, std::int64_t AMin, std::int64_t AMax,
                      std::int64_t ADefault) const;
  // Like GetInt, but the option must be given.
  std::int64_t Require(const std::string& AName, std::int64_t AMin, std::int64_t AMax) const;
};

// "[--json] ports" or "[--json] PORT COMMAND [WORDS] [--OPTION [VALUE]]...": port and command
// come first; --json, --help, --version and --mask-keys are accepted anywhere; "--name=value" works
// too. Throws TUsageError for an unknown command or option and for a missing value.
TArgs ParseArgs(const std::vector<std::string>& AArgs, const std::vector<TCommandSpec>& ACommands);

}  // namespace kiren::cli
