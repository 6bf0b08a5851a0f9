// Child process of the recorder tests: records synthetic frames in real time
// so that the test can kill it mid-file, or fills the volume under a
// recording and reports what the recorder said and what the file holds.
//
//   recorder_child record <file.mp4>   records until killed (at most 60 s)
//   recorder_child fill <folder>       records, fills the folder's volume, stops
#include "recording_support.h"
#include "video_recorder.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Recording {
    QThread thread;
    VideoRecorder *recorder = new VideoRecorder;
    std::atomic<bool> failed{false};
    std::atomic<bool> lack{false};

    explicit Recording(const QString &path)
    {
        recorder->moveToThread(&thread);
        QObject::connect(recorder, &VideoRecorder::recordingFailed, recorder, [this] { failed = true; },
                         Qt::DirectConnection);
        QObject::connect(recorder, &VideoRecorder::lackOfFreeSpace, recorder, [this] { lack = true; },
                         Qt::DirectConnection);
        thread.start();
        recorder->setSavePath(path);
        recorder->initEncoder(recordingCodecSettings(kWidth, kHeight, 30));
        QMetaObject::invokeMethod(recorder, "start", Qt::BlockingQueuedConnection);
    }
    ~Recording()
    {
        QMetaObject::invokeMethod(recorder, "stop", Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(recorder, "deleteLater");
        thread.quit();
        thread.wait();
    }
};

void feed(Recording &recording, int &index, int milliseconds)
{
    for (int elapsed = 0; elapsed < milliseconds; elapsed += 33) {
        recording.recorder->encodeFrame(syntheticFrame(kWidth, kHeight, index++));
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
}

int record(const QString &path)
{
    Recording recording(path);
    if (!recording.recorder->isRecording())
        return 2;
    std::printf("started\n");
    std::fflush(stdout);
    int index = 0;
    feed(recording, index, 60000);
    return 3;
}

int fill(const QString &folder)
{
    const QString path = folder + "/recording.mp4";
    int index = 0;
    {
        Recording recording(path);
        if (!recording.recorder->isRecording())
            return 2;
        feed(recording, index, 2500);
        // Another writer takes the rest of the volume.
        QFile filler(folder + "/filler");
        if (filler.open(QIODevice::WriteOnly)) {
            const QByteArray block(65536, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
        for (int i = 0; i < 150 && !recording.failed && !recording.lack; ++i)
            feed(recording, index, 33);
        feed(recording, index, 300);
        std::printf("failed=%d lack=%d\n", int(recording.failed.load()), int(recording.lack.load()));
    }
    const RecordingInfo info = readRecording(path);
    std::printf("opened=%d packets=%d decoded=%d width=%d height=%d\n", int(info.opened), info.packets,
                info.decodedFrames, info.width, info.height);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "record")
        return record(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "fill")
        return fill(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: recorder_child record <file.mp4> | fill <folder>\n");
    return 1;
}
