// The USB board upgrade against a fake board that records every packet:
// packet layout, file sizes at the edges of the block count, short writes,
// cancelling, the end of the program during a transfer, and boards that are
// missing, mute or of the wrong kind.
#include "fake_board.h"
#include "upgrade_test_support.h"
#include "usb_upgrade.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

namespace {

using usbboard::FakeBoard;
using Packet = FakeBoard::Packet;

QByteArray bytes(const Packet &packet)
{
    return QByteArray(reinterpret_cast<const char *>(packet.data()), int(packet.size()));
}

Packet packetOf(const QByteArray &data)
{
    return Packet(data.begin(), data.end());
}

class UsbUpgradeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        board = std::make_shared<FakeBoard>();
        bus.addDevice(0x046D, 0x0825);  // some other device comes first
        bus.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, board);
        upgrade = std::make_unique<USBUpgrade>();
        upgrade->setBus(&bus);
        upgrade->setTiming(quickTiming());
        status = std::make_unique<QSignalSpy>(upgrade.get(), &USBUpgrade::signalUsbTransferStatus);
    }

    // Starts `path` and waits for the transfer's status.
    bool run(const QString &path)
    {
        if (!upgrade->startUpgrade(path))
            return false;
        return finished();
    }
    bool finished(int timeoutMs = 30000)
    {
        return waitFor([this] { return !status->isEmpty(); }, timeoutMs) && status->first().first().toBool();
    }
    // A one-block package sent to a board that is polled once a minute, for
    // hours: returns once the first poll has been made. Whatever waits for
    // the next poll shows by taking a minute.
    static constexpr int kPollIntervalMs = 60000;
    void startPollingForHours()
    {
        UsbTransferTiming timing = quickTiming(300);
        timing.pollIntervalMs = kPollIntervalMs;
        upgrade->setTiming(timing);
        ASSERT_TRUE(upgrade->startUpgrade(writePackage(folder, QStringLiteral("update.bin"), 1024)));
        ASSERT_TRUE(waitFor([&] { return board->readCount() >= 1; }));
    }
    // The board confirms at its `n`-th read after the finish packet.
    void confirmAtRead(int n)
    {
        std::vector<Packet> replies(size_t(n - 1));
        replies.push_back(packetOf(UsbUpgradeDoneReply()));
        board->setReplies(replies);
    }

    QTemporaryDir folder;
    usbboard::FakeBus bus;
    std::shared_ptr<FakeBoard> board;
    std::unique_ptr<USBUpgrade> upgrade;
    std::unique_ptr<QSignalSpy> status;
};

} // namespace

TEST(UsbUpgradePackets, StartPacketCarriesTheCountAsFourNibbles)
{
    EXPECT_EQ(UsbUpgradeStartPacket(0x1A3).toHex(' '), QByteArray("81 01 04 72 00 01 0a 03 ff 00 00 00"));
    EXPECT_EQ(UsbUpgradeStartPacket(2).toHex(' '), QByteArray("81 01 04 72 00 00 00 02 ff 00 00 00"));
    EXPECT_EQ(UsbUpgradeStartPacket(0xFFFF).toHex(' '), QByteArray("81 01 04 72 0f 0f 0f 0f ff 00 00 00"));
    EXPECT_EQ(UsbUpgradeFinishPacket().toHex(' '), QByteArray("91 01 04 72 00 00 00 00 ff"));
    EXPECT_EQ(UsbUpgradeDoneReply().toHex(' '), QByteArray("91 01 04 72 ff ff ff ff ff"));
}

TEST(UsbUpgradePackets, BlockCountCoversEveryByteWithinSixteenBits)
{
    EXPECT_EQ(usbUpgradeBlockCount(0), -1);
    EXPECT_EQ(usbUpgradeBlockCount(1), 1);
    EXPECT_EQ(usbUpgradeBlockCount(1024), 1);
    EXPECT_EQ(usbUpgradeBlockCount(1025), 2);
    EXPECT_EQ(usbUpgradeBlockCount(3 * 1024), 3);
    EXPECT_EQ(usbUpgradeBlockCount(0xFFFF * 1024LL), 0xFFFF);
    EXPECT_EQ(usbUpgradeBlockCount(0xFFFF * 1024LL + 1), -1);
}

