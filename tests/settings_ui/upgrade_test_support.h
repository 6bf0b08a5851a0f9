// Helpers of the upgrade and lock tests: answering the modal message boxes
// the dialogs show, package files of a given size, quick USB transfers.
#pragma once

#include "test_support.h"
#include "usb_upgrade.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Answers every modal message box while it lives: the button whose text is
// `answer`, or the first button. Records the boxes' titles and texts.
class MessageBoxes : public QObject
{
public:
    explicit MessageBoxes(QString answer = QString()) : answer_(std::move(answer))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    QStringList texts;
    QStringList titles;

    void setAnswer(const QString &answer) { answer_ = answer; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts << box->text();
        titles << box->windowTitle();
        QAbstractButton *chosen = box->buttons().isEmpty() ? nullptr : box->buttons().first();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer_)
                chosen = button;
        }
        if (chosen)
            chosen->click();
        else
            box->close();
    }

    QString answer_;
    QTimer timer_;
};

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
