#include "camera_factory.h"

#include "net_models.h"
#include "net_request.h"
#include "trovix.h"
#include "usb_models.h"

#include <QDebug>

#include <QRegularExpression>
#include <QThread>

namespace {

// Destroys a camera on its own thread: the thread that owns it may still
// deliver queued calls to it, so it must not die under them from elsewhere.
// A thread that no longer runs delivers nothing, and a deferred delete that
// is still pending when the thread finishes runs as it finishes.
void releaseCamera(BaseCamera *camera)
{
    QThread *home = camera->thread();
    if (!home || home == QThread::currentThread() || !home->isRunning())
        delete camera;
    else
        camera->deleteLater();
}

template <typename Model>
BaseCamera *make()
{
    return new Model;
}

struct ModelEntry {
    const char *text;
    bool productId;  // matched against the USB product id, else anywhere in the name
    BaseCamera *(*make)();
};

// First hit wins. Network models go before the USB ones and are matched
// anywhere in the model text (case-sensitive).
const ModelEntry kModels[] = {
    {"W710_IPC", false, make<W710NetCamera>}, {"Y260_IPC", false, make<Y260NetCamera>},
    {"W620_IPC", false, make<W620NetCamera>}, {"W640_IPC", false, make<W640NetCamera>},
    {"E520_IPC", false, make<E520NetCamera>}, {"E530_IPC", false, make<E530NetCamera>},
    {"E540_IPC", false, make<E540NetCamera>},
    {"0610", true, make<W610UCamera>},  {"e170", true, make<E170Camera>},  {"0620", true, make<W620UCamera>},
    {"0710", true, make<W710UCamera>},  {"e150", true, make<E150Camera>},  {"0480", true, make<R480Camera>},
    {"e520", true, make<E520UCamera>},  {"e530", true, make<E530UCamera>}, {"e540", true, make<E540UCamera>},
    {"1370", true, make<V370Camera>},   {"1330", true, make<V330Camera>},  {"1350", true, make<V350Camera>},
    {"1390", true, make<V390Camera>},
};

} // namespace

QString usbProductIdText(const QString &devicePath)
{
    static const QRegularExpression pattern(QStringLiteral("pid_([0-9a-f]{4})(?![0-9a-f])"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(devicePath);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

bool isUpgradeModeDevice(const QString &uniqueName)
{
    return usbProductIdText(uniqueName) == QLatin1String("0480");
}

QSharedPointer<BaseCamera> createCamera(const QString &name)
{
    const QString productId = usbProductIdText(name);
    for (const ModelEntry &model : kModels) {
        const QLatin1String text(model.text);
        const bool hit = model.productId ? productId == text : name.contains(text);
        if (hit)
            return QSharedPointer<BaseCamera>(model.make(), releaseCamera);
    }
    return {};
}

QString getCameraModel(const CameraOpenSettings &settings)
{
    if (!settings.isNetwork)
        return QString();
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
