#include "mp4_finalise.h"

#include "recording_file.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <filesystem>

#include <unistd.h>

namespace {

// libavformat asks this between reads and writes; a non-zero answer ends
// the operation with AVERROR_EXIT.
int abandonRequested(void *flag)
{
    return flag && static_cast<const std::atomic<bool> *>(flag)->load() ? 1 : 0;
}

QString avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

bool fail(QString *error, QString *cause, const QString &what, int code)
{
    if (error)
        *error = what + ": " + avErrorText(code);
    if (cause)
        *cause = avErrorText(code);
    return false;
}

}  // namespace

bool rewriteAsFastStartMp4(const QString &source, const QString &destination, QString *error,
                           const std::atomic<bool> *abandon, QString *cause)
{
    const QByteArray sourcePath = source.toUtf8();
    const QByteArray destinationPath = destination.toUtf8();
    AVFormatContext *input = nullptr;
    AVFormatContext *output = nullptr;
    AVPacket *packet = nullptr;
    AVPacket *held = nullptr;
    bool fileOpen = false;
    bool ok = false;
    if (error)
        error->clear();
    if (cause)
        cause->clear();
    const AVIOInterruptCB interrupt{abandonRequested, const_cast<std::atomic<bool> *>(abandon)};
    input = avformat_alloc_context();
    if (input)
        input->interrupt_callback = interrupt;
    // On failure avformat_open_input frees the context it was given.
    int result = input ? avformat_open_input(&input, sourcePath.constData(), nullptr, nullptr) : AVERROR(ENOMEM);
    do {
        if (result < 0) {
            fail(error, cause, "cannot open " + source, result);
            break;
        }
        const int videoIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (videoIndex < 0) {
            fail(error, cause, "no video stream in " + source, videoIndex);
            break;
        }
        AVStream *inStream = input->streams[videoIndex];
        result = avformat_alloc_output_context2(&output, av_guess_format("mp4", nullptr, nullptr), nullptr,
                                                destinationPath.constData());
        if (result < 0 || !output) {
            fail(error, cause, "cannot set up " + destination, result < 0 ? result : AVERROR(ENOMEM));
            break;
        }
        AVStream *outStream = avformat_new_stream(output, nullptr);
        if (!outStream) {
            fail(error, cause, "cannot add a stream", AVERROR(ENOMEM));
            break;
        }
        result = avcodec_parameters_copy(outStream->codecpar, inStream->codecpar);
        if (result < 0) {
            fail(error, cause, "cannot copy the stream parameters", result);
            break;
        }
        outStream->codecpar->codec_tag = 0;
        outStream->time_base = inStream->time_base;
        outStream->avg_frame_rate = inStream->avg_frame_rate;
        // Also reaches the second pass of the faststart trailer, which reads
        // the file back through the context's own opener.
        output->interrupt_callback = interrupt;
        result = avio_open2(&output->pb, destinationPath.constData(), AVIO_FLAG_WRITE, &output->interrupt_callback,
                            nullptr);
        if (result < 0) {
            fail(error, cause, "cannot create " + destination, result);
            break;
        }
        fileOpen = true;
        AVDictionary *options = nullptr;
        av_dict_set(&options, "movflags", "faststart", 0);
        result = avformat_write_header(output, &options);
        av_dict_free(&options);
        if (result < 0) {
            fail(error, cause, "cannot write the header of " + destination, result);
            break;
        }
        packet = av_packet_alloc();
        held = av_packet_alloc();
        if (!packet || !held) {
            fail(error, cause, "out of memory", AVERROR(ENOMEM));
            break;
        }
        // Each packet is held back until the next one gives its length; the
        // last one keeps the length the recording gave it, which the stream's
        // duration still holds. The length a packet is read with is not the
        // recording's: the demuxer leaves it out, or its parser gives the
        // nominal frame length of the stream's parameter sets.
        bool haveHeld = false;
        const auto writeHeld = [&](int64_t nextDts) {
            if (held->dts != AV_NOPTS_VALUE && nextDts != AV_NOPTS_VALUE && nextDts > held->dts)
                held->duration = nextDts - held->dts;
            av_packet_rescale_ts(held, inStream->time_base, outStream->time_base);
            held->stream_index = 0;
            held->pos = -1;
            const int written = av_write_frame(output, held);
            av_packet_unref(held);
            haveHeld = false;
            return written;
        };
        bool told = false;  // a failure inside the loop that is not the read's
        for (;;) {
            if (abandonRequested(interrupt.opaque)) {
                result = AVERROR_EXIT;
                fail(error, cause, "finalising abandoned", result);
                told = true;
                break;
            }
            result = av_read_frame(input, packet);
            if (result < 0)
                break;
            if (packet->stream_index == videoIndex) {
                if (haveHeld)
                    result = writeHeld(packet->dts);
                av_packet_move_ref(held, packet);
                haveHeld = true;
            }
            av_packet_unref(packet);
            if (result < 0) {
                fail(error, cause, "cannot write " + destination, result);
                told = true;
                break;
            }
        }
        if (result < 0 && result != AVERROR_EOF) {
            if (!told)
                fail(error, cause, "cannot read " + source, result);
            break;
        }
        if (haveHeld) {
            const int64_t start = inStream->start_time != AV_NOPTS_VALUE ? inStream->start_time : 0;
            result = writeHeld(inStream->duration > 0 ? start + inStream->duration : AV_NOPTS_VALUE);
            if (result < 0) {
                fail(error, cause, "cannot write " + destination, result);
                break;
            }
        }
        if (abandonRequested(interrupt.opaque)) {
            result = AVERROR_EXIT;
            fail(error, cause, "finalising abandoned", result);
            break;
        }
        // With faststart the trailer moves the index in front of the media data.
        result = av_write_trailer(output);
        if (result < 0) {
            fail(error, cause, "cannot finish " + destination, result);
            break;
        }
        result = avio_closep(&output->pb);
        fileOpen = false;
        if (result < 0) {
            fail(error, cause, "cannot close " + destination, result);
            break;
        }
        ok = true;
    } while (false);

    av_packet_free(&packet);
    av_packet_free(&held);
    if (output) {
        if (fileOpen)
            avio_closep(&output->pb);
        avformat_free_context(output);
    }
    avformat_close_input(&input);
    if (!ok)
        QFile::remove(destination);
    return ok;
}

