// A board on a fake USB bus, for tests: it records every packet written to
// its OUT endpoint and answers reads on its IN endpoint from a list. Writes can
// be slowed down or cut short to play a slow or failing board. Not part of
// the program.
#pragma once

#include "usb_board.h"

#include <condition_variable>
#include <mutex>

namespace usbboard {

class FakeBoard
{
public:
    using Packet = std::vector<uint8_t>;

    // Every write as it came, in order (a short write keeps what the board took).
    std::vector<Packet> packets() const;
    size_t packetCount() const;
    // Waits at most `timeoutMs` until at least `count` packets came in.
    bool waitForPackets(size_t count, int timeoutMs) const;

    // Reads take these replies one by one; an empty one, or none left, is a
    // read that times out (after `readWaitMs`, at most the read's own time-out).
    void setReplies(std::vector<Packet> replies);
    void setReadWaitMs(int milliseconds);
    int readCount() const;

    // Write number `index` (0 is the first) takes only `accepted` bytes; -1 fails it.
    void cutWrite(size_t index, int accepted);
    // Every write takes this long before it is recorded.
    void setWriteDelayMs(int milliseconds);

    // Whether an endpoint of this board is open now, and how often one was.
    bool isOpen() const;
    int openCount() const;

private:
    friend class FakeBus;
    friend class FakeEndpoint;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Packet> packets_;
    std::vector<Packet> replies_;
    size_t nextReply_ = 0;
    int reads_ = 0;
    int readWaitMs_ = 0;
    size_t cutIndex_ = size_t(-1);
    int cutAccepted_ = 0;
    int writeDelayMs_ = 0;
    bool open_ = false;
    int opens_ = 0;
};

class FakeBus : public Bus
{
public:
    // A board with these ids whose first endpoint setting holds bulk endpoints
    // `outAddress` and `inAddress` (`bulk` false: interrupt endpoints instead).
    void addBoard(uint16_t vendorId, uint16_t productId, std::shared_ptr<FakeBoard> board,
                  uint8_t outAddress = 0x04, uint8_t inAddress = 0x84, bool bulk = true);
    // Any other device, without a board behind it.
    void addDevice(uint16_t vendorId, uint16_t productId);

    std::vector<DeviceInfo> devices() override;
    std::unique_ptr<BulkEndpoint> openBulk(uint16_t vendorId, uint16_t productId, uint8_t outAddress,
                                           uint8_t inAddress, std::string *error) override;

private:
    struct Entry {
        DeviceInfo info;
        std::shared_ptr<FakeBoard> board;
        uint8_t outAddress = 0;
        uint8_t inAddress = 0;
        bool bulk = true;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace usbboard
