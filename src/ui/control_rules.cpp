#include "ui/control_rules.h"

#include "operator/reader.h"

namespace kiren {

TServiceFlags ServiceRules(const TControlState& AState, bool AConnected) {
  TServiceFlags f;
  const op::TCapabilities caps = op::Capabilities(AState.VerMajor);
  f.SetModeEnabled = AConnected && caps.ModeSwitch;
  f.ReadConfigEnabled = AConnected;
  f.EmissionPriorEnabled = AConnected;
  f.IssueTabVisible = (AConnected && AState.ServiceGate) || AState.IssueTabVisible;
  f.EmissionTabVisible = !f.IssueTabVisible;
  if (f.IssueTabVisible)
    f.ClearCardEnabled = AConnected && AState.CardIsHere && caps.ServiceCommands;
  return f;
}

TControlFlags ControlRules(const TControlState& AState, bool APortClosed) {
  TControlFlags f;
  f.PortEnabled = APortClosed;
  f.OpenCaption = APortClosed ? kOpenCaption : kCloseCaption;
  f.WritePercoSttEnabled = !APortClosed;
  f.EmitCardEnabled = !APortClosed && AState.CardIsHere;
  f.UseWiegandEnabled = !APortClosed && op::Capabilities(AState.VerMajor).ReadMethod;
  f.ReadBlockTabVisible = AState.ServiceGate;
  f.Service = ServiceRules(AState, AState.WorkerExists);
  return f;
}

std::string ModeMenuCaption(int AModeTag) {
  return AModeTag == 1 ? kModeOffCaption : kModeOnCaption;
}

}  // namespace kiren
