#include "usb_upgrade.h"

#include "usb_board.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <chrono>
#include <cstring>

namespace {

QDebug logLine()
{
    return qDebug().nospace().noquote();
}

// Progress goes out every this many bytes (and after the last block): a
// signal per 1024-byte block would flood the GUI thread.
constexpr qint64 kProgressStep = 64 * 1024;

} // namespace

QByteArray UsbUpgradeStartPacket(quint16 blocks)
{
    const char packet[12] = {char(0x81),
                             0x01,
                             0x04,
                             0x72,
                             char((blocks >> 12) & 0x0F),
                             char((blocks >> 8) & 0x0F),
                             char((blocks >> 4) & 0x0F),
                             char(blocks & 0x0F),
                             char(0xFF),
                             0x00,
                             0x00,
                             0x00};
    return QByteArray(packet, sizeof packet);
}

QByteArray UsbUpgradeFinishPacket()
{
    const char packet[9] = {char(0x91), 0x01, 0x04, 0x72, 0x00, 0x00, 0x00, 0x00, char(0xFF)};
    return QByteArray(packet, sizeof packet);
}

QByteArray UsbUpgradeDoneReply()
{
    const char reply[9] = {char(0x91), 0x01, 0x04, 0x72, char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF)};
    return QByteArray(reply, sizeof reply);
}

qint64 usbUpgradeBlockCount(qint64 fileSize)
{
    if (fileSize <= 0)
        return -1;
    const qint64 blocks = (fileSize + kUsbUpgradeBlockSize - 1) / kUsbUpgradeBlockSize;
    return blocks <= kUsbUpgradeMaxBlocks ? blocks : -1;
}

// ---- UsbEndPoint ----

UsbEndPoint::UsbEndPoint(std::unique_ptr<usbboard::BulkEndpoint> endpoint) : endpoint_(std::move(endpoint)) {}

UsbEndPoint::~UsbEndPoint() = default;

int UsbEndPoint::writeData(const char *data, int length)
{
    if (!endpoint_)
        return 0;
    return endpoint_->write(reinterpret_cast<const uint8_t *>(data), length, kWriteTimeoutMs);
}

int UsbEndPoint::readData(char *data, int length)
{
    if (!endpoint_)
        return 0;
    return endpoint_->read(reinterpret_cast<uint8_t *>(data), length, kReadTimeoutMs);
}

// ---- UsbTransfer ----

void UsbTransfer::requestCancel()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

void UsbTransfer::clearCancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = false;
}

bool UsbTransfer::pause(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds > 0)
        wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return cancelled_.load(); });
    return !cancelled_;
}

void UsbTransfer::onStartTransfer(QString filePath, UsbEndPoint *endPoint)
{
    const bool result = endPoint && transfer(filePath, *endPoint);
    if (cancelled())
        logLine() << "USB upgrade cancelled.";
    emit signalUsbTransferStatus(result);
}

bool UsbTransfer::sendPacket(UsbEndPoint &endPoint, const QByteArray &packet, const char *what)
{
    const int transferred = endPoint.writeData(packet.constData(), packet.size());
    if (transferred == packet.size())
        return true;
    logLine() << "USB upgrade: the " << what << " packet went out with " << transferred << " of " << packet.size()
              << " bytes";
    return false;
}

