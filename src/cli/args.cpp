#include "cli/args.h"

#include <charconv>

namespace kiren::cli {

namespace {

std::int64_t ParseInt(const std::string& AName, const std::string& AText, std::int64_t AMin,
                      std::int64_t AMax) {
  std::int64_t value = 0;
  const char* end = AText.data() + AText.size();
  const auto [ptr, ec] = std::from_chars(AText.data(), end, value);
  if (AText.empty() || ec != std::errc() || ptr != end || value < AMin || value > AMax)
    throw TUsageError("--" + AName + ": ожидается целое число от " + std::to_string(AMin) + " до " +
                      std::to_string(AMax) + ", получено \"" + AText + "\"");
  return value;
}

const TCommandSpec* FindCommand(const std::string& AName,
                                const std::vector<TCommandSpec>& ACommands) {
  for (const auto& command : ACommands)
    if (AName == command.Name)
      return &command;
  throw TUsageError("неизвестная команда \"" + AName + "\"");
}

const TOptionSpec& FindOption(const std::string& AName, const TCommandSpec& ACommand) {
  for (const auto& option : ACommand.Options)
    if (AName == option.Name)
      return option;
  throw TUsageError(std::string("команда ") + ACommand.Name + " не знает параметра --" + AName);
}

bool IsOption(const std::string& AArg) {
  return AArg.size() > 2 && AArg.rfind("--", 0) == 0;
}

}  // namespace

std::string TArgs::Get(const std::string& AName, const std::string& ADefault) const {
  const auto it = Options.find(AName);
  return it == Options.end() ? ADefault : it->second;
}

std::int64_t TArgs::GetInt(const std::string& AName, std::int64_t AMin, std::int64_t AMax,
                           std::int64_t ADefault) const {
  const auto it = Options.find(AName);
  return it == Options.end() ? ADefault : ParseInt(AName, it->second, AMin, AMax);
}

std::int64_t TArgs::Require(const std::string& AName, std::int64_t AMin, std::int64_t AMax) const {
  if (!Has(AName))
    throw TUsageError("не задан параметр --" + AName);
  return GetInt(AName, AMin, AMax, 0);
}

TArgs ParseArgs(const std::vector<std::string>& AArgs, const std::vector<TCommandSpec>& ACommands) {
  TArgs args;
  std::vector<std::string> rest;
  for (const std::string& arg : AArgs) {
    if (arg == "--json")
      args.Json = true;
    else if (arg == "--help" || arg == "-h")
      args.Help = true;
    else if (arg == "--version")
      args.Version = true;
    else if (arg == "--mask-keys")
      args.MaskKeys = true;
    else
      rest.push_back(arg);
  }
  std::size_t pos = 0;
  if (pos < rest.size() && !IsOption(rest[pos])) {
    // A first word that names a command is that command (a missing port is reported later);
    // otherwise it is the port.
    const std::string first = rest[pos++];
    bool isCommand = false;
    for (const auto& command : ACommands)
      if (first == command.Name)
        isCommand = true;
    if (isCommand) {
      args.Command = FindCommand(first, ACommands);
    } else {
      args.Port = first;
      if (pos < rest.size() && !IsOption(rest[pos]))
        args.Command = FindCommand(rest[pos++], ACommands);
    }
  }
  if (args.Command == nullptr) {
    if (pos < rest.size() && !args.Help && !args.Version)
      throw TUsageError("не задана команда");
    return args;
  }
  for (; pos < rest.size(); ++pos) {
    const std::string& arg = rest[pos];
    if (!IsOption(arg)) {
      args.Words.push_back(arg);
      continue;
    }
    const auto eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const TOptionSpec& spec = FindOption(name, *args.Command);
    if (spec.Value == nullptr) {
      if (eq != std::string::npos)
        throw TUsageError("параметр --" + name + " не принимает значения");
      args.Options[name] = "1";
    } else if (eq != std::string::npos) {
      args.Options[name] = arg.substr(eq + 1);
    } else if (pos + 1 < rest.size()) {
      args.Options[name] = rest[++pos];
    } else {
      throw TUsageError("параметру --" + name + " нужно значение " + spec.Value);
    }
  }
  return args;
}

}  // namespace kiren::cli
