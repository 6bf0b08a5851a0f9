#include "video_recorder.h"

#include "free_memory.h"
#include "mp4_finalise.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

int64_t captureClockMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString VideoRecorder::failureText(Failure failure, const QString &cause)
{
    switch (failure) {
    case Failure::NoEncoder:
        return tr("Recording failed: no H.264 encoder could be started.");
    case Failure::CannotCreateFile:
        return tr("Recording failed: the video file could not be created (%1).").arg(cause);
    case Failure::CannotWrite:
        return tr("Recording failed: the video file could not be written (%1).").arg(cause);
    case Failure::CannotFinalise:
        return tr("The recording was saved, but it could not be finalised (%1); some players may not show its "
                  "length or seek in it.")
            .arg(cause);
    case Failure::NothingRecorded:
        return tr("Nothing was recorded, so no video file was kept.");
    case Failure::NoSpace:
        return tr("Recording stopped: there is not enough free space on the disk.");
    }
    return QString();
}

QString VideoRecorder::keptText(const QString &path)
{
    return tr("What was recorded is kept in %1.").arg(QDir::toNativeSeparators(path));
}

QString VideoRecorder::lostText(const QString &path, const QString &cause)
{
    return tr("Recording failed: the video file %1 no longer exists (%2), so what was recorded is lost.")
        .arg(QDir::toNativeSeparators(path), cause);
}

QString VideoRecorder::causeText(int code)
{
    char cause[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, cause, sizeof cause);
    return QString::fromLocal8Bit(cause);
}

QString VideoRecorder::withCause(const QString &text, int code)
{
    if (code >= 0)
        return text;
    return text + QLatin1Char(' ') + tr("(%1)").arg(causeText(code));
}

VideoRecorder::VideoRecorder(QObject *parent) : QObject(parent), probe_(defaultEncoderProbe()) {}

VideoRecorder::~VideoRecorder()
{
    stop();
}

void VideoRecorder::setSavePath(const QString &path)
{
    std::lock_guard<std::mutex> lock(configMutex_);
    savePath_ = path;
}

void VideoRecorder::initEncoder(const VideoCodecSettings &settings)
{
    if (settings.type != 1) {
        qWarning() << "Now only support h264 internal encoder";
        return;
    }
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        settings_ = settings;
        haveSettings_ = true;
    }
    // The recording starts now: frames are kept while the recorder thread
    // opens the encoder and the file.
    std::lock_guard<std::mutex> lock(encoderMutex_);
    if (started_.load())
        return;
    backlog_.clear();
    backlogBytes_ = 0;
    backlogWidth_ = settings.width;
    backlogHeight_ = settings.height;
    firstFrameCaptureUs_.store(0);
    firstFrameWrittenUs_.store(0);
    collecting_.store(true);
}

void VideoRecorder::setEncoderProbe(EncoderProbe probe)
{
    std::lock_guard<std::mutex> lock(configMutex_);
    probe_ = memoisedProbe(std::move(probe));
}

void VideoRecorder::prepare()
{
    EncoderProbe probe;
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        probe = probe_;
    }
    const H264EncoderKind kind = chooseH264EncoderKind(probe);
    // A recording that started meanwhile knows better.
    H264EncoderKind none = H264EncoderKind::None;
    encoderKind_.compare_exchange_strong(none, kind);
    // The probe opened and closed each encoder.
    returnFreedMemory();
}

VideoRecorder::StartTiming VideoRecorder::startTiming() const
{
    return StartTiming{firstFrameCaptureUs_.load(), firstFrameWrittenUs_.load()};
}

void VideoRecorder::dropBacklog()
{
    std::lock_guard<std::mutex> lock(encoderMutex_);
    collecting_.store(false);
    backlog_.clear();
    backlogBytes_ = 0;
}

void VideoRecorder::abandonFinalising()
{
    abandonFinalising_.store(true);
}

QString VideoRecorder::currentPath() const
{
    std::lock_guard<std::mutex> lock(outputMutex_);
    return outputPath_;
}