TEST_F(UsbUpgradeTest, SendsStartEveryBlockAndFinishThenPollsForTheDoneReply)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 3 * 1024 + 5);
    confirmAtRead(3);
    QSignalSpy maximum(upgrade.get(), &USBUpgrade::signalProgressBarMaxSignal);
    QSignalSpy value(upgrade.get(), &USBUpgrade::signalProgressBarValueSignal);
    QSignalSpy text(upgrade.get(), &USBUpgrade::signalTextSignal);
    ASSERT_TRUE(run(path));

    const std::vector<Packet> packets = board->packets();
    ASSERT_EQ(packets.size(), 6u);  // start, four blocks, finish
    EXPECT_EQ(bytes(packets[0]), UsbUpgradeStartPacket(4));
    QByteArray sent;
    for (size_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(packets[i].size(), 1024u) << "block " << i;
        sent += bytes(packets[i]);
    }
    const QByteArray file = fileBytes(path);
    EXPECT_EQ(sent.left(file.size()), file);
    EXPECT_EQ(sent.mid(file.size()), QByteArray(4 * 1024 - file.size(), char(0xFF)));  // the last block filled up
    EXPECT_EQ(bytes(packets[5]), UsbUpgradeFinishPacket());
    EXPECT_EQ(board->readCount(), 3);

    // Bytes sent of the file's size, then the polls.
    ASSERT_GE(maximum.size(), 2);
    EXPECT_EQ(maximum.first().first().toLongLong(), file.size());
    EXPECT_EQ(maximum.last().first().toLongLong(), 5);
    EXPECT_TRUE(value.contains(QVariantList{qlonglong(file.size())}));
    EXPECT_EQ(value.last().first().toLongLong(), 5);
    ASSERT_EQ(text.size(), 1);
    EXPECT_EQ(text.first().first().toString(), QStringLiteral("Writing an upgrade file !"));
    EXPECT_TRUE(waitFor([&] { return !board->isOpen(); })) << "the endpoint is released after the status";
    EXPECT_FALSE(upgrade->isBusy());
}

TEST_F(UsbUpgradeTest, AnswersOtherThanTheDoneReplyKeepItPolling)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 2048);
    const QByteArray almost = QByteArray::fromHex("910104720000000000");
    board->setReplies({packetOf(almost), Packet{0x91, 0x01}, packetOf(UsbUpgradeDoneReply())});
    EXPECT_TRUE(run(path));
    EXPECT_EQ(board->readCount(), 3);
}

TEST_F(UsbUpgradeTest, BoardThatNeverConfirmsFailsAfterItsPolls)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 2048);
    QSignalSpy value(upgrade.get(), &USBUpgrade::signalProgressBarValueSignal);
    EXPECT_FALSE(run(path));
    EXPECT_EQ(board->readCount(), 5);
    EXPECT_EQ(value.last().first().toLongLong(), 5);
    EXPECT_EQ(bytes(board->packets().back()), UsbUpgradeFinishPacket());
}

namespace {

struct SizeCase {
    qint64 size;
    int blocks;  // -1: refused before anything is sent
};

class UsbUpgradeSizes : public UsbUpgradeTest, public ::testing::WithParamInterface<SizeCase>
{
};

} // namespace

TEST_P(UsbUpgradeSizes, EveryByteIsSentAndTheCountAnnouncesTheBlocks)
{
    const SizeCase edge = GetParam();
    const QString path = writePackage(folder, QStringLiteral("update.bin"), edge.size);
    confirmAtRead(1);
    if (edge.blocks < 0) {
        EXPECT_FALSE(upgrade->startUpgrade(path));
        EXPECT_EQ(board->packetCount(), 0u);
        EXPECT_EQ(board->openCount(), 0);
        return;
    }
    ASSERT_TRUE(run(path));
    const std::vector<Packet> packets = board->packets();
    ASSERT_EQ(packets.size(), size_t(edge.blocks) + 2);
    EXPECT_EQ(bytes(packets.front()), UsbUpgradeStartPacket(quint16(edge.blocks)));
    EXPECT_EQ(bytes(packets.back()), UsbUpgradeFinishPacket());
    QCryptographicHash sent(QCryptographicHash::Sha256);
    qint64 left = edge.size;
    for (size_t i = 1; i + 1 < packets.size(); ++i) {
        ASSERT_EQ(packets[i].size(), 1024u);
        const int data = int(qMin<qint64>(left, 1024));
        sent.addData(reinterpret_cast<const char *>(packets[i].data()), data);
        left -= data;
    }
    EXPECT_EQ(left, 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QCryptographicHash expected(QCryptographicHash::Sha256);
    expected.addData(&file);
    EXPECT_EQ(sent.result().toHex(), expected.result().toHex());
}

INSTANTIATE_TEST_SUITE_P(Edges, UsbUpgradeSizes,
                         ::testing::Values(SizeCase{0, -1}, SizeCase{1, 1}, SizeCase{1024, 1}, SizeCase{1025, 2},
                                           SizeCase{0xFFFF * 1024LL, 0xFFFF}, SizeCase{0xFFFF * 1024LL + 1, -1}));

TEST_F(UsbUpgradeTest, ShortBlockWriteStopsWithoutTheFinishPacket)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 4 * 1024);
    confirmAtRead(1);
    board->cutWrite(2, 512);  // the second block
    EXPECT_FALSE(run(path));
    const std::vector<Packet> packets = board->packets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2].size(), 512u);
    EXPECT_EQ(board->readCount(), 0) << "no poll without a finish packet";
}

