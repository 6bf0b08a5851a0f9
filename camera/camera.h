// Public face of the camera subsystem: the camera records and enumerations,
// the per-camera parameter database, the camera classes (BaseCamera, the USB
// branch UvcCamera and the USB models, the network branch NetCamera and the
// network models), the model factory, the USB device listing, the device
// library's start-up and discovery list, and the capture thread
// (CameraPlayThread).
#pragma once

#include "base_camera.h"
#include "camera_database.h"
#include "camera_factory.h"
#include "camera_play_thread.h"
#include "camera_types.h"
#include "net_camera.h"
#include "net_devices.h"
#include "net_models.h"
#include "usb_devices.h"
#include "usb_models.h"
#include "uvc_camera.h"
