#include "termination_signals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] written by the handler, [1] read on the application's thread.
int signalSockets[2] = {-1, -1};

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

const char *signalName(int number)
{
    switch (number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    }
    return "an unknown signal";
}

extern "C" void onTerminationSignal(int number)
{
    // Only async-signal-safe calls here; the socket does not block, and a
    // byte that does not fit is one more of signals already on their way.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = saved;
}

} // namespace

bool quitOnTerminationSignals()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || signalSockets[0] >= 0)
        return false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0) {
        qWarning() << "Signals cannot close the program:" << std::strerror(errno);
        return false;
    }
    auto *notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, application);
    QObject::connect(notifier, &QSocketNotifier::activated, application, [] {
        unsigned char byte = 0;
        while (::read(signalSockets[1], &byte, 1) == 1)
            qWarning().noquote() << "Closing on" << signalName(byte);
        // Ends the loops running now, and the application's own loop when it
        // has not started yet (a signal during the window's construction).
        QCoreApplication::quit();
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // The default comes back at the first one, so that a second one ends
    // a close that hangs.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int number : kSignals) {
        if (::sigaction(number, &action, nullptr) != 0) {
            qWarning() << "Signal" << signalName(number) << "cannot close the program:" << std::strerror(errno);
            return false;
        }
    }
    return true;
}
