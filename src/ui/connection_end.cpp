#include "ui/connection_end.h"

#include "protocol/protocol.h"

namespace kiren {

namespace {

std::string HoldersText(const std::vector<TPortHolder>& AHolders) {
  std::string Text;
  for (const TPortHolder& H : AHolders) {
    if (!Text.empty())
      Text += ", ";
    Text += (H.Name.empty() ? std::string("?") : H.Name) + " (PID " + std::to_string(H.Pid) + ")";
  }
  return Text;
}

}  // namespace

std::string ConnectionEndText(const TConnectionEnd& AEnd) {
  const std::string Port = "Порт " + AEnd.Port;
  switch (AEnd.Reason) {
    case TEndReason::Requested:
      return {};
    case TEndReason::PortBusy:
      if (AEnd.Holders.empty())
        return Port + " занят другой программой";
      return Port + (AEnd.Holders.size() == 1 ? " занят программой " : " заняли программы ") +
             HoldersText(AEnd.Holders);
    case TEndReason::PortNotFound:
      return Port + " не найден";
    case TEndReason::PortFailed:
      return Port + " не открывается: " + AEnd.PortError;
    case TEndReason::DeviceGone:
      return "Считыватель отключён (" + Port + ")";
    case TEndReason::NoVersion:
      if (AEnd.VersionError == kResTimeout)
        return "Считыватель не ответил на запрос версии (" + Port + ")";
      return "Запрос версии не выполнен, ошибка " + std::to_string(AEnd.VersionError) + " (" +
             Port + ")";
    case TEndReason::Failure:
      break;
  }
  return "Связь со считывателем прервана из-за ошибки (" + Port + ")";
}

}  // namespace kiren
