// Helpers of the upgrade tests: package files of a given size and quick USB
// transfers.
#pragma once

#include "settings_ui_test_support.h"
#include "usb_upgrade.h"

#include <QFile>
#include <QTemporaryDir>

// A file of `size` bytes in `folder`, its bytes a fixed pseudo-random series.
inline QString writePackage(const QTemporaryDir &folder, const QString &name, qint64 size)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    quint32 state = 2463534242u;
    qint64 left = size;
    while (left > 0) {
        const int n = int(qMin<qint64>(left, chunk.size()));
        for (int i = 0; i < n; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            chunk[i] = char(state);
        }
        file.write(chunk.constData(), n);
        left -= n;
    }
    return path;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// USB transfer pauses short enough for tests, and few polls.
inline UsbTransferTiming quickTiming(int polls = 5)
{
    UsbTransferTiming timing;
    timing.startPauseMs = 0;
    timing.blockPauseMs = 0;
    timing.finishPauseMs = 0;
    timing.pollIntervalMs = 5;
    timing.polls = polls;
    return timing;
}