bool UsbTransfer::transfer(const QString &filePath, UsbEndPoint &endPoint)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        logLine() << "USB upgrade: cannot open " << filePath << ": " << file.errorString();
        return false;
    }
    const qint64 size = file.size();
    const qint64 blocks = usbUpgradeBlockCount(size);
    if (blocks < 0) {
        logLine() << "USB upgrade: a file of " << size << " bytes cannot be sent";
        return false;
    }
    emit signalProgressBarMaxSignal(size);
    emit signalProgressBarValueSignal(0);

    if (!sendPacket(endPoint, UsbUpgradeStartPacket(quint16(blocks)), "start") || !pause(timing_.startPauseMs))
        return false;

    // A short block, a short read or a short write ends the transfer before the
    // finish packet: the board must not write a firmware it did not get whole.
    QByteArray block(kUsbUpgradeBlockSize, char(0xFF));
    qint64 sent = 0;
    qint64 reported = 0;
    for (qint64 index = 0; index < blocks; ++index) {
        if (cancelled())
            return false;
        const qint64 wanted = qMin<qint64>(kUsbUpgradeBlockSize, size - sent);
        block.fill(char(0xFF));
        qint64 got = 0;
        while (got < wanted) {
            const qint64 n = file.read(block.data() + got, wanted - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (got != wanted) {
            logLine() << "USB upgrade: reading " << filePath << " stopped at byte " << sent + got << " of " << size;
            return false;
        }
        const int transferred = endPoint.writeData(block.constData(), block.size());
        if (transferred != block.size()) {
            logLine() << "USB upgrade: block " << index + 1 << " of " << blocks << " went out with " << transferred
                      << " of " << block.size() << " bytes";
            return false;
        }
        sent += wanted;
        if (sent - reported >= kProgressStep || sent == size) {
            emit signalProgressBarValueSignal(sent);
            reported = sent;
        }
        if (!pause(timing_.blockPauseMs))
            return false;
    }
    file.close();

    emit signalProgressBarValueSignal(0);
    emit signalProgressBarMaxSignal(timing_.polls);
    emit signalTextSignal(tr("Writing an upgrade file !"));
    if (!pause(timing_.finishPauseMs) || !sendPacket(endPoint, UsbUpgradeFinishPacket(), "finish"))
        return false;

    const QByteArray done = UsbUpgradeDoneReply();
    for (int poll = 0; poll < timing_.polls; ++poll) {
        emit signalProgressBarValueSignal(poll);
        QElapsedTimer elapsed;
        elapsed.start();
        char reply[9] = {};
        const int received = endPoint.readData(reply, int(sizeof reply));
        if (received == done.size() && std::memcmp(reply, done.constData(), sizeof reply) == 0) {
            emit signalProgressBarValueSignal(timing_.polls);
            return true;
        }
        if (received < 0) {
            logLine() << "USB upgrade: the board went away before it confirmed the firmware";
            return false;
        }
        if (!pause(timing_.pollIntervalMs - int(elapsed.elapsed())))
            return false;
    }
    logLine() << "USB upgrade: the board did not confirm the firmware within " << timing_.polls << " polls";
    emit signalProgressBarValueSignal(timing_.polls);
    return false;
}

// ---- USBUpgrade ----

USBUpgrade::USBUpgrade(QObject *parent)
    : QObject(parent), bus_(&usbboard::systemBus()), thread_(new QThread), transfer_(new UsbTransfer)
{
    qRegisterMetaType<UsbEndPoint *>("UsbEndPoint*");
    transfer_->moveToThread(thread_);
    connect(this, &USBUpgrade::signalStartTransfer, transfer_, &UsbTransfer::onStartTransfer);
    connect(transfer_, &UsbTransfer::signalProgressBarMaxSignal, this, &USBUpgrade::signalProgressBarMaxSignal);
    connect(transfer_, &UsbTransfer::signalProgressBarValueSignal, this, &USBUpgrade::signalProgressBarValueSignal);
    connect(transfer_, &UsbTransfer::signalTextSignal, this, &USBUpgrade::signalTextSignal);
    connect(transfer_, &UsbTransfer::signalUsbTransferStatus, this, &USBUpgrade::onTransferStatus);
    thread_->start(QThread::InheritPriority);
}

USBUpgrade::~USBUpgrade()
{
    transfer_->requestCancel();
    thread_->quit();
    thread_->wait();
    delete transfer_;
    delete thread_;
}

void USBUpgrade::setTiming(const UsbTransferTiming &timing)
{
    if (!isBusy())
        transfer_->setTiming(timing);
}

bool USBUpgrade::isBoardPresent() const
{
    for (const usbboard::DeviceInfo &device : bus_->devices()) {
        if (device.vendorId == kUsbUpgradeVendorId && device.productId == kUsbUpgradeProductId)
            return true;
    }
    return false;
}

bool USBUpgrade::startUpgrade(QString path)
{
    if (isBusy()) {
        logLine() << "USB upgrade: a transfer is still running; " << path << " is not started";
        return false;
    }
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            logLine() << "USB upgrade: cannot open " << path << ": " << file.errorString();
            return false;
        }
        if (usbUpgradeBlockCount(file.size()) < 0) {
            logLine() << "USB upgrade: a file of " << file.size() << " bytes cannot be sent (1 to "
                      << kUsbUpgradeMaxBlocks * kUsbUpgradeBlockSize << " bytes)";
            return false;
        }
    }

    const std::vector<usbboard::DeviceInfo> devices = bus_->devices();
    logLine() << "nDeviceCountnDeviceCountnDeviceCount " << devices.size();
    for (const usbboard::DeviceInfo &device : devices) {
        logLine() << "DeviceName " << QString::fromStdString(device.path);
        logLine() << "VendorID " << QString::asprintf("%.04x", device.vendorId);
        logLine() << "ProductID " << QString::asprintf("%X", device.productId);
    }
    std::string why;
    std::unique_ptr<usbboard::BulkEndpoint> endpoint =
        bus_->openBulk(kUsbUpgradeVendorId, kUsbUpgradeProductId, 0x04, 0x84, &why);
    if (!endpoint) {
        logLine() << "CCyUSBEndPoint * pUsbEndPoint is nullptr (" << QString::fromStdString(why) << ")";
        return false;
    }
    endPoint_ = std::make_unique<UsbEndPoint>(std::move(endpoint));
    transfer_->clearCancel();
    emit signalStartTransfer(path, endPoint_.get());
    return true;
}

void USBUpgrade::cancel()
{
    if (isBusy())
        transfer_->requestCancel();
}

void USBUpgrade::onTransferStatus(bool status)
{
    endPoint_.reset();
    emit signalUsbTransferStatus(status);
}
