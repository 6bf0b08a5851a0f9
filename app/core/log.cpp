#include "log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QOperatingSystemVersion>
#include <QTimer>

#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace {

void reportOpenFailure(const QString &path, const QString &reason)
{
    // Standard error, as there is no log file to say it in. Lines still
    // reach standard output (see `write`).
    const QByteArray line = QStringLiteral("Cannot open the log file %1: %2; logging to standard output only.\n")
                                .arg(QDir::toNativeSeparators(path), reason)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

LogWriter &LogWriter::instance()
{
    static LogWriter writer;
    return writer;
}

LogWriter::LogWriter() = default;

LogWriter::~LogWriter()
{
    QMutexLocker lock(&mutex_);
    if (fileOpen_) {
        fileStream_.flush();
        file_.close();
    }
}

qint64 LogWriter::writtenSize() const
{
    QMutexLocker lock(&mutex_);
    return writtenSize_;
}

QString LogWriter::filePath() const
{
    QMutexLocker lock(&mutex_);
    return file_.fileName();
}

void LogWriter::closeLocked()
{
    if (!fileOpen_)
        return;
    fileStream_.flush();
    fileStream_.setDevice(nullptr);
    file_.close();
    fileOpen_ = false;
}

void LogWriter::openLocked(const QString &path)
{
    closeLocked();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        reportOpenFailure(path, file_.errorString());
        return;
    }
    fileStream_.setDevice(&file_);
    fileStream_.setCodec("UTF-8");
    fileOpen_ = true;
    writtenSize_ = file_.size();
}

void LogWriter::setFilePath(const QString &path)
{
    QMutexLocker lock(&mutex_);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(path) && !QDir().mkpath(folder)) {
        closeLocked();
        file_.setFileName(path);
        reportOpenFailure(path, QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder)));
        return;
    }
    openLocked(path);
}

QString LogWriter::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("Debug: ");
    case QtWarningMsg: return QStringLiteral("Warning: ");
    case QtCriticalMsg: return QStringLiteral("Critical: ");
    case QtFatalMsg: return QStringLiteral("Fatal: ");
    case QtInfoMsg: return QStringLiteral("Info: ");
    }
    return QString();
}

void LogWriter::write(QtMsgType type, const QString &text)
{
    QMutexLocker lock(&mutex_);
    if (fileOpen_ && writtenSize_ > kRestartSize) {
        const QString name = file_.fileName();
        closeLocked();
        QFile::remove(name);
        openLocked(name);
    }

    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                         + QStringLiteral(": ") + levelWord(type) + text;
    writtenSize_ += line.size();
    if (fileOpen_) {
        fileStream_ << line << '\n';
        fileStream_.flush();
    }
    const QByteArray local = line.toLocal8Bit();
    std::fwrite(local.constData(), 1, size_t(local.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void setLogFilePath(const QString &path)
{
    LogWriter::instance().setFilePath(path);
    qInstallMessageHandler(logMessageHandler);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    LogWriter::instance().write(type, text);
}

void ffmpegLogCallback(void *context, int level, const char *format, va_list arguments)
{
    if ((level & 0xff) > av_log_get_level())
        return;
    // FFmpeg builds one line from several calls on the same thread; the prefix
    // flag and the unfinished text therefore belong to the calling thread.
    thread_local int printPrefix = 1;
    thread_local std::string pending;
    char buffer[1024] = {0};
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line(context, level, format, copy, buffer, sizeof buffer, &printPrefix);
    va_end(copy);
    pending += buffer;

    const bool complete = !pending.empty() && pending.back() == '\n';
    if (!complete && pending.size() < 4096)
        return;
    while (!pending.empty() && (pending.back() == '\n' || pending.back() == '\r'))
        pending.pop_back();
    if (!pending.empty())
        qDebug("FFmpeg: %s", pending.c_str());
    pending.clear();
}

int osVersionCodeFor(bool isWindows, int major, int minor, int micro)
{
    if (!isWindows)
        return -1;
    if (major == 6) {
        switch (minor) {
        case 0: return 6;
        case 1: return 7;
        case 2:
        case 3: return 8;
        default: return 1;
        }
    }
    if (major == 10)
        return minor != 0 ? 1 : (micro >= 22000 ? 11 : 10);
    return 1;
}

int osVersionCode()
{
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    qDebug() << "Name=" << os.name() << ", System Type=" << os.type() << ", Major Version=" << os.majorVersion()
             << ", Micro Version=" << os.microVersion() << ", Minor version=" << os.minorVersion();
    return osVersionCodeFor(os.type() == QOperatingSystemVersion::Windows, os.majorVersion(), os.minorVersion(),
                            os.microVersion());
}

void blockingWait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(qMax(0, milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}
