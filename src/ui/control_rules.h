// Enabling and visibility rules of the main window, as pure functions of the window's state.
// The window applies their results in UpdateControls / UpdateServiceControls / UpdateModeMenu
// and nowhere else.
#pragma once

#include <optional>
#include <string>

namespace kiren {

inline const std::string kOpenCaption = "Открыть";
inline const std::string kCloseCaption = "Закрыть";
inline const std::string kModeOnCaption = "Включить универсальный режим";
inline const std::string kModeOffCaption = "Отключить универсальный режим";

// What the rules look at.
struct TControlState {
  bool WorkerExists = false;     // a connection is open (or closing)
  bool CardIsHere = false;       // a card is in the reader's field
  int VerMajor = 0;              // major version of the last reader seen
  bool ServiceGate = false;      // IsKiren
  bool IssueTabVisible = false;  // tsIssue is shown already (it is never hidden again)
};

// UpdateServiceControls(AConnected).
struct TServiceFlags {
  bool SetModeEnabled = false;  // miSetMode and miCheckMode
  bool ReadConfigEnabled = false;
  bool EmissionPriorEnabled = false;  // pmiSetEmissionPrior and pmiCheckEmissionPrior
  bool IssueTabVisible = false;
  bool EmissionTabVisible = false;
  // Set only while the issue tab is visible; otherwise both controls keep their states.
  std::optional<bool> ClearCardEnabled;  // miClearCard and btnIssue
};

// UpdateControls(APortClosed).
struct TControlFlags {
  bool PortEnabled = false;
  std::string OpenCaption;
  bool WritePercoSttEnabled = false;
  bool EmitCardEnabled = false;  // bEmitCard and btnReadBlock
  bool UseWiegandEnabled = false;
  bool ReadBlockTabVisible = false;
  TServiceFlags Service;  // applied with AConnected = WorkerExists
};

TServiceFlags ServiceRules(const TControlState& AState, bool AConnected);
TControlFlags ControlRules(const TControlState& AState, bool APortClosed);

// Caption of miSetMode for its tag: only 1 means the mode is on.
std::string ModeMenuCaption(int AModeTag);

}  // namespace kiren
