#pragma once

#include "protocol/protocol.h"
#include "protocol/records.h"

namespace kiren {

// What the device worker shows; every call runs on the main thread while the worker waits.
class IDeviceView {
 public:
  virtual ~IDeviceView() = default;
  virtual void ShowDevInfo(const TDevInfo& ADevInfo, int AError) = 0;
  virtual void ShowConfigInfo(const TConfig& AConfig) = 0;
  virtual void ShowCardInfo(const TCardInfo& ACardInfo) = 0;
};

}  // namespace kiren
