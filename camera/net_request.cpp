#include "net_request.h"

#include "trovix.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QStringList>

#include <cmath>
#include <limits>

CameraOpenSettings networkOpenSettings(const QString &address)
{
    CameraOpenSettings settings;
    settings.network.address = address;
    settings.network.user = NetCameraCredentials::user;
    settings.network.password = NetCameraCredentials::password;
    settings.network.port = NetCameraCredentials::port;
    settings.isNetwork = true;
    return settings;
}

namespace netrequest {

QByteArray commandText(const QString &cmd, const QJsonObject &args)
{
    QJsonObject request{{QStringLiteral("cmd"), cmd}};
    if (!args.isEmpty())
        request.insert(cmd, args);
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

QByteArray loginText(const NetworkOpenSettings &settings)
{
    bool ok = false;
    const int port = settings.port.trimmed().toInt(&ok, 10);
    if (!ok || port < 1 || port > 65535)
        return QByteArray();
    const QJsonObject login{{QStringLiteral("username"), settings.user}, {QStringLiteral("passwd"), settings.password}};
    const QJsonObject request{{QStringLiteral("ip"), settings.address},
                              {QStringLiteral("port"), port},
                              {QStringLiteral("cmd"), QStringLiteral("login")},
                              {QStringLiteral("login"), login}};
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

namespace {

// A "code" member that is there and is not 0 (a number, or a text holding
// one). A code that reads as no whole number (a word, true, null, an object,
// 0.5) is no acceptance either: it refuses with -1.
bool refusedCode(const QJsonObject &object, int &code)
{
    const QJsonValue value = object.value(QStringLiteral("code"));
    if (value.isUndefined())
        return false;
    bool readable = false;
    double number = 0;
    if (value.isDouble()) {
        number = value.toDouble();
        readable = std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e9;
    } else if (value.isString()) {
        number = value.toString().toInt(&readable);
    }
    if (readable && number == 0.0)
        return false;
    code = readable ? int(number) : -1;
    return true;
}

bool walk(const QJsonObject &object, std::initializer_list<const char *> path, QJsonValue &out)
{
    QJsonValue value(object);
    for (const char *name : path) {
        if (!value.isObject())
            return false;
        value = value.toObject().value(QLatin1String(name));
    }
    if (value.isUndefined() || value.isNull())
        return false;
    out = value;
    return true;
}

} // namespace

NetReply evaluate(int result, const char *text, const QString &cmd)
{
    NetReply reply;
    reply.code = result;
    QJsonObject body;
    if (text) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
        if (error.error == QJsonParseError::NoError && document.isObject()) {
            reply.message = document.object();
            body = reply.message.value(cmd).toObject();
        } else if (result == TROVIX_OK) {
            return reply;  // an answer that can't be read counts as none
        }
    }
    if (result == TROVIX_TIMEOUT) {
        reply.status = NetReply::TimedOut;
        return reply;
    }
    if (result != TROVIX_OK) {
        // Codes a device sends pass through the library; 1 means no answer.
        reply.status = result == TROVIX_FAILED ? NetReply::Failed : NetReply::Refused;
        return reply;
    }
    if (!text)
        return reply;
    int code = 0;
    if (refusedCode(reply.message, code) || refusedCode(body, code)) {
        reply.status = NetReply::Refused;
        reply.code = code;
        return reply;
    }
    // Only what the device accepted is read as its settings.
    reply.status = NetReply::Accepted;
    reply.code = 0;
    reply.body = body;
    return reply;
}

NetReply send(int loginId, const QByteArray &text, const QString &cmd)
{
    char *replyText = nullptr;
    const int result = trovix_request(loginId, text.constData(), &replyText);
    const NetReply reply = evaluate(result, replyText, cmd);
    trovix_free(replyText);
    return reply;
}

bool readInt(const QJsonObject &object, std::initializer_list<const char *> path, int &out)
{
    QJsonValue value;
    if (!walk(object, path, value) || !value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return false;
    out = int(number);
    return true;
}

bool readDouble(const QJsonObject &object, std::initializer_list<const char *> path, double &out)
{
    QJsonValue value;
    if (!walk(object, path, value) || !value.isDouble() || !std::isfinite(value.toDouble()))
        return false;
    out = value.toDouble();
    return true;
}

bool readBool(const QJsonObject &object, std::initializer_list<const char *> path, bool &out)
{
    QJsonValue value;
    if (!walk(object, path, value) || !value.isBool())
        return false;
    out = value.toBool();
    return true;
}

bool readString(const QJsonObject &object, std::initializer_list<const char *> path, QString &out)
{
    QJsonValue value;
    if (!walk(object, path, value) || !value.isString())
        return false;
    out = value.toString();
    return true;
}

bool isPlainIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

} // namespace netrequest

namespace {

// An address a camera can be reached at: not "this network" (0.x.x.x), not
// multicast, reserved or broadcast (224 and above).
bool isUnicastAddress(const QString &address)
{
    if (!netrequest::isPlainIpv4(address))
        return false;
    const int first = address.section(QLatin1Char('.'), 0, 0).toInt();
    return first != 0 && first < 224;
}

} // namespace

QList<DiscoveredCamera> parseDiscoveredCameras(const QByteArray &text)
{
    QList<DiscoveredCamera> cameras;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    QSet<QString> seen;
    for (const QJsonValue &entry : document.array()) {
        const QJsonObject device = entry.toObject();
        DiscoveredCamera camera;
        if (!netrequest::readString(device, {"ip"}, camera.address) || !isUnicastAddress(camera.address)
            || seen.contains(camera.address))
            continue;
        seen.insert(camera.address);
        netrequest::readString(device, {"sn"}, camera.serial);
        netrequest::readString(device, {"discover", "model"}, camera.model);
        int port = 0;
        if (netrequest::readInt(device, {"discover", "port"}, port) && port > 0 && port <= 65535)
            camera.port = port;
        cameras << camera;
    }
    return cameras;
}

