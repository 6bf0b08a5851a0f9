// One MP4 recording: the H.264 encoder, the output file and the free-space
// watch. Lives on the recorder thread; frames come from the capture thread,
// packets from the encoder's worker thread.
//
// While recording the file is a fragmented MP4 with a fragment about every
// second, so a crash, a kill or a full disk leaves a file that plays up to
// about the last second. A recording that stops normally is rewritten into an
// ordinary MP4 with its index at the front (no re-encoding); that rewrite runs
// in `stop`, on the recorder thread, and its outcome is `recordingFinished`.
//
// A recording starts when it is asked for: from `initEncoder` on, frames are
// kept (a bounded number) while `start` opens the encoder and the file, and
// they are the recording's first frames. A recording that ends without a
// single frame in its file leaves no file.
#pragma once

#include "h264_encoder.h"
#include "recording_file.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

struct AVFormatContext;
struct AVPacket;
struct AVStream;

// Microseconds of the monotonic clock frames are stamped with.
int64_t captureClockMicroseconds();

class VideoRecorder : public QObject, public EncodedImageCallback
{
    Q_OBJECT

public:
    // Bytes that must stay free on the volume beside every write.
    static constexpr qint64 kSpareBytes = 1048576;
    // How often the free space of the volume is asked for, in milliseconds.
    static constexpr int kFreeSpaceCheckIntervalMs = 1000;
    // Length of one MP4 fragment while recording, in microseconds.
    static constexpr int kFragmentDurationUs = 1000000;
    // Frames kept between the request and the start of a recording: at most
    // this many, and at most this many bytes of them (two seconds of
    // 1920x1080 at 30 fps, half a second of 4K).
    static constexpr int kMaxBacklogFrames = 60;
    static constexpr qint64 kMaxBacklogBytes = 192 * 1048576;

    enum class Failure { NoEncoder, CannotCreateFile, CannotWrite, CannotFinalise, NothingRecorded, NoSpace };
    // `cause` goes into the texts of CannotCreateFile, CannotWrite and
    // CannotFinalise; the others have none.
    static QString failureText(Failure failure, const QString &cause = QString());
    // The system's words for the libav error `code` ("No such file or directory").
    static QString causeText(int code);
    // `text` followed by the system's words for the libav error `code`.
    static QString withCause(const QString &text, int code);
    // Names the file that keeps what a failed recording wrote.
    static QString keptText(const QString &path);
    // A recording whose file is gone from its folder, and why it can't be found.
    static QString lostText(const QString &path, const QString &cause);

    // When the running or last recording began and when its first frame was
    // written, in captureClockMicroseconds(); 0 until then.
    struct StartTiming {
        int64_t firstFrameCaptureUs = 0;
        int64_t firstFrameWrittenUs = 0;
    };
    StartTiming startTiming() const;

    explicit VideoRecorder(QObject *parent = nullptr);
    ~VideoRecorder() override;

    // Both may be called from any thread; they take effect at the next `start`.
    // From `initEncoder` on, frames of the codec size are kept for that start.
    void setSavePath(const QString &path);
    void initEncoder(const VideoCodecSettings &settings);

    // From the capture thread. Ignored unless recording and the frame has the
    // codec size. `captureTimeUs` is the captureClockMicroseconds() reading
    // taken when the frame was read; the first form reads the clock itself.
    void encodeFrame(const VideoFrame &frame);
    void encodeFrame(const VideoFrame &frame, int64_t captureTimeUs);

    bool isRecording() const { return started_.load(); }
    // From any thread, for shut-down: a finalising in progress or still to
    // come is given up and the file stays the fragmented recording, which
    // plays. Holds for the rest of this recorder's life.
    void abandonFinalising();
    // Path of the file being written or last written, where it was last seen.
    QString currentPath() const;

    // Which encoders are tried. Each is asked once: by default once in the
    // process (an encoder opened for real), else once per probe given here.
    void setEncoderProbe(EncoderProbe probe);
    // Kind of the encoder of the running or last recording; before the first,
    // the kind `prepare` found.
    H264EncoderKind encoderKind() const { return encoderKind_.load(); }

