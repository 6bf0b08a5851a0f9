#include "recording_support.h"

#include "frame_convert.h"
#include "mp4_finalise.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

namespace {

// The index code: 16-pixel blocks along the top, a white block, 12 bits
// (lowest first, white for 1) and a black block.
constexpr int kCodeBlock = 16;
constexpr int kCodeBits = 12;
constexpr int kCodeBlocks = kCodeBits + 2;

bool codeBlockIsWhite(const uint8_t *y, int stride, int block)
{
    int sum = 0;
    for (int row = 4; row < 12; ++row)
        for (int column = 4; column < 12; ++column)
            sum += y[size_t(row) * stride + block * kCodeBlock + column];
    return sum / 64 > 128;
}

int codedIndex(const uint8_t *y, int stride, int width, int height)
{
    if (width < kCodeBlocks * kCodeBlock || height < kCodeBlock || !codeBlockIsWhite(y, stride, 0)
        || codeBlockIsWhite(y, stride, kCodeBlocks - 1))
        return -1;
    int index = 0;
    for (int bit = 0; bit < kCodeBits; ++bit)
        index |= int(codeBlockIsWhite(y, stride, 1 + bit)) << bit;
    return index;
}

}  // namespace

VideoFrame syntheticFrame(int width, int height, int index, bool noise)
{
    std::vector<uint8_t> y(size_t(width) * height), u(size_t((width + 1) / 2) * ((height + 1) / 2)), v(u.size());
    if (noise) {
        std::mt19937 random(uint32_t(index) * 7919u + 1u);
        for (auto &byte : y)
            byte = uint8_t(random());
        for (auto &byte : u)
            byte = uint8_t(random());
        for (auto &byte : v)
            byte = uint8_t(random());
    } else {
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                y[size_t(row) * width + column] = uint8_t((row + column) / 4);
        const int side = std::max(8, height / 6);
        const int left = (index * 4) % std::max(1, width - side);
        for (int row = height / 3; row < height / 3 + side && row < height; ++row)
            for (int column = left; column < left + side; ++column)
                y[size_t(row) * width + column] = 235;
        if (width >= kCodeBlocks * kCodeBlock && height >= kCodeBlock) {
            for (int block = 0; block < kCodeBlocks; ++block) {
                const bool white = block == 0 || (block <= kCodeBits && (index >> (block - 1)) & 1);
                for (int row = 0; row < kCodeBlock; ++row)
                    std::fill_n(&y[size_t(row) * width + block * kCodeBlock], kCodeBlock, uint8_t(white ? 235 : 16));
            }
        }
        std::fill(u.begin(), u.end(), uint8_t(128 + index % 32));
        std::fill(v.begin(), v.end(), uint8_t(128 - index % 32));
    }
    return makeVideoFrameFromPlanes(width, height, y.data(), width, u.data(), (width + 1) / 2, v.data(),
                                    (width + 1) / 2);
}

QList<Mp4Box> mp4Boxes(const QString &path)
{
    QList<Mp4Box> boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 position = 0;
    while (position + 8 <= file.size() && boxes.size() < 100000) {
        file.seek(position);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 size = (quint64(uint8_t(header[0])) << 24) | (quint64(uint8_t(header[1])) << 16)
                       | (quint64(uint8_t(header[2])) << 8) | quint64(uint8_t(header[3]));
        if (size == 1 && header.size() >= 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | uint8_t(header[i]);
        }
        Mp4Box box;
        box.type = QString::fromLatin1(header.mid(4, 4));
        box.offset = position;
        box.size = qint64(size);
        boxes << box;
        if (size < 8)
            break;
        position += qint64(size);
    }
    return boxes;
}

namespace {

// Errors libav logs on a thread that is reading a recording go to that
// reading; everything is also logged as usual.
thread_local QStringList *readingErrors = nullptr;

void collectErrors(void *context, int level, const char *format, va_list arguments)
{
    if (readingErrors && level <= AV_LOG_ERROR) {
        va_list copy;
        va_copy(copy, arguments);
        char line[1024];
        std::vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        *readingErrors << QString::fromUtf8(line).trimmed();
    }
    av_log_default_callback(context, level, format, arguments);
}

QStringList topLevelBoxes(const QString &path)
{
    QStringList names;
    for (const Mp4Box &box : mp4Boxes(path))
        names << box.type;
    return names;
}

}  // namespace

RecordingInfo readRecording(const QString &path)
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(collectErrors); });
    RecordingInfo info;
    readingErrors = &info.errors;
    struct StopCollecting {
        ~StopCollecting() { readingErrors = nullptr; }
    } stopCollecting;
    info.topLevelBoxes = topLevelBoxes(path);
    AVFormatContext *input = nullptr;
    const QByteArray name = path.toUtf8();
    if (avformat_open_input(&input, name.constData(), nullptr, nullptr) < 0) {
        info.error = "cannot open";
        return info;
    }
    if (avformat_find_stream_info(input, nullptr) < 0)
        info.error = "no stream info";
    info.opened = true;
    info.streams = int(input->nb_streams);
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&input);
        return info;
    }
    AVStream *stream = input->streams[index];
    info.h264 = stream->codecpar->codec_id == AV_CODEC_ID_H264;
    info.width = stream->codecpar->width;
    info.height = stream->codecpar->height;

    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext *decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (decoder && (avcodec_parameters_to_context(decoder, stream->codecpar) < 0 || avcodec_open2(decoder, codec, nullptr) < 0))
        avcodec_free_context(&decoder);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    int64_t first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE;
    std::vector<int64_t> starts;
    auto drain = [&] {
        while (decoder && avcodec_receive_frame(decoder, frame) >= 0) {
            ++info.decodedFrames;
            info.frames << codedIndex(frame->data[0], frame->linesize[0], frame->width, frame->height);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == index) {
            ++info.packets;
            if (packet->pts != AV_NOPTS_VALUE) {
                starts.push_back(packet->pts);
                if (first == AV_NOPTS_VALUE || packet->pts < first)
                    first = packet->pts;
                const int64_t stop = packet->pts + std::max<int64_t>(packet->duration, 0);
                if (end == AV_NOPTS_VALUE || stop > end)
                    end = stop;
                if (last == AV_NOPTS_VALUE || packet->pts > last)
                    last = packet->pts;
            }
            if (decoder && avcodec_send_packet(decoder, packet) >= 0)
                drain();
        }
        av_packet_unref(packet);
    }
    if (decoder && avcodec_send_packet(decoder, nullptr) >= 0)
        drain();
    if (first != AV_NOPTS_VALUE) {
        info.durationSeconds = double(end - first) * av_q2d(stream->time_base);
        info.lastPacketSeconds = double(last - first) * av_q2d(stream->time_base);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t i = 1; i < starts.size(); ++i)
        info.longestGapSeconds = std::max(info.longestGapSeconds, double(starts[i] - starts[i - 1]) * av_q2d(stream->time_base));
    if (input->duration != AV_NOPTS_VALUE)
        info.containerDurationSeconds = double(input->duration) / AV_TIME_BASE;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return info;
}

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
