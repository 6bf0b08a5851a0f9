#include "net_devices.h"

#include "camera_factory.h"
#include "net_camera.h"
#include "trovix.h"

#include <QDebug>
#include <QThread>

void startDeviceSdk()
{
    const int init = trovix_init("");
    const int open = trovix_discover_open("");
    const int run = trovix_discover_run(1);
    qDebug().nospace() << "Device library started: " << init << ", discovery " << open << ", " << run;
}

void shutdownDeviceSdk()
{
    trovix_discover_run(0);
    trovix_discover_close();
    trovix_quit();
}

QList<DiscoveredCamera> discoveredNetworkCameras()
{
    char *text = nullptr;
    trovix_discover_get_devs(&text);
    const QByteArray list(text);
    trovix_free(text);
    return parseDiscoveredCameras(list);
}

QStringList discoverNetworkCameras()
{
    QStringList addresses;
    for (const DiscoveredCamera &camera : discoveredNetworkCameras())
        addresses << camera.address;
    return addresses;
}

namespace {

// Carries the result of a bring-up to the caller's thread. The connection to
// the caller's context ends with the context, so nothing is delivered to a
// caller that is gone.
class BringUpRelay : public QObject
{
    Q_OBJECT
signals:
    void finished(QSharedPointer<BaseCamera> camera, int reason);
};

} // namespace

void bringUpNetworkCamera(QThread *thread, const CameraOpenSettings &settings, QObject *context,
                          std::function<void(QSharedPointer<BaseCamera>, CameraCloseReason)> done)
{
    qRegisterMetaType<QSharedPointer<BaseCamera>>("QSharedPointer<BaseCamera>");
    auto *relay = new BringUpRelay;
    QObject::connect(
        relay, &BringUpRelay::finished, context,
        [done](QSharedPointer<BaseCamera> camera, int reason) { done(camera, CameraCloseReason(reason)); },
        Qt::QueuedConnection);
    relay->moveToThread(thread);
    QMetaObject::invokeMethod(
        relay,
        [relay, settings] {
            // No model text means the device did not answer: the camera could
            // not be opened. A model no network class knows is unsupported.
            const QString model = getCameraModel(settings);
            QSharedPointer<BaseCamera> camera = model.isEmpty() ? nullptr : createCamera(model);
            // A device's model text names a network model, whatever else it holds.
            if (!qobject_cast<NetCamera *>(camera.data()))
                camera.reset();
            CameraCloseReason reason = model.isEmpty() ? CloseOpenFailed : CloseUnsupportedModel;
            if (camera) {
                camera->setOpenSettings(settings);
                if (!camera->login(settings)) {
                    camera.reset();
                    reason = CloseOpenFailed;
                }
            }
            emit relay->finished(camera, reason);
            relay->deleteLater();
        },
        Qt::QueuedConnection);
}

#include "net_devices.moc"
