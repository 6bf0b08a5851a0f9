#include "log.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Calls the FFmpeg callback the way FFmpeg does, with a va_list.
void ffmpegLog(int level, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    ffmpegLogCallback(nullptr, level, format, arguments);
    va_end(arguments);
}

class LogFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.path() + "/log/vorenta.log";
        setLogFilePath(path);
    }
    void TearDown() override
    {
        // Leave the writer on a file that outlives this test's folder.
        setLogFilePath(QDir::tempPath() + "/vorenta-test-log/after.log");
    }
    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(LogFile, LinesCarryTimeLevelWordAndText)
{
    qDebug("first %d", 1);
    qWarning("second");
    qCritical("third");
    qInfo("fourth");
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 4);
    const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: ");
    for (const QString &line : lines)
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    EXPECT_TRUE(lines[0].endsWith(": Debug: first 1"));
    EXPECT_TRUE(lines[1].endsWith(": Warning: second"));
    EXPECT_TRUE(lines[2].endsWith(": Critical: third"));
    EXPECT_TRUE(lines[3].endsWith(": Info: fourth"));
}

TEST_F(LogFile, TextIsWrittenAsUtf8AndCountedInCharacters)
{
    const qint64 before = LogWriter::instance().writtenSize();
    qDebug() << QString::fromUtf8("相机");
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QString::fromUtf8("Debug: \"相机\"")));
    EXPECT_EQ(LogWriter::instance().writtenSize() - before, lines[0].size());
}

TEST_F(LogFile, OversizedFileIsStartedAfreshBeforeTheNextLine)
{
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
    big.write(QByteArray(LogWriter::kRestartSize + 1, 'x'));
    big.close();
    setLogFilePath(path);
    EXPECT_EQ(LogWriter::instance().writtenSize(), LogWriter::kRestartSize + 1);
    qDebug("after restart");
    EXPECT_LT(QFileInfo(path).size(), 200);
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("Debug: after restart"));
}

TEST_F(LogFile, ALineThatCrossesTheLimitIsKeptWhole)
{
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
    big.write(QByteArray(LogWriter::kRestartSize - 10, 'x'));
    big.write("\n");
    big.close();
    setLogFilePath(path);
    const QString longText(100, 'y');
    qDebug("%s", qPrintable(longText));
    // The line went into the old file, whole; only the next one restarts it.
    EXPECT_GT(QFileInfo(path).size(), LogWriter::kRestartSize);
    qDebug("next");
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("Debug: next"));
}

TEST_F(LogFile, LinesFromManyThreadsNeverInterleave)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                qDebug("thread %d line %d payload-payload-payload", t, i);
        });
    }
    for (auto &thread : threads)
        thread.join();
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression whole("^\\S+ \\S+: Debug: thread \\d line \\d+ payload-payload-payload$");
    for (const QString &line : lines)
        ASSERT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
}

TEST_F(LogFile, UnopenableFileLeavesLoggingOnStandardOutput)
{
    setLogFilePath("/proc/vorenta-cannot-exist/log.txt");
    qDebug("still fine");  // must not crash
    EXPECT_FALSE(QFile::exists("/proc/vorenta-cannot-exist/log.txt"));
}

