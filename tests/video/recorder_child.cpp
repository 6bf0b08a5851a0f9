// Child process of the recorder tests: records synthetic frames in real time
// so that the test can kill it mid-file, fills the volume under a recording,
// or lets writes fail at a chosen byte (a file size limit of the process), and
// reports what the recorder said and what the file holds.
//
//   recorder_child record <file.mp4>   records until killed (at most 60 s)
//   recorder_child fill <folder>       records, fills the folder's volume, stops
//   recorder_child tear <folder>       writes fail inside a fragment's index
#include "mp4_finalise.h"
#include "recording_support.h"
#include "video_recorder.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Recording {
    QThread thread;
    VideoRecorder *recorder = new VideoRecorder;
    std::atomic<bool> failed{false};
    std::atomic<bool> lack{false};

    explicit Recording(const QString &path, bool keepFragmented = false)
    {
        recorder->moveToThread(&thread);
        QObject::connect(recorder, &VideoRecorder::recordingFailed, recorder, [this] { failed = true; },
                         Qt::DirectConnection);
        QObject::connect(recorder, &VideoRecorder::lackOfFreeSpace, recorder, [this] { lack = true; },
                         Qt::DirectConnection);
        thread.start();
        if (keepFragmented)
            recorder->abandonFinalising();
        recorder->setSavePath(path);
        recorder->initEncoder(recordingCodecSettings(kWidth, kHeight, 30));
        QMetaObject::invokeMethod(recorder, "start", Qt::BlockingQueuedConnection);
    }
    ~Recording()
    {
        QMetaObject::invokeMethod(recorder, "stop", Qt::BlockingQueuedConnection);
        // Deleted on its thread before that thread quits (a queued deleteLater
        // could arrive after the quit and the recorder would leak).
        QMetaObject::invokeMethod(recorder, [this] { delete recorder; }, Qt::BlockingQueuedConnection);
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

// Frames in the complete fragments of a recording being written.
int completeFramesIn(const QString &path)
{
    const QString probe = path + ".probe";
    QFile::remove(probe);
    if (!QFile::copy(path, probe))
        return 0;
    const int frames = cutToCompleteFragments(probe) > 0 ? readRecording(probe).decodedFrames : 0;
    QFile::remove(probe);
    return frames;
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
        // On a loaded machine the encoder may lag: the fill waits until the
        // first 1.5 s are in complete fragments on the volume.
        for (int wait = 0; wait < 200 && completeFramesIn(path) < 45; ++wait)
            feed(recording, index, 100);
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

// 90 frames (3 s at 30 fps) stamped on a clock of our own, fed slowly enough
// that the encoder drops none (its threads start slowly): two runs write the
// same bytes.
void feedSteadily(Recording &recording)
{
    for (int i = 0; i < 90; ++i) {
        recording.recorder->encodeFrame(syntheticFrame(kWidth, kHeight, i), 1000000 + int64_t(i) * 33333);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

bool setFileSizeLimit(rlim_t bytes)
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Records once with nothing in the way, then again with writes failing a
// little way into the index of the second fragment (written while recording)
// and of the last one (written by the trailer, as when a volume is full).
int tear(const QString &folder)
{
    // A write past the limit fails with EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const QString reference = folder + "/reference.mp4";
    {
        Recording recording(reference, true);
        if (!recording.recorder->isRecording())
            return 2;
        feedSteadily(recording);
    }
    QList<qint64> fragments;
    for (const Mp4Box &box : mp4Boxes(reference)) {
        if (box.type == "moof")
            fragments << box.offset;
    }
    if (fragments.size() < 3)
        return 4;
    QFile referenceFile(reference);
    if (!referenceFile.open(QIODevice::ReadOnly))
        return 4;
    const QByteArray referenceBytes = referenceFile.readAll();
    for (int fragment : {1, int(fragments.size()) - 1}) {
        const qint64 boundary = fragments[fragment];
        const QString path = folder + QString("/torn%1.mp4").arg(fragment);
        // What a file cut at that fragment holds.
        const QString expectedPath = folder + QString("/expected%1.mp4").arg(fragment);
        QFile expectedFile(expectedPath);
        if (!expectedFile.open(QIODevice::WriteOnly) || expectedFile.write(referenceBytes.left(boundary)) != boundary)
            return 4;
        expectedFile.close();
        bool failed = false;
        {
            Recording recording(path);
            if (!recording.recorder->isRecording())
                return 2;
            if (!setFileSizeLimit(rlim_t(boundary + 100)))
                return 5;
            feedSteadily(recording);
            QMetaObject::invokeMethod(recording.recorder, "stop", Qt::BlockingQueuedConnection);
            failed = recording.failed;
            if (!setFileSizeLimit(RLIM_INFINITY))
                return 5;
        }
        // Whether this run wrote the bytes of the reference, so that the cut
        // fell where it was meant to.
        QFile torn(path);
        const bool same = torn.open(QIODevice::ReadOnly) && referenceBytes.startsWith(torn.readAll());
        torn.close();
        const RecordingInfo info = readRecording(path);
        std::printf("fragment=%d failed=%d same=%d opened=%d decoded=%d expected=%d size=%lld boundary=%lld\n",
                    fragment, int(failed), int(same), int(info.opened), info.decodedFrames,
                    readRecording(expectedPath).decodedFrames, QFile(path).size(), boundary);
    }
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
    if (argc == 3 && QByteArray(argv[1]) == "tear")
        return tear(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: recorder_child record <file.mp4> | fill <folder> | tear <folder>\n");
    return 1;
}