void VideoRecorder::encodeFrame(const VideoFrame &frame)
{
    encodeFrame(frame, captureClockMicroseconds());
}

void VideoRecorder::encodeFrame(const VideoFrame &frame, int64_t captureTimeUs)
{
    if (!started_.load() && !collecting_.load())
        return;
    std::lock_guard<std::mutex> lock(encoderMutex_);
    if (started_.load()) {
        if (!encoder_ || frame.width() != codecWidth_ || frame.height() != codecHeight_)
            return;
        encoder_->Encode(frame, captureTimeUs);
        int64_t none = 0;
        firstFrameCaptureUs_.compare_exchange_strong(none, captureTimeUs);
        return;
    }
    if (!collecting_.load() || frame.width() != backlogWidth_ || frame.height() != backlogHeight_)
        return;
    // Past the bound the first frames are kept: the recording starts when
    // it was asked for, and the frames after the bound are lost.
    const qint64 bytes = qint64(frame.width()) * frame.height() * 3 / 2;
    if (int(backlog_.size()) >= kMaxBacklogFrames || backlogBytes_ + bytes > kMaxBacklogBytes)
        return;
    if (backlog_.empty())
        firstFrameCaptureUs_.store(captureTimeUs);
    backlog_.emplace_back(frame, captureTimeUs);
    backlogBytes_ += bytes;
}

std::unique_ptr<H264Encoder> VideoRecorder::createEncoder(const VideoCodecSettings &settings)
{
    EncoderProbe probe;
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        probe = probe_;
    }
    auto encoder = std::make_unique<H264Encoder>(probe);
    if (encoder->InitEncoder(settings))
        return encoder;
    qWarning() << "Internal encoder init failed, try to use compatibility mode";
    if (encoder->EnableCompatibilityMode() && encoder->InitEncoder(settings))
        return encoder;
    qWarning() << "Encoder can not use compatibility mode!";
    return nullptr;
}

void VideoRecorder::start()
{
    // Whatever way this ends, the frames kept for it don't outlive it.
    auto keptFrames = qScopeGuard([this] { dropBacklog(); });
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        if (started_.load() || output_) {
            qWarning() << "Video recorder is already started";
            // The refused request's settings must not start a recording later.
            std::lock_guard<std::mutex> configLock(configMutex_);
            haveSettings_ = false;
            return;
        }
    }
    QString path;
    VideoCodecSettings settings;
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        if (!haveSettings_)
            return;
        // One set of settings makes one recording: a second start never
        // reopens (and truncates) the file of the first.
        haveSettings_ = false;
        path = savePath_;
        settings = settings_;
    }
    if (path.isEmpty()) {
        qWarning() << "Start failed, invalid save file path!";
        return;
    }
    std::unique_ptr<H264Encoder> encoder = createEncoder(settings);
    if (!encoder) {
        emit recordingFailed(failureText(Failure::NoEncoder));
        return;
    }
    encoderKind_.store(encoder->kind());

    bool lacking = false;
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        outputFolder_ = QFileInfo(path).absolutePath();
        haveChecked_ = false;
        if (!enoughSpaceLocked(0)) {
            qWarning() << "Start failed, have no enough free disk space!";
            lacking = true;
        }
    }
    if (lacking) {
        emit lackOfFreeSpace();
        emit recordingFailed(failureText(Failure::NoSpace) + QLatin1Char('\n')
                             + failureText(Failure::NothingRecorded));
        return;
    }
    int openError = 0;
    if (!openOutput(path, encoder->CodecContext(), &openError)) {
        emit recordingFailed(failureText(Failure::CannotCreateFile, causeText(openError)));
        return;
    }
    const int codecWidth = encoder->CodecContext()->width;
    const int codecHeight = encoder->CodecContext()->height;
    encoder->RegisterCallback(this);
    encoder->Start();
    std::lock_guard<std::mutex> lock(encoderMutex_);
    codecWidth_ = codecWidth;
    codecHeight_ = codecHeight;
    encoder_ = std::move(encoder);
    // The frames kept since the request go first; the capture thread waits
    // for this lock, so no frame passes them.
    if (backlogWidth_ == codecWidth_ && backlogHeight_ == codecHeight_)
        encoder_->EncodeBacklog(std::move(backlog_));
    backlog_.clear();
    backlogBytes_ = 0;
    collecting_.store(false);
    keptFrames.dismiss();
    started_.store(true);
}

