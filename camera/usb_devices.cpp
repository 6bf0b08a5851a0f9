#include "usb_devices.h"

#include <QDebug>

#include <cstring>

void probeUsbCameras(cam_probe_buffer *buffer)
{
    if (!buffer)
        return;
    std::memset(buffer, 0, sizeof *buffer);
    cam_probe_devices(buffer);
}

bool refreshUsbCameraContext(cam_probe_buffer *buffer)
{
    if (!buffer)
        return false;
    std::memset(buffer, 0, sizeof *buffer);
    if (cam_free_context() == -1) {
        qDebug() << "cam_free_contex Failed!";
        return false;
    }
    return cam_get_context(buffer) >= 0;
}

void releaseUsbCameraContext()
{
    if (cam_free_context() == -1)
        qDebug() << "cam_free_contex Failed!";
}