bool finaliseRecording(const QString &path, QString *error, const std::atomic<bool> *abandon, QString *cause,
                       const RecordingFile *recording)
{
    const QString temporary = path + ".finalising";
    if (!rewriteAsFastStartMp4(path, temporary, error, abandon, cause))
        return false;
    // The rewritten file reaches the disk before it replaces the recording:
    // renamed while its data are still in the page cache, a power cut could
    // otherwise leave an empty file where the recording was.
    {
        QFile written(temporary);
        if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0) {
            const int code = errno != 0 ? AVERROR(errno) : AVERROR(EIO);
            fail(error, cause, "cannot flush " + temporary + " to disk", code);
            written.close();
            QFile::remove(temporary);
            return false;
        }
    }
    // The rewrite takes a while: what stands at the path now may be another
    // file, which is not ours to replace.
    if (recording && !recording->isAt(path)) {
        fail(error, cause, path + " is no longer the recording", AVERROR(ENOENT));
        QFile::remove(temporary);
        return false;
    }
    std::error_code code;
    // Replaces the fragmented file in one step: at no moment is there no recording.
    std::filesystem::rename(std::filesystem::u8path(temporary.toStdString()),
                            std::filesystem::u8path(path.toStdString()), code);
    if (code) {
        fail(error, cause, "cannot replace " + path, AVERROR(code.value()));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

qint64 cutToCompleteFragments(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return -1;
    const qint64 size = file.size();
    // Walks the top-level boxes. A fragment is its "moof" and the "mdat"
    // after it: it counts only once its media data is complete too.
    qint64 position = 0;
    qint64 kept = 0;
    while (size - position >= 8) {
        if (!file.seek(position))
            return -1;
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 boxSize = 0;
        for (int i = 0; i < 4; ++i)
            boxSize = (boxSize << 8) | uint8_t(header[i]);
        const QByteArray type = header.mid(4, 4);
        if (boxSize == 1) {
            if (header.size() < 16)
                break;
            boxSize = 0;
            for (int i = 8; i < 16; ++i)
                boxSize = (boxSize << 8) | uint8_t(header[i]);
        } else if (boxSize == 0) {
            boxSize = quint64(size - position);  // runs to the end of the file
        }
        if (boxSize < 8 || boxSize > quint64(size - position))
            break;
        position += qint64(boxSize);
        if (type != "moof")
            kept = position;
    }
    // Nothing recognisable as a box: not ours to cut.
    if (kept == 0)
        return -1;
    if (kept < size && !file.resize(kept))
        return -1;
    return kept;
}