bool VideoRecorder::openOutput(const QString &path, AVCodecContext *codec, int *error)
{
    std::lock_guard<std::mutex> lock(outputMutex_);
    *error = 0;
    const QByteArray pathUtf8 = path.toUtf8();
    writeFailed_ = false;
    writeError_ = 0;
    packetsLost_ = false;
    fileLost_ = false;
    lostError_ = 0;
    haveCheckedFile_ = false;
    packetsWritten_ = 0;
    heldBytes_ = 0;
    fragmentInFile_ = false;
    acceptPackets_ = false;
    outputPath_ = path;
    // Always MP4: the fragment and faststart handling below is MP4's, whatever
    // the name ends with.
    *error = avformat_alloc_output_context2(&output_, av_guess_format("mp4", nullptr, nullptr), nullptr,
                                            pathUtf8.constData());
    if (*error < 0 || !output_) {
        qWarning() << "Alloc output context failed!";
        output_ = nullptr;
        if (*error >= 0)
            *error = AVERROR(ENOMEM);
        return false;
    }
    stream_ = avformat_new_stream(output_, nullptr);
    if (!stream_) {
        qWarning() << "Output stream create failed!";
        *error = AVERROR(ENOMEM);
        closeOutputLocked(false);
        return false;
    }
    encoderTimeBaseNum_ = codec->time_base.num;
    encoderTimeBaseDen_ = codec->time_base.den;
    stream_->time_base = codec->time_base;
    stream_->avg_frame_rate = codec->framerate;
    lastWrittenDts_ = AV_NOPTS_VALUE;
    nominalFrameDuration_ = codec->framerate.num > 0
                                ? av_rescale_q(1, av_inv_q(codec->framerate), codec->time_base)
                                : 0;
    *error = avcodec_parameters_from_context(stream_->codecpar, codec);
    if (*error < 0) {
        qWarning() << "Get codec params from encode context failed!";
        closeOutputLocked(false);
        return false;
    }
    *error = avio_open(&output_->pb, pathUtf8.constData(), AVIO_FLAG_WRITE);
    if (*error < 0) {
        qWarning() << "Open output video file failed" << path;
        closeOutputLocked(false);
        return false;
    }
    // Opened at once, before anything could take the new file's place.
    if (!file_.follow(path))
        qWarning() << "The recording's file can only be watched by its path:" << path;
    // Every packet goes to the file as soon as the muxer hands it out, so a
    // killed process loses no finished fragment.
    output_->flush_packets = 1;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
    av_dict_set_int(&options, "frag_duration", kFragmentDurationUs, 0);
    int result = avformat_write_header(output_, &options);
    av_dict_free(&options);
    if (result >= 0) {
        avio_flush(output_->pb);
        result = output_->pb->error;
    }
    if (result < 0) {
        qWarning() << "Write output video file header failed!" << path;
        *error = result;
        closeOutputLocked(true);
        return false;
    }
    packet_ = av_packet_alloc();
    if (!packet_) {
        qWarning() << "Output Packet alloc failed";
        *error = AVERROR(ENOMEM);
        closeOutputLocked(true);
        return false;
    }
    filePosition_ = avio_tell(output_->pb);
    acceptPackets_ = true;
    return true;
}

void VideoRecorder::closeOutputLocked(bool removeFile)
{
    if (!output_)
        return;
    if (output_->pb)
        avio_closep(&output_->pb);
    avformat_free_context(output_);
    output_ = nullptr;
    stream_ = nullptr;
    av_packet_free(&packet_);
    if (!removeFile)
        return;
    // Only a file that holds nothing but our own unfinished header is
    // removed, and never anything but a regular file.
    removeIfOwn(outputPath_);
    file_.release();
}

