// Firmware upgrade of a USB camera board in its upgrade mode (vendor 0x04B4,
// product 0x0480): the firmware file goes to the board over bulk USB
// transfers on a worker thread, then the board is asked, once a second, to
// confirm that it has written it.
//
// On the wire (endpoint 0x04 out, 0x84 in): a 12-byte start packet with the
// number of blocks, the file in 1024-byte blocks (the last one filled up with
// 0xFF), a 9-byte finish packet; the board answers a read with the 9-byte
// done reply once the firmware is written.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class QThread;

namespace usbboard {
class Bus;
class BulkEndpoint;
}

constexpr quint16 kUsbUpgradeVendorId = 0x04B4;
constexpr quint16 kUsbUpgradeProductId = 0x0480;
constexpr int kUsbUpgradeBlockSize = 1024;
// The start packet carries the block count in 16 bits.
constexpr qint64 kUsbUpgradeMaxBlocks = 0xFFFF;

// 81 01 04 72, the four nibbles of `blocks` from the highest (one a byte,
// 00 to 0F), FF 00 00 00.
QByteArray UsbUpgradeStartPacket(quint16 blocks);
// 91 01 04 72 00 00 00 00 FF.
QByteArray UsbUpgradeFinishPacket();
// 91 01 04 72 FF FF FF FF FF, sent by the board when it has written the firmware.
QByteArray UsbUpgradeDoneReply();
// Blocks a file of `fileSize` bytes takes; -1 for an empty file or one
// larger than the start packet can announce.
qint64 usbUpgradeBlockCount(qint64 fileSize);

// The board's claimed bulk endpoint pair for the current upgrade.
class UsbEndPoint
{
public:
    explicit UsbEndPoint(std::unique_ptr<usbboard::BulkEndpoint> endpoint);
    ~UsbEndPoint();
    UsbEndPoint(const UsbEndPoint &) = delete;
    UsbEndPoint &operator=(const UsbEndPoint &) = delete;

    bool hasEndpoint() const { return endpoint_ != nullptr; }
    // One bulk transfer out: the bytes the board took (-1 on an error before
    // any byte went out). 0 without an endpoint.
    int writeData(const char *data, int length);
    // One bulk transfer in, waiting at most a second: the bytes received, 0
    // when nothing came, -1 when the board has gone. 0 without an endpoint.
    int readData(char *data, int length);

    static constexpr int kWriteTimeoutMs = 2000;
    static constexpr int kReadTimeoutMs = 1000;

private:
    std::unique_ptr<usbboard::BulkEndpoint> endpoint_;
};

// The pauses of a transfer. The board needs them; tests shorten them.
struct UsbTransferTiming {
    int startPauseMs = 1000;    // after the start packet
    int blockPauseMs = 1;       // after each block
    int finishPauseMs = 1000;   // before the finish packet
    int pollIntervalMs = 1000;  // one read for the done reply each interval
    int polls = 300;            // reads before the board counts as silent
};

// Runs one transfer at a time on the upgrader's worker thread.
class UsbTransfer : public QObject
{
    Q_OBJECT
public:
    UsbTransfer() = default;

    // Only while no transfer runs; the queued start makes it visible to the worker.
    void setTiming(const UsbTransferTiming &timing) { timing_ = timing; }
    // Any thread: the running transfer stops at its next block, pause or poll
    // (within one USB time-out) and reports failure.
    void requestCancel();
    // Before queuing the next transfer.
    void clearCancel();

public slots:
    void onStartTransfer(QString filePath, UsbEndPoint *endPoint);

signals:
    void signalUsbTransferStatus(bool status);
    void signalProgressBarMaxSignal(qlonglong maxValue);
    void signalProgressBarValueSignal(qlonglong Value);
    void signalTextSignal(QString text);

private:
    bool transfer(const QString &filePath, UsbEndPoint &endPoint);
    bool sendPacket(UsbEndPoint &endPoint, const QByteArray &packet, const char *what);
    // Waits `milliseconds`; false when the transfer was cancelled meanwhile.
    bool pause(int milliseconds);
    bool cancelled() const { return cancelled_.load(); }

    UsbTransferTiming timing_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

class USBUpgrade : public QObject
{
    Q_OBJECT
public:
    explicit USBUpgrade(QObject *parent = nullptr);
    // A running transfer is cancelled and its thread waited for: at most one
    // USB time-out, never the board's five minutes of polls.
    ~USBUpgrade() override;

    // The bus the board is looked for on (the machine's by default). Tests only.
    void setBus(usbboard::Bus *bus) { bus_ = bus; }
    void setTiming(const UsbTransferTiming &timing);

    // Whether a board in upgrade mode is on the bus.
    bool isBoardPresent() const;
    // Checks the file (readable, not empty, not larger than the start packet
    // can announce), finds the board and its bulk endpoints, and queues the
    // transfer. False, with the reason in the log, when any of that fails or
    // a transfer is still running; the result of a started transfer arrives
    // as signalUsbTransferStatus.
    bool startUpgrade(QString path);
    bool isBusy() const { return endPoint_ != nullptr; }
    void cancel();

signals:
    void signalStartTransfer(QString filePath, UsbEndPoint *UsbEndPoint);
    void signalProgressBarMaxSignal(qlonglong maxValue);
    void signalProgressBarValueSignal(qlonglong Value);
    void signalTextSignal(QString text);
    void signalUsbTransferStatus(bool status);

private:
    void onTransferStatus(bool status);

    usbboard::Bus *bus_;
    std::unique_ptr<UsbEndPoint> endPoint_;  // held from the start until the status arrives
    QThread *thread_;
    UsbTransfer *transfer_;
};

Q_DECLARE_METATYPE(UsbEndPoint *)
