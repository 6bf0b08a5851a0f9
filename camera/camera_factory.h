// The model factory: turns the name of a chosen device into a camera object
// of its model's class. A USB camera is named by its device path, which
// carries the USB product id ("...&pid_e530#..."); a network camera by the
// model text the device reports (it contains "_IPC").
#pragma once

#include "base_camera.h"

#include <QSharedPointer>
#include <QString>

// The product id a USB device path carries ("pid_" and four hex digits, in
// either case) as four lower-case hex digits; empty when it carries none.
QString usbProductIdText(const QString &devicePath);

// A camera board switched into firmware-upgrade mode (product id 0x0480): it
// is listed but never opened by itself.
bool isUpgradeModeDevice(const QString &uniqueName);

// The camera object of the model that `name` names, or null for a name no
// model matches. USB models are matched by the product id of the path alone,
// so a bus address or vendor id that happens to hold a model's digits picks
// nothing. The object may be moved to another thread: whoever drops the last
// reference, it is destroyed on the thread it lives on.
QSharedPointer<BaseCamera> createCamera(const QString &name);

// The model text of a network camera: logs in with the open settings, asks
// the device for its model and logs out (also when it gave none). Empty when
// the login fails, the device does not say or the settings are not a network
// camera's. Blocks for up to two of the device library's waits (6000 ms
// each): never on the GUI thread (bringUpNetworkCamera runs it elsewhere).
QString getCameraModel(const CameraOpenSettings &settings);
