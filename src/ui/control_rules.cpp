#include "ui/control_rules.h"

namespace kiren {

TServiceFlags ServiceRules(const TControlState& AState, bool AConnected) {
  TServiceFlags f;
  f.SetModeEnabled = AConnected && AState.VerMajor >= 4;
  f.ReadConfigEnabled = AConnected;
  f.EmissionPriorEnabled = AConnected;
  f.IssueTabVisible = (AConnected && AState.ServiceGate) || AState.IssueTabVisible;
  f.EmissionTabVisible = !f.IssueTabVisible;
  if (f.IssueTabVisible)
    f.ClearCardEnabled = AConnected && AState.CardIsHere && AState.VerMajor > 2;
  return f;
}

TControlFlags ControlRules(const TControlState& AState, bool APortClosed) {
  TControlFlags f;
  f.PortEnabled = APortClosed;
  f.OpenCaption = APortClosed ? kOpenCaption : kCloseCaption;
  f.WritePercoSttEnabled = !APortClosed;
  f.EmitCardEnabled = !APortClosed && AState.CardIsHere;
  f.UseWiegandEnabled = !APortClosed && AState.VerMajor >= 4;
  f.ReadBlockTabVisible = AState.ServiceGate;
  f.Service = ServiceRules(AState, AState.WorkerExists);
  return f;
}

std::string ModeMenuCaption(int AModeTag) {
  return AModeTag == 1 ? kModeOffCaption : kModeOnCaption;
}

unsigned char NextModeValue(int ATag) {
  return static_cast<unsigned char>((1 - ATag) & 0xFF);
}

}  // namespace kiren
