#include "device_poll.h"

#include "usb_devices.h"

#include <QMetaType>

#include <cstring>

namespace {

// The text of a fixed-size field: up to its first zero byte, never past its end.
QString fieldText(const char *field, size_t size)
{
    const void *end = std::memchr(field, 0, size);
    const size_t length = end ? size_t(static_cast<const char *>(end) - field) : size;
    return QString::fromLocal8Bit(field, int(length));
}

} // namespace

DeviceMap buildDeviceMap(const cam_probe_buffer &probe, const QStringList &networkAddresses)
{
    DeviceMap devices;
    const int count = qBound(0, int(probe.count), int(CAM_MAX_DEVICES));
    int number = 0;
    for (int i = 0; i < count; ++i) {
        const cam_device_record &record = probe.devices[i];
        const QString name = fieldText(record.name, sizeof record.name);
        if (!name.contains(QLatin1String("UVC")) && !name.contains(QLatin1String("FX3")))
            continue;
        const QString path = fieldText(record.path, sizeof record.path);
        devices.insert(path, {CameraUsb, QStringLiteral("VoCam_%1").arg(++number)});
    }
    for (const QString &address : networkAddresses)
        devices.insert(address, {CameraNetwork, address});
    return devices;
}

DevicePoller::DevicePoller(NetworkLister networkLister, QObject *parent)
    : QObject(parent), networkLister_(std::move(networkLister))
{
    registerDeviceMapMetaType();
}

void DevicePoller::poll()
{
    cam_probe_buffer probe;
    probeUsbCameras(&probe);
    const QStringList network = networkLister_ ? networkLister_() : QStringList();
    emit polled(buildDeviceMap(probe, network));
}

void registerDeviceMapMetaType()
{
    // By the name signals spell it out with, and by its short name.
    qRegisterMetaType<DeviceMap>(QMetaObject::normalizedType("QMap<QString, QPair<CameraType, QString>>"));
    qRegisterMetaType<DeviceMap>("DeviceMap");
}