void VideoRecorder::removeIfOwn(const QString &path)
{
    std::error_code error;
    if (std::filesystem::is_regular_file(std::filesystem::u8path(path.toStdString()), error) && file_.isAt(path))
        QFile::remove(path);
}

void VideoRecorder::stop()
{
    dropBacklog();
    std::unique_ptr<H264Encoder> encoder;
    {
        std::lock_guard<std::mutex> lock(encoderMutex_);
        started_.store(false);
        encoder = std::move(encoder_);
    }
    // Encodes what is still queued; its last packets are written meanwhile.
    if (encoder) {
        encoder->Stop();
        encoder.reset();
    }

    QString path;
    QString failure;
    bool empty = false;
    bool lost = false;
    bool finalise = false;
    bool complete = false;
    bool lackedSpace = false;
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        if (!output_)
            return;
        path = outputPath_;
        int result = av_write_trailer(output_);
        if (result >= 0)
            result = output_->pb->error;
        bool finished = result >= 0;
        if (!finished) {
            qWarning() << "Write output video file trailer failed!" << path;
            if (writeError_ == 0)
                writeError_ = result;
        }
        result = avio_closep(&output_->pb);
        if (result < 0) {
            qWarning() << "Close output video file failed!" << path;
            finished = false;
            if (writeError_ == 0)
                writeError_ = result;
        }
        closeOutputLocked(false);
        acceptPackets_ = false;
        // The trailer writes the fragment the muxer still held.
        empty = finished ? packetsWritten_ == 0 : !fragmentInFile_;
        // Whatever was written went into a file no one can open again. Once
        // found gone, what may stand at its path now is not ours to touch. A
        // file moved meanwhile is finished where it is now.
        const bool lostBefore = fileLost_;
        if (!fileLost_)
            fileLostLocked(true);
        lost = fileLost_;
        path = outputPath_;
        // A failed write was reported when it happened. Such a file is kept
        // as it is: rewriting it would need space the volume doesn't have.
        // A recording that ran out of space says so below, once it is known
        // what it kept.
        lackedSpace = packetsLost_ && !writeFailed_ && !lost;
        if (lost) {
            if (!lostBefore)
                failure = empty ? failureText(Failure::NothingRecorded)
                                : lostText(path, causeText(AVERROR(lostError_)));
        } else if (empty && !writeFailed_ && !lackedSpace) {
            failure = failureText(Failure::NothingRecorded);
        } else if (!finished && !writeFailed_ && !lackedSpace) {
            failure = writeFailureLocked();
        }
        finalise = finished && !writeFailed_ && !empty && !lost;
        complete = finalise && !packetsLost_;
    }
    if (empty && !lost) {
        // Only the header of a file this recorder made: nothing to keep.
        removeIfOwn(path);
    } else if (!finalise && !lost && file_.isAt(path)) {
        // A write that failed part-way may have left the last fragment cut
        // short, which would make the whole file unreadable.
        const qint64 kept = cutToCompleteFragments(path);
        if (kept < 0)
            qWarning() << "Could not cut the recording back to its last complete fragment:" << path;
    }
    if (!failure.isEmpty())
        emit recordingFailed(failure);
    bool finalised = false;
    if (finalise) {
        QString error;
        QString cause;
        if (abandonFinalising_.load()) {
            error = QStringLiteral("given up at shut-down");
            cause = causeText(AVERROR_EXIT);
        } else if (!roomToFinalise(path)) {
            error = QStringLiteral("not enough free space for a finalised copy of ") + path;
            cause = causeText(AVERROR(ENOSPC));
        } else {
            finalised = finaliseRecording(path, &error, &abandonFinalising_, &cause, &file_);
        }
        if (!finalised) {
            qWarning().noquote() << "Finalising the recording failed, the fragmented file is kept:" << error;
            // The fragmented file plays; after a lack of space that it was
            // kept is what the user needs to hear.
            if (!lackedSpace)
                emit recordingFailed(failureText(Failure::CannotFinalise, cause));
        }
    }
    if (lackedSpace) {
        emit recordingFailed(failureText(Failure::NoSpace) + QLatin1Char('\n')
                             + (empty ? failureText(Failure::NothingRecorded) : keptText(path)));
    }
    file_.release();
    emit recordingFinished(path, complete && finalised);
    returnFreedMemory();
}

