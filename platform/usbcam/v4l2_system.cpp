#include "v4l2_system.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace usbcam {
namespace {

int systemOpen(const char *path, int flags) { return ::open(path, flags); }

int systemIoctl(int fd, unsigned long request, void *argument)
{
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

std::vector<int> systemVideoNodes()
{
    std::vector<int> nodes;
    DIR *directory = opendir("/dev");
    if (!directory)
        return nodes;
    while (dirent *entry = readdir(directory)) {
        if (std::strncmp(entry->d_name, "video", 5) != 0)
            continue;
        char *end = nullptr;
        const long node = std::strtol(entry->d_name + 5, &end, 10);
        if (end == entry->d_name + 5 || *end != '\0' || node < 0 || node > 999999)
            continue;
        nodes.push_back(int(node));
    }
    closedir(directory);
    return nodes;
}

bool systemResolveLink(const std::string &link, std::string &target)
{
    char resolved[PATH_MAX];
    if (!::realpath(link.c_str(), resolved))
        return false;
    target = resolved;
    return true;
}

bool systemReadLine(const std::string &path, std::string &line)
{
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return false;
    char text[256];
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    if (!read)
        return false;
    line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return true;
}

const V4l2System kRealSystem = {systemOpen,       ::close,           systemIoctl,       ::mmap,        ::munmap,
                                ::poll,           systemVideoNodes,  systemResolveLink, systemReadLine};

std::atomic<const V4l2System *> current{&kRealSystem};

} // namespace

const V4l2System &v4l2System() { return *current.load(); }

void setV4l2System(const V4l2System *system) { current.store(system ? system : &kRealSystem); }

} // namespace usbcam
