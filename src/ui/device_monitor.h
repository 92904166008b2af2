// Watches for serial devices coming and going: udev events of the tty subsystem and entries
// of the virtual readers' folder. Every change posts a refresh request to a target object.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace kiren {

// The window's private "refresh the port list" request. WParam 1 asks for a refresh; other
// values are ignored by the window.
class TRefreshPortsEvent : public QEvent {
 public:
  static const QEvent::Type kType;
  explicit TRefreshPortsEvent(int AWParam = 1) : QEvent(kType), WParam(AWParam) {}
  const int WParam;
};

class TDeviceMonitor : public QObject {
  Q_OBJECT

 public:
  // Posts TRefreshPortsEvent(1) to ATarget after each change. AReadersDir: the virtual
  // readers' folder to watch (created when missing); empty watches no folder.
  TDeviceMonitor(QObject* ATarget, const QString& AReadersDir);
  ~TDeviceMonitor() override;

  // True when the udev monitor is running (false where udev is not available).
  bool UdevActive() const { return FMonitor != nullptr; }

 private:
  void UdevReadable();
  void NotifyTarget();

  QObject* FTarget;
  udev* FUdev = nullptr;
  udev_monitor* FMonitor = nullptr;
  QSocketNotifier* FNotifier = nullptr;
  QFileSystemWatcher* FWatcher = nullptr;
};

}  // namespace kiren
