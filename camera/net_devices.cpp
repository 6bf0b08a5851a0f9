#include "net_devices.h"

#include "net_camera.h"
#include "net_models.h"
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

QString probeNetworkCameraModel(const CameraOpenSettings &settings)
{
    const QByteArray login = netrequest::loginText(settings.network);
    int id = 0;
    if (login.isEmpty() || trovix_login(&id, login.constData()) != TROVIX_OK || id == 0)
        return QString();
    qDebug().nospace() << "getCameraModel. Login id: " << id;
    const QString cmd = QStringLiteral("system");
    const NetReply reply = netrequest::send(id, netrequest::commandText(cmd), cmd);
    QString model;
    if (reply.ok())
        netrequest::readString(reply.body, {"model"}, model);
    qDebug().nospace().noquote() << "getCameraModel:" << model;
    // Logged out whatever the answer: the probe's login is not kept.
    if (trovix_logout(id) == TROVIX_OK)
        qDebug().nospace() << "getCameraModel. Logout. id: " << id;
    return model;
}

namespace {

// Destroys a camera on its own thread: the thread that owns it may still
// deliver queued calls to it.
void releaseNetworkCamera(BaseCamera *camera)
{
    QThread *home = camera->thread();
    if (!home || home == QThread::currentThread() || !home->isRunning())
        delete camera;
    else
        camera->deleteLater();
}

// Carries the result of a bring-up to the caller's thread. The connection to
// the caller's context ends with the context, so nothing is delivered to a
// caller that is gone.
class BringUpRelay : public QObject
{
    Q_OBJECT
signals:
    void finished(QSharedPointer<BaseCamera> camera);
};

} // namespace

void bringUpNetworkCamera(QThread *thread, const CameraOpenSettings &settings, QObject *context,
                          std::function<void(QSharedPointer<BaseCamera>)> done)
{
    qRegisterMetaType<QSharedPointer<BaseCamera>>("QSharedPointer<BaseCamera>");
    auto *relay = new BringUpRelay;
    QObject::connect(relay, &BringUpRelay::finished, context,
                     [done](QSharedPointer<BaseCamera> camera) { done(camera); }, Qt::QueuedConnection);
    relay->moveToThread(thread);
    QMetaObject::invokeMethod(
        relay,
        [relay, settings] {
            QSharedPointer<BaseCamera> camera;
            const QString model = probeNetworkCameraModel(settings);
            if (BaseCamera *made = makeNetworkCamera(model))
                camera = QSharedPointer<BaseCamera>(made, releaseNetworkCamera);
            if (camera) {
                camera->setOpenSettings(settings);
                if (!camera->login(settings))
                    camera.reset();
            }
            emit relay->finished(camera);
            relay->deleteLater();
        },
        Qt::QueuedConnection);
}

#include "net_devices.moc"
