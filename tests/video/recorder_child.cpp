// Child process of the recorder tests: records synthetic frames in real time
// so that the test can kill it mid-file, fills the volume under a recording,
// or lets writes fail at a chosen byte (a file size limit of the process), and
// reports what the recorder said and what the file holds.
//
//   recorder_child record <file.mp4>   records until killed (at most 60 s)
//   recorder_child fill <folder>       records, fills the folder's volume, stops
//   recorder_child empty <folder>      fills the volume before the first fragment
//   recorder_child spill <folder>      records more than the volume has room for
//                                      while the muxer holds the fragment
//   recorder_child tear <folder>       writes fail inside a fragment's index
//   recorder_child refuse <folder>     a frame too big for the space left
//   recorder_child readonly <folder>   the folder turns read-only while it records
#include "mp4_finalise.h"
#include "recording_support.h"
#include "video_recorder.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <csignal>
#include <functional>
#include <cstring>
#include <cstdio>
#include <thread>

#include <mutex>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Recording {
    QThread thread;
    VideoRecorder *recorder = new VideoRecorder;
    std::atomic<bool> failed{false};
    std::atomic<bool> lack{false};
    std::mutex mutex;
    QStringList messages;

    // `beforeStart` runs once the recording is asked for, before it starts.
    explicit Recording(const QString &path, bool keepFragmented = false, int width = kWidth, int height = kHeight,
                       const std::function<void(VideoRecorder &)> &beforeStart = {})
    {
        recorder->moveToThread(&thread);
        QObject::connect(recorder, &VideoRecorder::recordingFailed, recorder,
                         [this](const QString &message) {
                             failed = true;
                             std::lock_guard<std::mutex> lock(mutex);
                             messages << message;
                         },
                         Qt::DirectConnection);
        QObject::connect(recorder, &VideoRecorder::lackOfFreeSpace, recorder, [this] { lack = true; },
                         Qt::DirectConnection);
        // libx264 only: a hardware encoder's probe loads its driver library,
        // and what a failed load leaves to the thread is freed after the
        // thread has said it finished, racing the leak check at exit.
        recorder->setEncoderProbe([](const char *name) {
            return std::strcmp(name, "libx264") == 0 && probeH264Encoder(name);
        });
        thread.start();
        if (keepFragmented)
            recorder->abandonFinalising();
        recorder->setSavePath(path);
        recorder->initEncoder(recordingCodecSettings(width, height, 30));
        if (beforeStart)
            beforeStart(*recorder);
        QMetaObject::invokeMethod(recorder, "start", Qt::BlockingQueuedConnection);
    }
    // Stops (once), and says which failures were reported and whether a
    // message named the file.
    QString outcome()
    {
        QMetaObject::invokeMethod(recorder, "stop", Qt::BlockingQueuedConnection);
        std::lock_guard<std::mutex> lock(mutex);
        const QString all = messages.join('|');
        // Whatever the cause in the message.
        const auto saw = [&all](VideoRecorder::Failure failure) {
            const QString cause = QStringLiteral("\x01");
            const QString text = VideoRecorder::failureText(failure, cause);
            return int(all.contains(text.left(text.indexOf(cause))));
        };
        return QString("lack=%1 cannotWrite=%2 nothing=%3 noSpace=%4 named=%5")
            .arg(int(lack.load()))
            .arg(saw(VideoRecorder::Failure::CannotWrite))
            .arg(saw(VideoRecorder::Failure::NothingRecorded))
            .arg(saw(VideoRecorder::Failure::NoSpace))
            .arg(int(all.contains(recorder->currentPath())));
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
        const QString outcome = recording.outcome();
        std::printf("failed=%d %s\n", int(recording.failed.load()), qPrintable(outcome));
    }
    const RecordingInfo info = readRecording(path);
    std::printf("opened=%d packets=%d decoded=%d width=%d height=%d errors=%d\n", int(info.opened), info.packets,
                info.decodedFrames, info.width, info.height, int(info.errors.size()));
    return 0;
}