TEST_F(UsbUpgradeTest, FailedStartPacketSendsNoBlock)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 4 * 1024);
    board->cutWrite(0, -1);
    EXPECT_FALSE(run(path));
    EXPECT_EQ(board->packetCount(), 0u);
}

TEST_F(UsbUpgradeTest, ShortFinishPacketIsNotPolled)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 1024);
    confirmAtRead(1);
    board->cutWrite(2, 4);
    EXPECT_FALSE(run(path));
    EXPECT_EQ(board->readCount(), 0);
}

TEST_F(UsbUpgradeTest, CancelStopsMidTransferWithoutTheFinishPacket)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 400 * 1024);
    confirmAtRead(1);
    board->setWriteDelayMs(3);
    ASSERT_TRUE(upgrade->startUpgrade(path));
    ASSERT_TRUE(board->waitForPackets(20, 10000));
    upgrade->cancel();
    EXPECT_FALSE(finished(5000));
    ASSERT_EQ(status->size(), 1);
    const std::vector<Packet> packets = board->packets();
    EXPECT_LT(packets.size(), 100u);
    EXPECT_NE(bytes(packets.back()), UsbUpgradeFinishPacket());
    EXPECT_FALSE(upgrade->isBusy());

    // The next upgrade starts afresh.
    board->setWriteDelayMs(0);
    status->clear();
    EXPECT_TRUE(run(path));
}

TEST_F(UsbUpgradeTest, CancelDuringThePollsEndsThemAtOnce)
{
    startPollingForHours();
    upgrade->cancel();
    EXPECT_FALSE(finished(kPollIntervalMs / 2));
    EXPECT_EQ(status->size(), 1);
}

TEST_F(UsbUpgradeTest, SecondStartWhileOneRunsIsRefused)
{
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 100 * 1024);
    confirmAtRead(1);
    board->setWriteDelayMs(2);
    ASSERT_TRUE(upgrade->startUpgrade(path));
    ASSERT_TRUE(board->waitForPackets(5, 10000));
    EXPECT_FALSE(upgrade->startUpgrade(path));
    EXPECT_TRUE(finished());
    EXPECT_EQ(status->size(), 1);
    EXPECT_EQ(board->packetCount(), 102u);
    EXPECT_EQ(board->openCount(), 1);
}

TEST_F(UsbUpgradeTest, EndOfTheProgramDoesNotWaitForTheBoard)
{
    startPollingForHours();
    QElapsedTimer elapsed;
    elapsed.start();
    status.reset();
    upgrade.reset();
    EXPECT_LT(elapsed.elapsed(), kPollIntervalMs / 2);
    EXPECT_FALSE(board->isOpen());
}

TEST_F(UsbUpgradeTest, FileThatCannotBeReadIsRefusedBeforeTheBoardIsOpened)
{
    EXPECT_FALSE(upgrade->startUpgrade(folder.filePath(QStringLiteral("missing_update.bin"))));
    EXPECT_FALSE(upgrade->startUpgrade(folder.path()));  // a folder
    EXPECT_EQ(board->openCount(), 0);
}

TEST(UsbUpgradeBoards, MissingOrWrongBoardStartsNothing)
{
    QTemporaryDir folder;
    const QString path = writePackage(folder, QStringLiteral("update.bin"), 2048);
    USBUpgrade upgrade;

    usbboard::FakeBus empty;
    upgrade.setBus(&empty);
    EXPECT_FALSE(upgrade.isBoardPresent());
    EXPECT_FALSE(upgrade.startUpgrade(path));

    usbboard::FakeBus interruptOnly;
    auto board = std::make_shared<FakeBoard>();
    interruptOnly.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, board, 0x04, 0x84, false);
    upgrade.setBus(&interruptOnly);
    EXPECT_TRUE(upgrade.isBoardPresent());
    EXPECT_FALSE(upgrade.startUpgrade(path));

    usbboard::FakeBus otherEndpoint;
    otherEndpoint.addBoard(kUsbUpgradeVendorId, kUsbUpgradeProductId, board, 0x02, 0x86);
    upgrade.setBus(&otherEndpoint);
    EXPECT_FALSE(upgrade.startUpgrade(path));
    EXPECT_EQ(board->packetCount(), 0u);
}

TEST(UsbUpgradeBoards, MachineWithoutABoardInUpgradeModeStartsNothing)
{
    USBUpgrade upgrade;  // the machine's own buses through libusb
    if (upgrade.isBoardPresent())
        GTEST_SKIP() << "a board in upgrade mode is attached to this machine";
    QTemporaryDir folder;
    EXPECT_FALSE(upgrade.startUpgrade(writePackage(folder, QStringLiteral("update.bin"), 2048)));
    EXPECT_FALSE(upgrade.isBusy());
}
