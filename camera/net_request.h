// Request texts to network cameras, what their replies say, and the device
// library's list of discovered cameras. Every text is
// built as a JSON object (escaped, never cut short) and every reply is judged
// before anything is read from it: the library's result, the text being a
// JSON object, and the device's own "code" at the top and inside the object
// named like the command (absent or 0 accepts; anything else refuses).
#pragma once

#include "camera_types.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <initializer_list>

// The one set of credentials the network cameras take from this program, and
// the port they are reached on. The user and password also key the session
// ("qqssid", "qqauth") of the library-level upgrade request.
namespace NetCameraCredentials {
inline const QString user = QStringLiteral("admin");
inline const QString password = QStringLiteral("730418");
inline const QString port = QStringLiteral("80");
} // namespace NetCameraCredentials

// Open settings of the network camera at `address` with the credentials and
// port above and the network flag set.
CameraOpenSettings networkOpenSettings(const QString &address);

struct NetReply {
    enum Status {
        Accepted,  // answered with code 0
        Refused,   // the library or the device answered with a non-zero code
        TimedOut,  // no answer within the library's wait
        Failed,    // no usable answer (library down, connection gone, not JSON)
    };
    Status status = Failed;
    int code = 1;          // the library's result, or the device's own code when it refused
    QJsonObject message;   // the whole reply
    QJsonObject body;      // the object named like the command; empty when missing or not accepted

    bool ok() const { return status == Accepted; }
    // Tells the device was not reached at all, so later requests need not try.
    bool unreachable() const { return status == TimedOut || (status == Failed && code != 0); }
};

namespace netrequest {

// {"cmd":cmd} with the object `args` under the member named `cmd` when it is
// not empty.
QByteArray commandText(const QString &cmd, const QJsonObject &args = {});
// The login text {"ip", "port", "cmd":"login", "login":{"username", "passwd"}};
// empty when the port text is not a port number (1..65535).
QByteArray loginText(const NetworkOpenSettings &settings);

// Judges the library's result and reply text of the command `cmd`.
NetReply evaluate(int result, const char *text, const QString &cmd);
// Sends `text` for login `loginId` (0: a library-level command) and judges
// the reply. Blocks the calling thread until the reply or the library's
// time-out (6000 ms).
NetReply send(int loginId, const QByteArray &text, const QString &cmd);

// Members of a reply object along a path of names. Each is true only when
// the member is there with that JSON type (a number must be whole and fit an
// int for readInt).
bool readInt(const QJsonObject &object, std::initializer_list<const char *> path, int &out);
bool readDouble(const QJsonObject &object, std::initializer_list<const char *> path, double &out);
bool readBool(const QJsonObject &object, std::initializer_list<const char *> path, bool &out);
bool readString(const QJsonObject &object, std::initializer_list<const char *> path, QString &out);

// A dotted IPv4 address in its plain form (four decimal parts 0..255 without
// leading zeros), such as a device or the user gives.
bool isPlainIpv4(const QString &text);

} // namespace netrequest

struct DiscoveredCamera {
    QString address;  // dotted IPv4; the camera's unique name in the device list
    int port = 0;     // the port it answers on (0: not said)
    QString serial;
    QString model;
};

// The cameras in a discovery list text (a JSON array of objects with "ip",
// "sn" and "discover": {"model", "port"}). Entries without a plain unicast
// IPv4 address are left out, and an address listed twice counts once.
QList<DiscoveredCamera> parseDiscoveredCameras(const QByteArray &text);