TEST_F(LogFile, UnopenableFileIsReportedOnceOnStandardErrorWithPathAndReason)
{
    // The log file's name is taken by a folder; the log folder is a file.
    // (Tests run as root, so read-only folders would not stop them.)
    const QString folderInTheWay = dir.path() + "/taken/vorenta.log";
    ASSERT_TRUE(QDir().mkpath(folderInTheWay));
    QFile(dir.path() + "/plain").open(QIODevice::WriteOnly);
    const QString fileInTheWay = dir.path() + "/plain/log/vorenta.log";
    for (const QString &target : {folderInTheWay, fileInTheWay}) {
        SCOPED_TRACE(target.toStdString());
        const QString capture = dir.path() + "/stderr.txt";
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        ASSERT_GE(saved, 0);
        const int out = ::open(QFile::encodeName(capture).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(out, 0);
        dup2(out, STDERR_FILENO);
        ::close(out);
        setLogFilePath(target);
        qDebug("after the failed open");
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        ::close(saved);
        const QStringList lines = readLines(capture);
        ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
        EXPECT_TRUE(lines[0].startsWith("Cannot open the log file " + target + ": ")) << lines[0].toStdString();
        const QString reason = lines[0].mid(QString("Cannot open the log file " + target + ": ").size());
        EXPECT_TRUE(reason.endsWith("; logging to standard output only.")) << reason.toStdString();
        EXPECT_GT(reason.size(), QString("; logging to standard output only.").size() + 3) << reason.toStdString();
    }
    // A later good path logs to its file again.
    setLogFilePath(path);
    qDebug("back");
    EXPECT_EQ(readLines(path).size(), 1);
}

TEST_F(LogFile, FfmpegLinesArePrefixedAndFilteredByLevel)
{
    av_log_set_level(AV_LOG_INFO);
    ffmpegLog(AV_LOG_INFO, "codec %s opened\n", "libx264");
    ffmpegLog(AV_LOG_DEBUG, "too chatty\n");
    ffmpegLog(AV_LOG_ERROR, "bad thing\n");
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("Debug: FFmpeg: codec libx264 opened")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("Debug: FFmpeg: bad thing"));
}

TEST_F(LogFile, FfmpegPiecesOfOneLineAreJoinedAndNoBlankLinesAppear)
{
    av_log_set_level(AV_LOG_INFO);
    ffmpegLog(AV_LOG_INFO, "part one, ");
    ffmpegLog(AV_LOG_INFO, "part two\n");
    ffmpegLog(AV_LOG_INFO, "\n");
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("FFmpeg: part one, part two"));
}

TEST_F(LogFile, FfmpegCallbackIsSafeFromManyThreads)
{
    av_log_set_level(AV_LOG_INFO);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                ffmpegLog(AV_LOG_INFO, "worker %d ", t);
                ffmpegLog(AV_LOG_INFO, "message %d\n", i);
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 600);
    const QRegularExpression whole("FFmpeg: worker \\d message \\d+$");
    for (const QString &line : lines)
        ASSERT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
}

TEST(OsVersion, WindowsReleasesMapToTheirCodes)
{
    EXPECT_EQ(osVersionCodeFor(true, 10, 0, 22000), 11);
    EXPECT_EQ(osVersionCodeFor(true, 10, 0, 19045), 10);
    EXPECT_EQ(osVersionCodeFor(true, 10, 1, 0), 1);
    EXPECT_EQ(osVersionCodeFor(true, 6, 3, 9600), 8);
    EXPECT_EQ(osVersionCodeFor(true, 6, 2, 9200), 8);
    EXPECT_EQ(osVersionCodeFor(true, 6, 1, 7601), 7);
    EXPECT_EQ(osVersionCodeFor(true, 6, 0, 6000), 6);
    EXPECT_EQ(osVersionCodeFor(true, 6, 4, 0), 1);
    EXPECT_EQ(osVersionCodeFor(true, 5, 1, 0), 1);
    EXPECT_EQ(osVersionCodeFor(false, 6, 1, 0), -1);
    EXPECT_EQ(osVersionCode(), -1);
}

TEST(BlockingWait, KeepsTheEventLoopRunning)
{
    int delivered = 0;
    QTimer::singleShot(5, [&delivered] { ++delivered; });
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&delivered] { ++delivered; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    blockingWait(60);
    EXPECT_GE(clock.elapsed(), 55);
    EXPECT_EQ(delivered, 2);
}

TEST(BlockingWait, ZeroReturnsAfterOnePass)
{
    bool delivered = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&delivered] { delivered = true; }, Qt::QueuedConnection);
    blockingWait(0);
    EXPECT_TRUE(delivered);
}

TEST(Translations, ChineseTranslationIsCompiledIn)
{
    QTranslator translator;
    EXPECT_TRUE(translator.load(":/Language/language_cn.qm"));
    EXPECT_EQ(translator.translate("main", "Camera"), QString::fromUtf8("相机"));
}
