#include "ui/device_monitor.h"

#include <libudev.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

namespace kiren {

const QEvent::Type TRefreshPortsEvent::kType =
    static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + 1));

TDeviceMonitor::TDeviceMonitor(QObject* ATarget, const QString& AReadersDir)
    : QObject(ATarget), FTarget(ATarget) {
  FUdev = udev_new();
  if (FUdev)
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
  if (FMonitor && (udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "tty", nullptr) < 0 ||
                   udev_monitor_enable_receiving(FMonitor) < 0)) {
    udev_monitor_unref(FMonitor);
    FMonitor = nullptr;
  }
  if (FMonitor) {
    FNotifier = new QSocketNotifier(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TDeviceMonitor::UdevReadable);
  }
  if (!AReadersDir.isEmpty() && QDir().mkpath(AReadersDir)) {
    FWatcher = new QFileSystemWatcher(QStringList{AReadersDir}, this);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, &TDeviceMonitor::NotifyTarget);
  }
}

TDeviceMonitor::~TDeviceMonitor() {
  delete FNotifier;
  if (FMonitor)
    udev_monitor_unref(FMonitor);
  if (FUdev)
    udev_unref(FUdev);
}

void TDeviceMonitor::UdevReadable() {
  // Drain the event; what changed does not matter, the port list is rebuilt as a whole.
  if (udev_device* dev = udev_monitor_receive_device(FMonitor))
    udev_device_unref(dev);
  NotifyTarget();
}

void TDeviceMonitor::NotifyTarget() {
  QCoreApplication::postEvent(FTarget, new TRefreshPortsEvent(1));
}

}  // namespace kiren
