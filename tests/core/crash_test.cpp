#include "crash_dumps.h"
#include "crash_handler.h"
#include "log.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

struct CrashRun {
    QProcess::ExitStatus status;
    int exitCode;
    QStringList dumps;
};

CrashRun crashChild(const QString &folder, const QString &kind)
{
    QProcess child;
    child.start(QStringLiteral(CRASH_CHILD_PATH), {folder, kind});
    EXPECT_TRUE(child.waitForFinished(20000));
    return {child.exitStatus(), child.exitCode(),
            QDir(folder).entryList({"*.dmp"}, QDir::Files, QDir::Name)};
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(CrashHandler, SegfaultWritesADumpAndDiesWithTheSignal)
{
    QTemporaryDir dir;
    const CrashRun run = crashChild(dir.path(), "segv");
    EXPECT_EQ(run.status, QProcess::CrashExit);
    EXPECT_EQ(run.exitCode, SIGSEGV);
    ASSERT_EQ(run.dumps.size(), 1);
    EXPECT_TRUE(run.dumps[0].startsWith("pending-crash-"));
    const QString dump = readAll(dir.path() + "/" + run.dumps[0]);
    EXPECT_TRUE(dump.contains("signal 11 (SIGSEGV)"));
    EXPECT_TRUE(dump.contains("address 0x0"));
    EXPECT_TRUE(dump.contains("backtrace:"));
    EXPECT_TRUE(dump.contains("crash_deep_inside") || dump.count('\n') > 5) << dump.toStdString();
}

TEST(CrashHandler, AbortAndDivisionByZeroAreCaughtToo)
{
    for (const auto &kind : {std::make_pair("abort", SIGABRT), std::make_pair("fpe", SIGFPE)}) {
        QTemporaryDir dir;
        const CrashRun run = crashChild(dir.path(), kind.first);
        EXPECT_EQ(run.status, QProcess::CrashExit) << kind.first;
        EXPECT_EQ(run.exitCode, kind.second) << kind.first;
        ASSERT_EQ(run.dumps.size(), 1) << kind.first;
        EXPECT_TRUE(readAll(dir.path() + "/" + run.dumps[0]).contains(QString("signal %1").arg(kind.second)));
    }
}

TEST(CrashHandler, NextStartReportsAndKeepsThePendingDump)
{
    QTemporaryDir dir;
    crashChild(dir.path(), "segv");
    QStringList reported;
    const int found = crash_handler_collect(
        QFile::encodeName(dir.path()).constData(),
        [](const char *path, void *user) { static_cast<QStringList *>(user)->append(QString::fromUtf8(path)); },
        &reported);
    EXPECT_EQ(found, 1);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(QFileInfo(reported[0]).fileName().startsWith("crash-"));
    EXPECT_TRUE(QFile::exists(reported[0]));
    // Reported once only.
    EXPECT_EQ(crash_handler_collect(QFile::encodeName(dir.path()).constData(), nullptr, nullptr), 0);
}

TEST(CrashHandler, HolderCreatesTheFolderAndLogsTheEarlierCrash)
{
    QTemporaryDir dir;
    const QString dumps = dir.path() + "/dump";
    QDir().mkpath(dumps);
    crashChild(dumps, "segv");
    const QString logPath = dir.path() + "/log/vorenta.log";
    setLogFilePath(logPath);
    // The holder is process-wide; in this process it installs for the first folder only.
    EXPECT_TRUE(CrashDumpHolder::instance().installCrashHandler(dumps));
    EXPECT_TRUE(readAll(logPath).contains("Debug: BreakpadQt crash"));
    const QString other = dir.path() + "/other";
    EXPECT_TRUE(CrashDumpHolder::instance().installCrashHandler(other));
    EXPECT_TRUE(QDir(other).exists());
    setLogFilePath(QDir::tempPath() + "/vorenta-test-log/after.log");
}