    bool OnEncodedPacket(AVPacket *packet, int width, int height) override;
    bool OnEncodedImage(const EncodedImage &image) override;

signals:
    void lackOfFreeSpace();
    // A recording that could not start, could not be written or ran out of
    // space. `message` is for the user; the file keeps what was written
    // before the failure. A recording stopped for lack of space says so once
    // its file is closed, naming the file it kept or saying that none was.
    // A recording whose file was removed (or its folder with it), or whose
    // path names another file now, is lost: it says so once that is found,
    // while recording or at the stop, and touches nothing at its path. A file
    // renamed (or its folder) is no loss: the recording goes on into it.
    void recordingFailed(const QString &message);
    // Ends every recording that created its file, once `stop` has closed it
    // for good: `path` is where the file is now (renamed while it recorded,
    // not where it began), `ok` when everything the encoder delivered before
    // the stop (or the pause) is in the file and the file was finalised.
    void recordingFinished(const QString &path, bool ok);

public slots:
    // Asks which encoders work, so that the first recording doesn't wait for
    // it (opening each candidate takes up to a tenth of a second). Queued on
    // the recorder thread when a camera is opened.
    void prepare();
    void start();
    void stop();
    // Takes no more frames, and no more packets: those still inside the
    // encoder are dropped. `stop` still finishes the file.
    void pause();

private:
    std::unique_ptr<H264Encoder> createEncoder(const VideoCodecSettings &settings);
    // On failure `error` is the libav error (0 when there is none).
    bool openOutput(const QString &path, AVCodecContext *codec, int *error);
    // Whether the volume has room for a finalised copy of `path` beside it.
    bool roomToFinalise(const QString &path) const;
    void closeOutputLocked(bool removeFile);
    void dropBacklog();
    enum class WriteResult { Written, Refused, LackOfSpace, Failed, Lost };
    WriteResult writePacketLocked(AVPacket *source, qint64 bytes);
    bool announce(WriteResult result);
    // The message for a failed write: whether anything is in the file, and why.
    QString writeFailureLocked() const;
    // False when the volume is known to lack `bytes` plus the spare; a
    // volume that can't be asked does not stop a recording.
    bool enoughSpaceLocked(qint64 bytes);
    // Whether the file being written is gone: removed, its folder with it,
    // or its path naming another file. A file moved (or its folder) is
    // followed to its new place. Asked at the pace of the free-space query,
    // or `now`.
    bool fileLostLocked(bool now);
    // Removes `path` only when it is the regular file this recorder made.
    // Recorder thread, with no packet coming any more.
    void removeIfOwn(const QString &path);

    // Settings for the next start (any thread).
    mutable std::mutex configMutex_;
    QString savePath_;
    VideoCodecSettings settings_;
    bool haveSettings_ = false;
    EncoderProbe probe_;

    // The running encoder; held while a frame is handed to it, so that `stop`
    // can't destroy it under the capture thread.
    std::mutex encoderMutex_;
    std::unique_ptr<H264Encoder> encoder_;
    std::atomic<bool> started_{false};
    // Frames kept from `initEncoder` until `start` (size, frames, bytes).
    std::atomic<bool> collecting_{false};
    int backlogWidth_ = 0;
    int backlogHeight_ = 0;
    std::deque<std::pair<VideoFrame, int64_t>> backlog_;
    qint64 backlogBytes_ = 0;
    std::atomic<int64_t> firstFrameCaptureUs_{0};
    std::atomic<int64_t> firstFrameWrittenUs_{0};
    std::atomic<H264EncoderKind> encoderKind_{H264EncoderKind::None};
    int codecWidth_ = 0;
    int codecHeight_ = 0;

    // The output file (recorder thread and encoder worker).
    mutable std::mutex outputMutex_;
    AVFormatContext *output_ = nullptr;
    AVStream *stream_ = nullptr;
    AVPacket *packet_ = nullptr;
    int encoderTimeBaseNum_ = 1;
    int encoderTimeBaseDen_ = 1;
    int64_t nominalFrameDuration_ = 0;  // in the encoder's time base
    int64_t lastWrittenDts_ = INT64_MIN;  // in the encoder's time base; INT64_MIN (no time) before the first
    QString outputPath_;    // where the file was last seen
    QString outputFolder_;
    RecordingFile file_;
    bool acceptPackets_ = false;  // from start until pause or the end of stop
    bool writeFailed_ = false;
    int writeError_ = 0;        // the libavformat error of the failed write
    // Refused for lack of space. Every later packet is refused too: those
    // after a missing one can't be decoded without it.
    bool packetsLost_ = false;
    int packetsWritten_ = 0;    // handed to the muxer
    // The muxer keeps each fragment in memory and writes it whole: the file
    // grows only then. Bytes of packets it holds, where the file ends, and
    // whether a fragment has reached the file.
    qint64 heldBytes_ = 0;
    int64_t filePosition_ = 0;
    bool fragmentInFile_ = false;
    bool spaceKnown_ = false;
    qint64 freeAtCheck_ = 0;
    qint64 writtenSinceCheck_ = 0;
    int64_t lastCheckUs_ = 0;
    bool haveChecked_ = false;
    // Writes into a removed file still succeed, into a file no one can open
    // again: once it is found gone, the recording is lost and takes nothing more.
    bool fileLost_ = false;
    int lostError_ = 0;         // errno of why it is gone
    int64_t lastFileCheckUs_ = 0;
    bool haveCheckedFile_ = false;

    std::atomic<bool> abandonFinalising_{false};
};
