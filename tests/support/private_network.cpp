#include "private_network.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

bool inPrivateNetwork() { return getenv("VORENTA_IN_NETNS") != nullptr; }

std::string innerRunReport(const std::string &label)
{
    const char *report = getenv("GTEST_OUTPUT");
    const std::string value = report ? report : "";
    const std::string suffix = ".xml";
    if (value.rfind("xml:", 0) != 0 || value.size() <= 4 + suffix.size()
        || value.compare(value.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::string();
    return value.substr(0, value.size() - suffix.size()) + "+" + label + suffix;
}

NamespaceRun runInPrivateNetwork(const std::string &filter)
{
    NamespaceRun run;
    if (system("unshare -n true > /dev/null 2>&1") != 0) {
        run.why = "no private network namespace can be made here (unshare -n refused)";
        return run;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        run.why = "this program can't find itself";
        return run;
    }
    self[n] = 0;
    std::string cmd =
        "unshare -n sh -c 'ip link set lo up && { ip link add d0 type dummy 2>/dev/null || "
        "{ ip link add d0 type veth peer name d1 && ip link set d1 up; }; } && "
        "ip addr add 10.253.0.1/24 dev d0 && ip link set d0 up && ip route add default dev d0 || exit 77; "
        "VORENTA_IN_NETNS=1 exec \"$0\" \"--gtest_filter=$1\" \"--gtest_output=$2\"' '";
    cmd += self;
    cmd += "' '" + filter + "' '" + innerRunReport(filter.substr(0, filter.find('.'))) + "' 2>&1 < /dev/null";
    FILE *child = popen(cmd.c_str(), "r");
    if (!child) {
        run.why = "the namespace's shell can't be started";
        return run;
    }
    char line[512];
    while (fgets(line, sizeof line, child))
        run.output += line;
    int rc = pclose(child);
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (run.status == 77 || run.status == 127) {
        run.why = "no private network namespace with a dummy or veth interface can be made here";
        return run;
    }
    run.ran = true;
    return run;
}
