// Text commands of the virtual reader's console (kiren-sim reads them from stdin).
#pragma once

#include <string>

#include "sim/card_feed.h"
#include "sim/firmware.h"

namespace kiren::sim {

class TPtyHost;

class TConsole {
 public:
  // AHost may be null (no port to unplug).
  TConsole(TFirmware& AFirmware, TPtyHost* AHost)
      : FFirmware(AFirmware), FHost(AHost), FFeed(AFirmware) {}

  // Runs one command line and returns its reply (lines ending in "\n"; empty for a blank
  // line). AQuit becomes true for "quit" and "exit".
  std::string Execute(const std::string& ALine, bool& AQuit);

  static std::string Help();

 private:
  TFirmware& FFirmware;
  TPtyHost* FHost;
  TCardFeed FFeed;

  std::string PutPreset(const std::string& AName, const std::string& AUid);
  std::string Fault(const std::string& AArgs) const;
  std::string EmissionOrWriteFault(const std::string& AName, const std::string& AValue,
                                   TFaults& AFaults) const;
  std::string Emission(const std::string& AArgs);
  std::string Feed(const std::string& AArgs);
  std::string Pull(const std::string& AArg);
  std::string Show() const;
};

}  // namespace kiren::sim
