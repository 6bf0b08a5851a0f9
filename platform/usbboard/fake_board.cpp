#include "fake_board.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace usbboard {

class FakeEndpoint : public BulkEndpoint
{
public:
    explicit FakeEndpoint(std::shared_ptr<FakeBoard> board) : board_(std::move(board)) {}
    ~FakeEndpoint() override
    {
        std::lock_guard<std::mutex> lock(board_->mutex_);
        board_->open_ = false;
        board_->changed_.notify_all();
    }

    int write(const uint8_t *data, int length, int timeoutMs) override
    {
        int delay;
        {
            std::lock_guard<std::mutex> lock(board_->mutex_);
            delay = board_->writeDelayMs_;
        }
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        std::lock_guard<std::mutex> lock(board_->mutex_);
        int accepted = length;
        if (board_->packets_.size() == board_->cutIndex_)
            accepted = std::min(board_->cutAccepted_, length);
        if (accepted >= 0)
            board_->packets_.emplace_back(data, data + accepted);
        board_->changed_.notify_all();
        return accepted;
    }

    int read(uint8_t *data, int length, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(board_->mutex_);
        ++board_->reads_;
        FakeBoard::Packet reply;
        if (board_->nextReply_ < board_->replies_.size())
            reply = board_->replies_[board_->nextReply_++];
        if (reply.empty()) {
            const int wait = std::min(board_->readWaitMs_, timeoutMs);
            lock.unlock();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            return 0;
        }
        const int count = std::min(int(reply.size()), length);
        std::copy_n(reply.begin(), count, data);
        return count;
    }

private:
    std::shared_ptr<FakeBoard> board_;
};

std::vector<FakeBoard::Packet> FakeBoard::packets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
}

size_t FakeBoard::packetCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_.size();
}

bool FakeBoard::waitForPackets(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return packets_.size() >= count; });
}

void FakeBoard::setReplies(std::vector<Packet> replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_ = std::move(replies);
    nextReply_ = 0;
}

void FakeBoard::setReadWaitMs(int milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readWaitMs_ = milliseconds;
}

int FakeBoard::readCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

void FakeBoard::cutWrite(size_t index, int accepted)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cutIndex_ = index;
    cutAccepted_ = accepted;
}

void FakeBoard::setWriteDelayMs(int milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writeDelayMs_ = milliseconds;
}

bool FakeBoard::isOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

int FakeBoard::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

void FakeBus::addBoard(uint16_t vendorId, uint16_t productId, std::shared_ptr<FakeBoard> board, uint8_t outAddress,
                       uint8_t inAddress, bool bulk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Entry entry;
    entry.info.vendorId = vendorId;
    entry.info.productId = productId;
    entry.info.path = "1-" + std::to_string(entries_.size() + 1);
    entry.board = std::move(board);
    entry.outAddress = outAddress;
    entry.inAddress = inAddress;
    entry.bulk = bulk;
    entries_.push_back(std::move(entry));
}

void FakeBus::addDevice(uint16_t vendorId, uint16_t productId)
{
    addBoard(vendorId, productId, nullptr);
}

std::vector<DeviceInfo> FakeBus::devices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DeviceInfo> found;
    for (const Entry &entry : entries_)
        found.push_back(entry.info);
    return found;
}

std::unique_ptr<BulkEndpoint> FakeBus::openBulk(uint16_t vendorId, uint16_t productId, uint8_t outAddress,
                                                uint8_t inAddress, std::string *error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) {
        return e.info.vendorId == vendorId && e.info.productId == productId;
    });
    std::string why;
    if (entry == entries_.end())
        why = "no such device";
    else if (!entry->board || !entry->bulk || entry->outAddress != outAddress || entry->inAddress != inAddress)
        why = "the device has no bulk endpoint pair there";
    if (!why.empty()) {
        if (error)
            *error = why;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> boardLock(entry->board->mutex_);
        entry->board->open_ = true;
        ++entry->board->opens_;
    }
    return std::make_unique<FakeEndpoint>(entry->board);
}

} // namespace usbboard
