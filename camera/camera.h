// Public face of the camera subsystem: the camera records and enumerations,
// the per-camera parameter database, the camera classes (BaseCamera, the USB
// branch UvcCamera and the USB models), the model factory, the USB device
// listing and the capture thread (CameraPlayThread).
#pragma once

#include "base_camera.h"
#include "camera_database.h"
#include "camera_factory.h"
#include "camera_play_thread.h"
#include "camera_types.h"
#include "usb_devices.h"
#include "usb_models.h"
#include "uvc_camera.h"