bool VideoRecorder::roomToFinalise(const QString &path) const
{
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    // A volume that can't be asked is tried.
    if (!storage.isValid() || !storage.isReady() || storage.bytesAvailable() < 0)
        return true;
    return storage.bytesAvailable() >= QFileInfo(path).size() + kSpareBytes;
}

void VideoRecorder::pause()
{
    {
        std::lock_guard<std::mutex> lock(encoderMutex_);
        started_.store(false);
    }
    std::lock_guard<std::mutex> lock(outputMutex_);
    acceptPackets_ = false;
}

bool VideoRecorder::enoughSpaceLocked(qint64 bytes)
{
    const int64_t now = captureClockMicroseconds();
    if (!haveChecked_ || now - lastCheckUs_ >= int64_t(kFreeSpaceCheckIntervalMs) * 1000) {
        haveChecked_ = true;
        lastCheckUs_ = now;
        // What the muxer holds is not on the volume yet, but will be.
        writtenSinceCheck_ = heldBytes_;
        QStorageInfo storage(outputFolder_);
        const qint64 available = storage.isValid() && storage.isReady() ? storage.bytesAvailable() : -1;
        spaceKnown_ = available >= 0;
        freeAtCheck_ = available;
        if (!spaceKnown_)
            qDebug() << "Free space query failed for" << outputFolder_;
    }
    if (!spaceKnown_)
        return true;
    // Between two queries the space is estimated from what was written since.
    const qint64 free = freeAtCheck_ - writtenSinceCheck_;
    const qint64 needed = bytes + kSpareBytes;
    if (free >= needed)
        return true;
    qWarning().nospace() << "Lack of free disk space! Folder: " << outputFolder_ << " Free space: " << free
                         << ", needed space: " << needed;
    return false;
}

bool VideoRecorder::fileLostLocked(bool now)
{
    const int64_t clock = captureClockMicroseconds();
    if (!now && haveCheckedFile_ && clock - lastFileCheckUs_ < int64_t(kFreeSpaceCheckIntervalMs) * 1000)
        return false;
    haveCheckedFile_ = true;
    lastFileCheckUs_ = clock;
    const RecordingFile::Place place = file_.locate(outputPath_);
    if (place.path.isEmpty()) {
        fileLost_ = true;
        lostError_ = place.error;
        qWarning() << "The recording's file is gone:" << outputPath_;
        return true;
    }
    if (place.path != outputPath_) {
        qInfo() << "The recording's file was moved from" << outputPath_ << "to" << place.path;
        outputPath_ = place.path;
        outputFolder_ = QFileInfo(place.path).absolutePath();
    }
    return false;
}

