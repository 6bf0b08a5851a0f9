// The system calls the V4L2 backend makes, as one table of functions. The
// program runs the real calls through it; tests and benchmarks put a scripted
// device in their place (scripted_uvc.h). Internal to the USB camera layer.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace usbcam {

struct V4l2System {
    int (*open)(const char *path, int flags);
    int (*close)(int fd);
    // One ioctl with its argument record; EINTR is already retried.
    int (*ioctl)(int fd, unsigned long request, void *argument);
    void *(*mmap)(void *address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*munmap)(void *address, size_t length);
    int (*poll)(pollfd *fds, nfds_t count, int timeoutMs);
    // The numbers N of the /dev/videoN nodes, in directory order.
    std::vector<int> (*videoNodes)();
    // sysfs: the absolute path a link resolves to, and the first line of a
    // small attribute file (without its line end). False when missing.
    bool (*resolveLink)(const std::string &link, std::string &target);
    bool (*readLine)(const std::string &path, std::string &line);
};

// The table in use; objects keep the table they were opened with.
const V4l2System &v4l2System();
// Puts `system` in place of the real calls (nullptr: back to the real ones).
// Only while no V4L2 device of the layer is open.
void setV4l2System(const V4l2System *system);

} // namespace usbcam
