// The program's use of the network device library around the cameras:
// starting and stopping it with its broadcast discovery, the list of network
// cameras discovery has found, and the bring-up of a network camera away from
// the GUI thread.
#pragma once

#include "base_camera.h"
#include "net_request.h"

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QThread;

// Starts the library and its discovery (asking on every interface); the
// results are only logged. Once, at start-up.
void startDeviceSdk();
// Stops discovery and the library; at shut-down, after every network camera
// is closed.
void shutdownDeviceSdk();

// The network cameras discovery has found so far, in its order.
QList<DiscoveredCamera> discoveredNetworkCameras();
// Their addresses: the unique names of network cameras in the device list
// (the device polling enters each as a network camera named by its address).
QStringList discoverNetworkCameras();

// Brings the network camera of `settings` up on `thread` (which runs an
// event loop): asks for its model, creates the model's camera there, so that
// it lives on that thread (getCameraModel and createCamera of the model
// factory), hands it the open settings and logs it in. Returns
// at once; `done` runs on `context`'s thread with the camera, or with null
// and why: CloseOpenFailed when the device did not answer or refused the
// login, CloseUnsupportedModel when no network model fits its model text.
// Nothing runs when `context` is gone.
void bringUpNetworkCamera(QThread *thread, const CameraOpenSettings &settings, QObject *context,
                          std::function<void(QSharedPointer<BaseCamera>, CameraCloseReason)> done);
