// What the window says when a connection ends without the operator closing it.
#pragma once

#include <string>
#include <vector>

#include "serial/dev_ports.h"
#include "worker/th.h"

namespace kiren {

struct TConnectionEnd {
  TEndReason Reason = TEndReason::Requested;
  std::string Port;                  // the port name as the operator chose it
  std::string PortError;             // the port's error text (TTh::PortErrorStr)
  int VersionError = 0;              // result of the version query, for NoVersion
  std::vector<TPortHolder> Holders;  // the programs holding a busy port, when known
};

// One line for the status bar; empty for a close the operator asked for.
std::string ConnectionEndText(const TConnectionEnd& AEnd);

}  // namespace kiren