// Three seconds of frames stamped on a clock of our own, kept from the
// request until the recording starts: kept frames are never dropped, so two
// runs write the same bytes however busy the machine is.
void feedBeforeStart(VideoRecorder &recorder)
{
    const int frames = VideoRecorder::kMaxBacklogFrames;
    for (int i = 0; i < frames; ++i)
        recorder.encodeFrame(syntheticFrame(kWidth, kHeight, i), 1000000 + int64_t(i) * 3000000 / frames);
}

// Leaves `bytes` free on the volume of `folder` (0: fills it).
bool leaveFree(const QString &folder, qint64 bytes)
{
    struct statvfs volume;
    if (statvfs(QFile::encodeName(folder).constData(), &volume) != 0)
        return false;
    qint64 toWrite = qint64(volume.f_bavail) * qint64(volume.f_frsize) - bytes;
    QFile filler(folder + "/filler");
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray block(65536, 'x');
    while (toWrite > 0) {
        const qint64 part = std::min<qint64>(toWrite, block.size());
        if (filler.write(block.constData(), part) != part || !filler.flush())
            return bytes == 0;
        toWrite -= part;
    }
    return true;
}

// The volume fills up before the recording's first fragment reaches it.
int empty(const QString &folder)
{
    const QString path = folder + "/empty.mp4";
    Recording recording(path);
    if (!recording.recorder->isRecording())
        return 2;
    if (!leaveFree(folder, 0))
        return 4;
    int index = 0;
    feed(recording, index, 1500);
    const QString outcome = recording.outcome();
    std::printf("%s exists=%d\n", qPrintable(outcome), int(QFile::exists(path)));
    return 0;
}