VideoRecorder::WriteResult VideoRecorder::writePacketLocked(AVPacket *source, qint64 bytes)
{
    if (writeFailed_ || packetsLost_ || fileLost_)
        return WriteResult::Refused;
    if (fileLostLocked(false))
        return WriteResult::Lost;
    if (!enoughSpaceLocked(bytes)) {
        packetsLost_ = true;
        return WriteResult::LackOfSpace;
    }
    if (av_packet_ref(packet_, source) < 0)
        return WriteResult::Refused;
    packet_->stream_index = stream_->index;
    // The muxer takes a packet's length from the next packet's time, except
    // for the last one of each fragment and of the recording, which has no
    // successor: it lasts as long as the frame before it, which follows the
    // camera's real pace (one nominal frame when it is the first).
    if (packet_->duration <= 0) {
        packet_->duration = lastWrittenDts_ != AV_NOPTS_VALUE && packet_->dts > lastWrittenDts_
                                ? packet_->dts - lastWrittenDts_
                                : nominalFrameDuration_;
    }
    const int64_t dts = packet_->dts;
    av_packet_rescale_ts(packet_, AVRational{encoderTimeBaseNum_, encoderTimeBaseDen_}, stream_->time_base);
    int result = av_write_frame(output_, packet_);
    av_packet_unref(packet_);
    if (result >= 0)
        result = output_->pb->error;
    if (result < 0) {
        qWarning() << "Write frame to file failed!" << outputPath_;
        writeFailed_ = true;
        writeError_ = result;
        return WriteResult::Failed;
    }
    lastWrittenDts_ = dts;
    writtenSinceCheck_ += bytes;
    ++packetsWritten_;
    int64_t none = 0;
    firstFrameWrittenUs_.compare_exchange_strong(none, captureClockMicroseconds());
    // The file grows when the muxer writes out a fragment, before it takes
    // the packet that starts the next one.
    const int64_t position = avio_tell(output_->pb);
    if (position > filePosition_) {
        filePosition_ = position;
        fragmentInFile_ = true;
        heldBytes_ = bytes;
    } else {
        heldBytes_ += bytes;
    }
    return WriteResult::Written;
}

bool VideoRecorder::OnEncodedPacket(AVPacket *packet, int width, int height)
{
    WriteResult result;
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        if (!output_ || !acceptPackets_) {
            qWarning() << "Could not save encoded image, recorder have not started!";
            return false;
        }
        if (width != stream_->codecpar->width || height != stream_->codecpar->height)
            return false;
        result = writePacketLocked(packet, packet->size);
    }
    return announce(result);
}

bool VideoRecorder::OnEncodedImage(const EncodedImage &image)
{
    if (!image.buffer)
        return false;
    WriteResult result;
    {
        std::lock_guard<std::mutex> lock(outputMutex_);
        if (!output_ || !acceptPackets_) {
            qWarning() << "Could not save encoded image, recorder have not started!";
            return false;
        }
        if (image.width != stream_->codecpar->width || image.height != stream_->codecpar->height)
            return false;
        AVPacket *packet = av_packet_alloc();
        if (!packet || av_new_packet(packet, image.buffer->size()) < 0) {
            av_packet_free(&packet);
            return false;
        }
        memcpy(packet->data, image.buffer->data(), size_t(image.buffer->size()));
        packet->pts = image.timestamp;
        packet->dts = image.timestamp;
        if (image.keyFrame)
            packet->flags |= AV_PKT_FLAG_KEY;
        result = writePacketLocked(packet, image.size);
        av_packet_free(&packet);
    }
    return announce(result);
}

QString VideoRecorder::writeFailureLocked() const
{
    // A failed write that came without a code failed in the device.
    const int error = writeError_ < 0 ? writeError_ : AVERROR(EIO);
    if (!fragmentInFile_)
        return withCause(failureText(Failure::NothingRecorded), error);
    return failureText(Failure::CannotWrite, causeText(error)) + QLatin1Char('\n') + keptText(outputPath_);
}

// Signals go out after the output lock is released: a receiver connected
// directly may call back into the recorder.
bool VideoRecorder::announce(WriteResult result)
{
    switch (result) {
    case WriteResult::Written:
        return true;
    case WriteResult::LackOfSpace:
        emit lackOfFreeSpace();
        break;
    case WriteResult::Failed: {
        QString message;
        {
            std::lock_guard<std::mutex> lock(outputMutex_);
            message = writeFailureLocked();
        }
        emit recordingFailed(message);
        break;
    }
    case WriteResult::Lost: {
        QString message;
        {
            std::lock_guard<std::mutex> lock(outputMutex_);
            message = lostText(outputPath_, causeText(AVERROR(lostError_)));
        }
        emit recordingFailed(message);
        break;
    }
    case WriteResult::Refused:
        break;
    }
    return false;
}
