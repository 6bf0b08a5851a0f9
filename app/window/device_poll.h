// Device polling: the list of cameras the settings panel offers, built every
// two seconds away from the GUI thread.
#pragma once

#include "camera_types.h"
#include "control.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Unique name (USB device path or network address) -> (type, display name).
using DeviceMap = QMap<QString, QPair<CameraType, QString>>;

// The cameras of one poll: USB devices whose name holds "UVC" or "FX3",
// named "VoCam_" and a running number from 1 in probe order, then the network
// cameras named by their address (an address equal to a USB path replaces
// it). The probe's count is taken as 0 to 8 and its texts end at their zero
// byte or at the end of their field, whatever the buffer holds.
DeviceMap buildDeviceMap(const cam_probe_buffer &probe, const QStringList &networkAddresses);

// Lives on a thread of its own: probing the USB cameras and asking the device
// library for the network cameras it has found may each take a while.
class DevicePoller : public QObject
{
    Q_OBJECT
public:
    // The addresses of the network cameras found so far.
    using NetworkLister = std::function<QStringList()>;

    explicit DevicePoller(NetworkLister networkLister = {}, QObject *parent = nullptr);

public slots:
    void poll();

signals:
    void polled(DeviceMap devices);

private:
    NetworkLister networkLister_;
};

void registerDeviceMapMetaType();
