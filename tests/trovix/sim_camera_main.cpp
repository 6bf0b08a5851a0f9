// vorenta_sim_camera: one simulated network camera as a program of its own,
// for a private network namespace (scripts/run starts one beside the program
// with the virtual camera). It answers discovery by broadcast, so it refuses
// to run where an interface could carry its datagrams beyond the namespace.
#include "sim_camera.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: vorenta_sim_camera [--port N] [--address A] [--model TEXT] [--sn TEXT]\n"
                 "                          [--discovery-port N]\n"
                 "A simulated network camera for a private network namespace (loopback plus\n"
                 "dummy or veth interfaces only). Defaults: port 80 on every address of the\n"
                 "namespace, model E530_IPC, serial number SIM-0001, discovery port 57975.\n"
                 "Prints the port it listens on, then serves until SIGINT or SIGTERM.\n");
}

bool parsePort(const char *text, uint16_t *port)
{
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!end || *end || value < 0 || value > 65535)
        return false;
    *port = uint16_t(value);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    uint16_t port = 80, discoveryPort = 57975;
    std::string address = "0.0.0.0", model = "E530_IPC", sn = "SIM-0001";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        bool ok = value != nullptr;
        if (ok && arg == "--port")
            ok = parsePort(value, &port);
        else if (ok && arg == "--discovery-port")
            ok = parsePort(value, &discoveryPort);
        else if (ok && arg == "--address")
            address = value;
        else if (ok && arg == "--model")
            model = value;
        else if (ok && arg == "--sn")
            sn = value;
        else
            ok = false;
        if (!ok) {
            usage(stderr);
            return 2;
        }
        ++i;
    }

    std::string why;
    if (!simcam::networkIsPrivate(&why)) {
        std::fprintf(stderr, "vorenta_sim_camera: refusing to start: %s. Run it inside a private network "
                             "namespace (scripts/isolated).\n", why.c_str());
        return 3;
    }

    av_log_set_level(AV_LOG_ERROR); // the encoder's statistics are not news
    simcam::SimCamera camera;
    camera.setModel(model);
    const uint16_t listening = camera.start(port, address);
    if (!listening) {
        std::fprintf(stderr, "vorenta_sim_camera: can't listen on %s:%u: %s\n", address.c_str(), port,
                     std::strerror(errno));
        return 1;
    }
    simcam::SimDiscovery discovery;
    if (!discovery.start(discoveryPort, simcam::discoveryAnswer(sn, model, listening))) {
        std::fprintf(stderr, "vorenta_sim_camera: can't answer discovery on port %u: %s\n", discoveryPort,
                     std::strerror(errno));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("vorenta_sim_camera: %s %s listening on port %u\n", model.c_str(), sn.c_str(), listening);
    std::fflush(stdout);
    while (!g_stop)
        usleep(100 * 1000);
    discovery.stop();
    camera.stop();
    return 0;
}
