#include "core.h"
#include "main_window.h"
#include "video.h"

#include <QApplication>
#include <QDebug>
#include <QStandardPaths>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char *argv[])
{
    auto *application = new QApplication(argc, argv);
    quitOnTerminationSignals();

    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString logPath = base + QStringLiteral("/log/vorenta.log");
    const QString dumpFolder = base + QStringLiteral("/dump");
    qDebug() << "Current log path:" << logPath << ", dump path:" << dumpFolder;
    setLogFilePath(logPath);

    av_log_set_level(AV_LOG_INFO);
    av_log_set_callback(ffmpegLogCallback);

    CrashDumpHolder::instance().installCrashHandler(dumpFolder);

    registerVideoFrameMetaType();
    registerSettingsMetaTypes();

    auto *window = new MainWindow2;
    window->show();
    const int result = application->exec();

    delete window;
    // Recordings of the cameras closed last are finished before the program
    // goes; past the bound their files stay fragmented, which still plays.
    FinishingRecorders::waitForAll(FinishingRecorders::kShutdownWaitMs);
    delete application;
    return result;
}
