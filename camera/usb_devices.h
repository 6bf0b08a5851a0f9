// The main window's use of the USB control layer: listing attached cameras
// and taking or releasing the control context.
#pragma once

#include "control.h"

// Zeroes `buffer` and lets the control layer fill it with the attached cameras.
void probeUsbCameras(cam_probe_buffer *buffer);
// Releases the current control context and takes a new one into `buffer`
// (zeroed first). When the release fails the log says "cam_free_contex Failed!"
// and no new context is taken; false then.
bool refreshUsbCameraContext(cam_probe_buffer *buffer);
// At shut-down: releases the control context (logged when that fails).
void releaseUsbCameraContext();
