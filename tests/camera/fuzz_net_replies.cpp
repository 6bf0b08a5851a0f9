// Fuzz target of what network cameras and the device library's discovery
// hand the program: a reply text judged for a command and read member by
// member, and a discovery list.
#include "net_request.h"

#include <cstddef>
#include <cstdint>

// The fuzz target links no device library: nothing is sent.
extern "C" int trovix_request(int, const char *, char **reply)
{
    *reply = nullptr;
    return 1;
}
extern "C" void trovix_free(void *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    for (const DiscoveredCamera &camera : parseDiscoveredCameras(text)) {
        if (!netrequest::isPlainIpv4(camera.address) || camera.port < 0 || camera.port > 65535)
            __builtin_trap();
    }
    const NetReply reply = netrequest::evaluate(size % 3 == 0 ? 0 : int(size % 7), text.constData(), "get_image");
    int number = 0;
    double real = 0;
    bool flag = false;
    QString word;
    netrequest::readInt(reply.body, {"range", "ezoom_value", "max"}, number);
    netrequest::readInt(reply.body, {"focus_value"}, number);
    netrequest::readDouble(reply.body, {"percentage"}, real);
    netrequest::readBool(reply.body, {"roi"}, flag);
    netrequest::readString(reply.message, {"system", "model"}, word);
    return 0;
}
