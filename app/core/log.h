// Process-wide log: one file under the application-data folder, every line
// echoed to standard output, restarted when it grows past 20,000,000 characters.
#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

#include <cstdarg>

class LogWriter
{
public:
    static LogWriter &instance();

    // Opens `path` for appending (its folder is created when missing). When
    // the open fails, one line on standard error says so, with the path and
    // the reason, and lines keep going to standard output only.
    void setFilePath(const QString &path);
    void write(QtMsgType type, const QString &text);

    // For tests and for the rotation rule.
    qint64 writtenSize() const;
    QString filePath() const;
    static constexpr qint64 kRestartSize = 20000000;

    // "Debug: ", "Warning: " ... for a Qt message type; empty for unknown types.
    static QString levelWord(QtMsgType type);

private:
    LogWriter();
    ~LogWriter();
    void closeLocked();
    void openLocked(const QString &path);

    mutable QMutex mutex_;
    QFile file_;
    QTextStream fileStream_;
    bool fileOpen_ = false;
    qint64 writtenSize_ = 0;
};

void setLogFilePath(const QString &path);
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

// FFmpeg's log callback (installed with av_log_set_callback). Safe to call
// from any thread; partial lines are put together per thread.
void ffmpegLogCallback(void *context, int level, const char *format, va_list arguments);

// Operating-system code of the running system: 6/7/8/10/11 for the Windows
// releases the camera models care about, 1 for other Windows versions, -1
// anywhere else. `osVersionCodeFor` is the rule on its own.
int osVersionCode();
int osVersionCodeFor(bool isWindows, int major, int minor, int micro);

// Pauses the calling thread for `milliseconds` while its event loop keeps
// running: timers, events and queued signals are delivered meanwhile, so a
// caller must expect its own slots to be re-entered during the wait.
void blockingWait(int milliseconds);
