#include "mp4_finalise.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <filesystem>

#include <unistd.h>

namespace {

QString avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

bool fail(QString *error, const QString &what, int code)
{
    if (error)
        *error = what + ": " + avErrorText(code);
    return false;
}

}  // namespace

bool rewriteAsFastStartMp4(const QString &source, const QString &destination, QString *error)
{
    const QByteArray sourcePath = source.toUtf8();
    const QByteArray destinationPath = destination.toUtf8();
    AVFormatContext *input = nullptr;
    AVFormatContext *output = nullptr;
    AVPacket *packet = nullptr;
    bool fileOpen = false;
    bool ok = false;
    if (error)
        error->clear();
    int result = avformat_open_input(&input, sourcePath.constData(), nullptr, nullptr);
    do {
        if (result < 0) {
            fail(error, "cannot open " + source, result);
            break;
        }
        const int videoIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (videoIndex < 0) {
            fail(error, "no video stream in " + source, videoIndex);
            break;
        }
        AVStream *inStream = input->streams[videoIndex];
        result = avformat_alloc_output_context2(&output, av_guess_format("mp4", nullptr, nullptr), nullptr,
                                                destinationPath.constData());
        if (result < 0 || !output) {
            fail(error, "cannot set up " + destination, result);
            break;
        }
        AVStream *outStream = avformat_new_stream(output, nullptr);
        if (!outStream) {
            fail(error, "cannot add a stream", AVERROR(ENOMEM));
            break;
        }
        result = avcodec_parameters_copy(outStream->codecpar, inStream->codecpar);
        if (result < 0) {
            fail(error, "cannot copy the stream parameters", result);
            break;
        }
        outStream->codecpar->codec_tag = 0;
        outStream->time_base = inStream->time_base;
        outStream->avg_frame_rate = inStream->avg_frame_rate;
        result = avio_open(&output->pb, destinationPath.constData(), AVIO_FLAG_WRITE);
        if (result < 0) {
            fail(error, "cannot create " + destination, result);
            break;
        }
        fileOpen = true;
        AVDictionary *options = nullptr;
        av_dict_set(&options, "movflags", "faststart", 0);
        result = avformat_write_header(output, &options);
        av_dict_free(&options);
        if (result < 0) {
            fail(error, "cannot write the header of " + destination, result);
            break;
        }
        packet = av_packet_alloc();
        if (!packet) {
            fail(error, "out of memory", AVERROR(ENOMEM));
            break;
        }
        for (;;) {
            result = av_read_frame(input, packet);
            if (result < 0)
                break;
            if (packet->stream_index == videoIndex) {
                av_packet_rescale_ts(packet, inStream->time_base, outStream->time_base);
                packet->stream_index = 0;
                packet->pos = -1;
                result = av_write_frame(output, packet);
            }
            av_packet_unref(packet);
            if (result < 0) {
                fail(error, "cannot write " + destination, result);
                break;
            }
        }
        if (result < 0 && result != AVERROR_EOF) {
            if (error && error->isEmpty())
                fail(error, "cannot read " + source, result);
            break;
        }
        // With faststart the trailer moves the index in front of the media data.
        result = av_write_trailer(output);
        if (result < 0) {
            fail(error, "cannot finish " + destination, result);
            break;
        }
        result = avio_closep(&output->pb);
        fileOpen = false;
        if (result < 0) {
            fail(error, "cannot close " + destination, result);
            break;
        }
        ok = true;
    } while (false);

    av_packet_free(&packet);
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

bool finaliseRecording(const QString &path, QString *error)
{
    const QString temporary = path + ".finalising";
    if (!rewriteAsFastStartMp4(path, temporary, error))
        return false;
    // The rewritten file reaches the disk before it replaces the recording:
    // renamed while its data are still in the page cache, a power cut could
    // otherwise leave an empty file where the recording was.
    {
        QFile written(temporary);
        if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0) {
            if (error)
                *error = "cannot flush " + temporary + " to disk";
            written.close();
            QFile::remove(temporary);
            return false;
        }
    }
    std::error_code code;
    // Replaces the fragmented file in one step: at no moment is there no recording.
    std::filesystem::rename(std::filesystem::u8path(temporary.toStdString()),
                            std::filesystem::u8path(path.toStdString()), code);
    if (code) {
        if (error)
            *error = "cannot replace " + path + ": " + QString::fromStdString(code.message());
        QFile::remove(temporary);
        return false;
    }
    return true;
}
