// Test entry: a Qt application object (offscreen platform) around GoogleTest,
// with the application-data and home folders pointed at a fresh temporary
// folder so that no test touches the user's own settings.
#include "test_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include <dlfcn.h>
#include <link.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// A library that a test process loads and unloads again stays mapped until
// the process ends. Mesa's GL driver, loaded for the first GL-capable window
// and dropped again as the windowing system shuts down, keeps blocks it
// allocated in its own data; once it is unmapped, the leak check that runs
// at exit finds nothing pointing at them and reports them as lost, from a
// module whose name is gone, so that no suppression can match them. Kept
// mapped, its data holds them like any loaded library's. Whether a driver is
// unloaded first depends on the machine (its processor, its driver), so
// every test process keeps them all. The leak check still sees every block
// of our own code that nothing points at.
extern "C" int dlclose(void *handle)
{
    using Close = int (*)(void *);
    static const Close next = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "dlclose"));
    link_map *map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
        dlopen(map->l_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return next(handle);
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer works out where a thread's block of a loaded library's
// thread data (Mesa's driver, LLVM, corvane) begins from a header that old
// glibc put in front of it. This glibc puts none there: a block that starts
// 16 bytes into a page is taken for one of gigabytes at a low address, and
// the leak check at exit crashes scanning it ("Tracer caught signal 11"),
// after every case passed, about once in a hundred window test processes.
// Every other block gets an empty range, so the check never scanned them and
// loses nothing when it stops following them.
extern "C" const char *__asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
#endif

namespace {
QTemporaryDir *gHome = nullptr;
}

QString testHomeFolder()
{
    return gHome ? gHome->path() : QString();
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

bool threadCaughtUp(QObject *object)
{
    const auto level = std::make_shared<std::atomic<int>>(0);
    QMetaObject::invokeMethod(
        object, [level] { level->store(QThread::currentThread()->loopLevel()); }, Qt::QueuedConnection);
    if (!waitFor([&] { return level->load() != 0; }))
        return false;
    QCoreApplication::processEvents();
    return level->load() == 1;
}

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    gHome = &home;
    // A test that starts this program again (as another user, say) may hand
    // it the home and folders it prepared.
    if (!qEnvironmentVariableIsSet("VORENTA_TEST_HOME_GIVEN")) {
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", (home.path() + "/runtime").toLocal8Bit());
        QDir().mkpath(home.path() + "/runtime");
        QFile::setPermissions(home.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Qt's one-time platform set-up is left out of the leak check: the
    // offscreen platform's screen and cursor are never freed by Qt 5.15.
    // Only Qt code runs here; from the next line on every leak is reported.
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    QApplication application(argc, argv);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    const int result = RUN_ALL_TESTS();
    gHome = nullptr;
    return result;
}