// 3 MiB stay free once the recording runs. Every frame of badly
// compressing noise is stamped inside the first second, so the muxer keeps
// them all in memory as one fragment and writes it only at the stop: the
// volume looks as free as it was, while what the muxer holds outgrows it.
int spill(const QString &folder)
{
    const QString path = folder + "/spill.mp4";
    Recording recording(path, true, 640, 480);
    if (!recording.recorder->isRecording())
        return 2;
    if (!leaveFree(folder, 3 * 1048576))
        return 4;
    // The next packet asks the volume afresh.
    QThread::msleep(VideoRecorder::kFreeSpaceCheckIntervalMs + 200);
    for (int i = 0; i < 60; ++i) {
        recording.recorder->encodeFrame(syntheticFrame(640, 480, i, true), 1000000 + int64_t(i) * 15000);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    const QString outcome = recording.outcome();
    const RecordingInfo info = readRecording(path);
    std::printf("%s opened=%d decoded=%d\n", qPrintable(outcome), int(info.opened), info.decodedFrames);
    return 0;
}

// A frame too big for the space left is refused, and so is every frame after
// it: those can't be decoded without it. First the recording's first frame
// (its key frame) is refused, then a frame in the middle. Frames of 1280x720:
// the picture of random bytes encodes to about a megabyte, the moving square
// to some ten kilobytes. The frames are kept from the request until the
// recording starts, so that none is dropped however busy the machine is.
int refuse(const QString &folder)
{
    constexpr int width = 1280;
    constexpr int height = 720;
    constexpr qint64 roomForFrames = 512 * 1024;
    const VideoFrame noise = syntheticFrame(width, height, 0, true);
    const auto stamp = [](int index) { return 1000000 + int64_t(index) * 33333; };

    const QString first = folder + "/first.mp4";
    if (!leaveFree(folder, VideoRecorder::kSpareBytes + roomForFrames))
        return 4;
    {
        Recording recording(first, false, width, height, [&](VideoRecorder &recorder) {
            for (int i = 0; i < 20; ++i)
                recorder.encodeFrame(noise, stamp(i));
        });
        if (!recording.recorder->isRecording())
            return 2;
        const QString outcome = recording.outcome();
        std::printf("first: %s exists=%d\n", qPrintable(outcome), int(QFile::exists(first)));
    }
    QFile::remove(folder + "/filler");

    const QString middle = folder + "/middle.mp4";
    constexpr int fitting = 30;
    if (!leaveFree(folder, VideoRecorder::kSpareBytes + roomForFrames))
        return 4;
    QString outcome;
    {
        Recording recording(middle, false, width, height, [&](VideoRecorder &recorder) {
            for (int i = 0; i < fitting; ++i)
                recorder.encodeFrame(syntheticFrame(width, height, i), stamp(i));
            for (int i = fitting; i < fitting + 20; ++i)
                recorder.encodeFrame(noise, stamp(i));
        });
        if (!recording.recorder->isRecording())
            return 2;
        outcome = recording.outcome();
    }
    const RecordingInfo info = readRecording(middle);
    std::printf("middle: %s opened=%d packets=%d decoded=%d errors=%d fitting=%d\n", qPrintable(outcome),
                int(info.opened), info.packets, info.decodedFrames, int(info.errors.size()), fitting);
    return 0;
}

// Records into a folder that turns read-only while it records, then once
// more into that folder. A read-only bind mount over the folder: the open
// file still takes writes, nothing new can be made there.
int readOnly(const QString &folder)
{
    QString finalising;
    {
        Recording recording(folder + "/read_only.mp4");
        if (!recording.recorder->isRecording())
            return 2;
        int index = 0;
        feed(recording, index, 500);
        const QByteArray name = QFile::encodeName(folder);
        if (mount(name.constData(), name.constData(), nullptr, MS_BIND, nullptr) != 0
            || mount(nullptr, name.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return 5;
        feed(recording, index, 300);
        recording.outcome();
        std::lock_guard<std::mutex> lock(recording.mutex);
        finalising = recording.messages.join('|');
    }
    Recording recording(folder + "/again.mp4");
    recording.outcome();
    std::lock_guard<std::mutex> lock(recording.mutex);
    std::printf("finalising: %s\ncreating: %s\n", qPrintable(finalising), qPrintable(recording.messages.join('|')));
    return 0;
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
        Recording recording(reference, true, kWidth, kHeight, feedBeforeStart);
        if (!recording.recorder->isRecording())
            return 2;
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
        bool causeNamed = false;
        bool limited = true;
        {
            Recording recording(path, false, kWidth, kHeight, [&](VideoRecorder &recorder) {
                limited = setFileSizeLimit(rlim_t(boundary + 100));
                feedBeforeStart(recorder);
            });
            if (!limited)
                return 5;
            if (!recording.recorder->isRecording())
                return 2;
            QMetaObject::invokeMethod(recording.recorder, "stop", Qt::BlockingQueuedConnection);
            failed = recording.failed;
            std::lock_guard<std::mutex> lock(recording.mutex);
            causeNamed = recording.messages.join('|').contains(
                VideoRecorder::failureText(VideoRecorder::Failure::CannotWrite, "File too large"));
            if (!setFileSizeLimit(RLIM_INFINITY))
                return 5;
        }
        // Whether this run wrote the bytes of the reference, so that the cut
        // fell where it was meant to.
        QFile torn(path);
        const bool same = torn.open(QIODevice::ReadOnly) && referenceBytes.startsWith(torn.readAll());
        torn.close();
        const RecordingInfo info = readRecording(path);
        std::printf("fragment=%d failed=%d cause=%d same=%d opened=%d decoded=%d expected=%d size=%lld "
                    "boundary=%lld\n",
                    fragment, int(failed), int(causeNamed), int(same), int(info.opened), info.decodedFrames,
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
    if (argc == 3 && QByteArray(argv[1]) == "empty")
        return empty(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "spill")
        return spill(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "refuse")
        return refuse(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "readonly")
        return readOnly(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: recorder_child record <file.mp4> | fill <folder> | empty <folder> | spill <folder> | "
                         "tear <folder> | refuse <folder> | readonly <folder>\n");
    return 1;
}
