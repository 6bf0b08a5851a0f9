// The RTSP and HTTP-FLV drivers on their own: message framing, RTP
// depacketising into access units, FLV tags into media objects, and every
// length a peer could lie about.
#include <gtest/gtest.h>

#include "sim_stream.h"
#include "test_util.h"

using namespace simcam;
using trovixtest::DriverHarness;
using trovixtest::Posted;

namespace {

const std::string SC("\0\0\0\1", 4);

std::string reply(const std::string &headers, const std::string &body = {})
{
    return "RTSP/1.0 200 OK\r\nCSeq: 1\r\n" + headers + "\r\n" + body;
}

std::string video(uint16_t seq, uint32_t ts, const std::string &payload, bool marker = false)
{
    return interleaved(0, rtpPacket(96, seq, ts, marker, payload));
}

Nal nal(uint8_t header, size_t size, char fill = 'x')
{
    return Nal(1, static_cast<char>(header)) + std::string(size - 1, fill);
}

// A text, then one packet of a later time stamp to push the unit out.
Posted run(DriverHarness &h, const std::string &bytes)
{
    h.mem.feed(bytes);
    h.pump();
    return h.drain();
}

const Nal SPS = nal(0x67, 12, 's');
const Nal PPS = nal(0x68, 4, 'p');
const Nal IDR = nal(0x65, 3000, 'i');
const Nal SLICE = nal(0x41, 200, 'n');

} // namespace

TEST(RtspFraming, RepliesEndAtTheEmptyLineOrAfterTheirBody)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto p = run(h, reply("") + "RTSP/1.0 200 OK\r\nCSeq: 2\r\ncontent-length: 12\r\n\r\nv=0\r\ns=a\r\n\r\n");
    ASSERT_EQ(p.texts.size(), 2u);
    EXPECT_EQ(p.texts[0], "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n");
    EXPECT_EQ(p.texts[1].substr(p.texts[1].size() - 12), "v=0\r\ns=a\r\n\r\n");
    EXPECT_TRUE(p.events.empty());
}

TEST(RtspFraming, AReplyAndAPacketInOneReceiveAreBothHandled)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto p = run(h, reply("Session: 1\r\n") + video(1, 9000, SLICE) + video(2, 12000, SLICE));
    EXPECT_EQ(p.texts.size(), 1u);
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
    EXPECT_EQ(p.heads[0].media_type, 2);
    EXPECT_EQ(p.heads[0].frame_kind, 2);
    EXPECT_EQ(p.heads[0].tag, 0x0120);
    EXPECT_EQ(p.heads[0].pts_us, 100000u);
}

TEST(RtspFraming, SplitIntoSingleBytesGivesTheSameUnits)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    h.mem.chunks = { 1, 7, 3 };
    std::string bytes = reply("") + video(1, 0, SPS) + video(2, 0, PPS);
    uint16_t seq = 3;
    for (const std::string &p : packetise(IDR, 500))
        bytes += video(seq++, 0, p);
    bytes += video(seq, 3000, SLICE);
    auto p = run(h, bytes);
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + IDR);
    EXPECT_EQ(p.heads[0].frame_kind, 1);
}

TEST(RtspFraming, ContentLengthMustBeAPlainNumberThatFits)
{
    {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, "RTSP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nabc");
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
    {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, "RTSP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\nabc");
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
    {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, "RTSP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc");
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
    {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, "RTSP/1.0 200 OK\r\nContent-Length: 69630\r\n\r\nabc");
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
    {
        // A header that never ends fills the buffer.
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, "RTSP/1.0 200 OK\r\n" + std::string(80000, 'a'));
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
    }
}

TEST(RtspDepacketiser, RtcpAndOtherChannelsAreConsumedWithoutEffect)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto p = run(h, interleaved(1, std::string("\x80\xC8\x00\x01", 4) + "abcd") +
                        interleaved(2, rtpPacket(8, 1, 0, true, std::string(160, 'a'))) + video(1, 0, SLICE) +
                        interleaved(3, "x") + video(2, 3000, SLICE));
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
}

TEST(RtspDepacketiser, FuAStartMiddleEndBecomeOneNalWithItsHeader)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto frags = packetise(IDR, 1000);
    ASSERT_EQ(frags.size(), 4u);
    std::string bytes;
    uint16_t seq = 1;
    for (const auto &f : frags)
        bytes += video(seq++, 90000, f);
    auto p = run(h, bytes + video(seq, 93000, SLICE));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + IDR);
    EXPECT_EQ(p.heads[0].frame_kind, 1);
    EXPECT_EQ(p.heads[0].pts_us, 1000000u);
}

TEST(RtspDepacketiser, PacketsOfOneTimeStampMakeOneUnitAndTheNextFlushesIt)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto p = run(h, video(1, 3000, SLICE) + video(2, 3000, SLICE));
    EXPECT_TRUE(p.media.empty());
    p = run(h, video(3, 6000, SLICE));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE + SC + SLICE);
}

TEST(RtspDepacketiser, CsrcEntriesExtensionAndPaddingAreSkippedByTheirLengths)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    std::string pkt = rtpPacket(96, 1, 0, false, SLICE, 3, std::string(8, 'e'), 4);
    auto p = run(h, interleaved(0, pkt) + video(2, 3000, SLICE));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
}

TEST(RtspDepacketiser, HeadersThatRunPastThePacketAreBadFrames)
{
    {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, interleaved(0, std::string("\x80\x60\x00\x01", 4) + "1234567"));
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
    {
        // Extension header announcing 100 words in a 20-byte packet.
        DriverHarness h(rtsp_driver(), NP_RTSP);
        std::string pkt = rtpPacket(96, 1, 0, false, "");
        pkt[0] = static_cast<char>(0x90);
        pkt += std::string("\xBE\xDE\x00\x64", 4) + "abcd";
        auto p = run(h, interleaved(0, pkt));
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
    {
        // The extension flag without room for the extension header.
        DriverHarness h(rtsp_driver(), NP_RTSP);
        std::string pkt = rtpPacket(96, 1, 0, false, "ab");
        pkt[0] = static_cast<char>(0x90);
        auto p = run(h, interleaved(0, pkt));
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
    {
        // Padding longer than the payload.
        DriverHarness h(rtsp_driver(), NP_RTSP);
        std::string pkt = rtpPacket(96, 1, 0, false, "abc");
        pkt[0] = static_cast<char>(0xA0);
        pkt.back() = static_cast<char>(200);
        auto p = run(h, interleaved(0, pkt));
        EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
    }
}

TEST(RtspDepacketiser, ShortPayloadsAndFragmentsWithoutAStartAreDropped)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto frags = packetise(IDR, 1000);
    std::string bytes = video(1, 0, "") +               // no NAL header
                        video(2, 0, std::string(1, '\x7C')) + // FU-A without its FU header
                        video(3, 0, std::string("\x7D\x85\x00", 3)) + // FU-B without its order number
                        video(4, 0, frags[1]) + video(5, 0, frags[2]) + video(6, 0, frags[3]) + // no start
                        video(7, 3000, SLICE) + video(8, 6000, SLICE);
    auto p = run(h, bytes);
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
}

// A fragmented NAL unit goes on only with the next sequence number, where
// 0 follows 65535; a lost, repeated or late packet drops that unit alone.
TEST(RtspDepacketiser, FragmentsContinueOnlyWithTheNextSequenceNumberAcrossTheWrap)
{
    const Nal idr = nal(0x65, 41, 'i');
    auto frags = packetise(idr, 12); // start, middle, middle, end
    ASSERT_EQ(frags.size(), 4u);
    struct Row {
        const char *name;
        std::vector<std::pair<uint16_t, size_t>> packets; // sequence number, fragment
        bool whole;
    };
    const Row rows[] = {
        { "in order over the wrap", { { 65534, 0 }, { 65535, 1 }, { 0, 2 }, { 1, 3 } }, true },
        { "the start on 65535", { { 65535, 0 }, { 0, 1 }, { 1, 2 }, { 2, 3 } }, true },
        { "the end on 0", { { 65533, 0 }, { 65534, 1 }, { 65535, 2 }, { 0, 3 } }, true },
        { "in order without a wrap", { { 1000, 0 }, { 1001, 1 }, { 1002, 2 }, { 1003, 3 } }, true },
        { "0 lost", { { 65534, 0 }, { 65535, 1 }, { 1, 2 }, { 2, 3 } }, false },
        { "65535 lost", { { 65533, 0 }, { 65534, 1 }, { 0, 2 }, { 1, 3 } }, false },
        { "a gap without a wrap", { { 1000, 0 }, { 1001, 1 }, { 1003, 2 }, { 1004, 3 } }, false },
        { "0 repeated", { { 65535, 0 }, { 0, 1 }, { 0, 1 }, { 1, 2 }, { 2, 3 } }, false },
        { "65535 arriving after 0", { { 65534, 0 }, { 0, 2 }, { 65535, 1 }, { 1, 3 } }, false },
    };
    for (const Row &row : rows) {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        uint16_t seq = static_cast<uint16_t>(row.packets.front().first - 1);
        std::string bytes = video(seq, 0, SPS);
        for (const auto &[s, frag] : row.packets)
            bytes += video(seq = s, 0, frags[frag]);
        auto p = run(h, bytes + video(static_cast<uint16_t>(seq + 1), 3000, SLICE));
        EXPECT_TRUE(p.events.empty()) << row.name;
        ASSERT_EQ(p.media.size(), 1u) << row.name;
        EXPECT_EQ(p.media[0], row.whole ? SC + SPS + SC + idr : SC + SPS) << row.name;
    }
}

// 90 kHz to microseconds over the whole 32-bit range, and each change of
// time stamp (the wrap to 0 too) ends the access unit before it.
TEST(RtspDepacketiser, TimeStampsBecomeMicrosecondsOverTheirWholeRange)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    const std::vector<std::pair<uint32_t, uint64_t>> stamps = {
        { 0, 0 }, { 9, 100 }, { 90000, 1000000 }, { 0x7FFFFFFFu, 23860929411u }, { 0xFFFFFFFFu, 47721858833u }, { 0, 0 },
    };
    std::string bytes;
    uint16_t seq = 1;
    for (const auto &stamp : stamps)
        bytes += video(seq++, stamp.first, SLICE);
    auto p = run(h, bytes + video(seq, 1, SLICE));
    ASSERT_EQ(p.heads.size(), stamps.size());
    for (size_t i = 0; i < stamps.size(); i++) {
        EXPECT_EQ(p.heads[i].pts_us, stamps[i].second) << "time stamp " << stamps[i].first;
        EXPECT_EQ(p.media[i], SC + SLICE) << "time stamp " << stamps[i].first;
    }
}

// Every NAL unit type at the ends of its range (RFC 6184 5.2): single NAL
// units 1 to 23, aggregation packets 24 and 25, fragments 28 and 29; 0 and
// 26, 27, 30, 31 are dropped, as are fragments that claim a type outside 1
// to 23. The frame kind follows the NAL units taken.
TEST(RtspDepacketiser, EachNalUnitTypeAtTheEndsOfItsRange)
{
    const Nal body = "body";
    const std::string noDon("\0\0", 2), size4("\0\4", 2);
    struct Row {
        const char *name;
        std::string payload;
        std::string unit; // empty: dropped
        uint8_t kind;
    };
    const Row rows[] = {
        { "type 0", std::string(1, '\0') + body, "", 0 },
        { "type 1, a slice", "\x41" + body, SC + "\x41" + body, 2 },
        { "type 5, an IDR slice", "\x65" + body, SC + "\x65" + body, 1 },
        { "type 6, SEI", "\x06" + body, SC + "\x06" + body, 0 },
        { "type 7, SPS", "\x67" + body, SC + "\x67" + body, 1 },
        { "type 8, PPS", "\x68" + body, SC + "\x68" + body, 1 },
        { "type 23", "\x17" + body, SC + "\x17" + body, 0 },
        { "STAP-A", "\x18" + size4 + "\x41" + "abc" + size4 + "\x65" + "def", SC + "\x41" "abc" + SC + "\x65" "def", 1 },
        { "STAP-B", "\x19" + noDon + size4 + "\x41" + "abc", SC + "\x41" "abc", 2 },
        { "type 26", "\x1A" + body, "", 0 },
        { "type 27", "\x1B" + body, "", 0 },
        { "FU-A of type 1", std::string("\x7C\xC1", 2) + body, SC + "\x61" + body, 2 },
        { "FU-A of type 23", std::string("\x7C\xD7", 2) + body, SC + "\x77" + body, 0 },
        { "FU-A of type 0", std::string("\x7C\xC0", 2) + body, "", 0 },
        { "FU-A of type 24", std::string("\x7C\xD8", 2) + body, "", 0 },
        { "FU-B of type 5", std::string("\x7D\xC5", 2) + noDon + body, SC + "\x65" + body, 1 },
        { "type 30", "\x1E" + body, "", 0 },
        { "type 31", "\x1F" + body, "", 0 },
    };
    for (const Row &row : rows) {
        DriverHarness h(rtsp_driver(), NP_RTSP);
        auto p = run(h, video(1, 0, row.payload) + video(2, 3000, SLICE) + video(3, 6000, SLICE));
        EXPECT_TRUE(p.events.empty()) << row.name;
        ASSERT_EQ(p.media.size(), row.unit.empty() ? 1u : 2u) << row.name;
        if (row.unit.empty())
            continue;
        EXPECT_EQ(p.media[0], row.unit) << row.name;
        EXPECT_EQ(p.heads[0].frame_kind, row.kind) << row.name;
    }
}

TEST(RtspDepacketiser, StapAIsUnpackedAndBadSizesDropThePacket)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    std::string good = stapA({ SPS, PPS });
    std::string bad = good;
    bad[1] = 0x7F; // first size runs past the packet
    std::string zero = std::string("\x18\x00\x00", 3) + SPS;
    auto p = run(h, video(1, 0, bad) + video(2, 0, zero) + video(3, 0, good) + video(4, 0, SLICE) +
                        video(5, 3000, SLICE));
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + SLICE);
    EXPECT_EQ(p.heads[0].frame_kind, 1);
}

TEST(RtspDepacketiser, SdpParameterSetsGoInFrontOfKeyFramesThatLackThem)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    std::string sdp = "v=0\r\nm=audio 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\na=fmtp:97 sprop-parameter-sets=AAAA\r\n"
                      "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                      "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=" + base64(SPS) + "," + base64(PPS) +
                      ";profile-level-id=42001e\r\na=control:trackID=0\r\n";
    std::string text = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    auto p = run(h, text + video(1, 0, IDR) + video(2, 3000, SLICE) + video(3, 6000, IDR) + video(4, 9000, SLICE) +
                        interleaved(0, rtpPacket(97, 5, 9000, false, SLICE)));
    ASSERT_EQ(p.media.size(), 3u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + IDR);
    EXPECT_EQ(p.media[1], SC + SLICE);
    EXPECT_EQ(p.media[2], SC + SPS + SC + PPS + SC + IDR);
}

TEST(RtspDepacketiser, ParameterSetsSentOnceAreRepeatedBeforeLaterKeyFrames)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto p = run(h, video(1, 0, SPS) + video(2, 0, PPS) + video(3, 0, IDR) + video(4, 3000, IDR) +
                        video(5, 6000, SLICE));
    ASSERT_EQ(p.media.size(), 2u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + IDR);
    EXPECT_EQ(p.media[1], SC + SPS + SC + PPS + SC + IDR);
}

TEST(RtspDepacketiser, AnOversizedAccessUnitIsDroppedAndTheStreamGoesOn)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    std::string chunk(60000, 'z');
    chunk[0] = 0x41;
    std::string bytes;
    uint16_t seq = 1;
    for (size_t sent = 0; sent <= RTSP_AU_MAX; sent += chunk.size())
        bytes += video(seq++, 0, chunk);
    bytes += video(seq, 3000, SLICE);
    bytes += video(static_cast<uint16_t>(seq + 1), 6000, SLICE);
    auto p = run(h, bytes);
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
}

TEST(RtspSdp, FindsTheH264MediumAndItsParameterSets)
{
    h264_params prm;
    std::string sdp = "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\nm=video 0 RTP/AVP 98\r\n"
                      "a=rtpmap:98 h264/90000\r\na=fmtp:98 sprop-parameter-sets=" + base64(SPS) + "," + base64(PPS) +
                      "\r\n";
    ASSERT_EQ(rtsp_sdp_h264(sdp.data(), sdp.size(), &prm), 0);
    EXPECT_EQ(prm.payload_type, 98);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(prm.sps), prm.sps_len), SPS);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(prm.pps), prm.pps_len), PPS);
    std::string none = "m=audio 0 RTP/AVP 0\r\n";
    EXPECT_NE(rtsp_sdp_h264(none.data(), none.size(), &prm), 0);
    std::string huge = "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 sprop-parameter-sets=" +
                       base64(nal(0x67, 400)) + "\r\n";
    ASSERT_EQ(rtsp_sdp_h264(huge.data(), huge.size(), &prm), 0);
    EXPECT_EQ(prm.sps_len, 0u);
}

TEST(RtspSending, TextsGoOutUnframedInOrder)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    for (const char *t : { "OPTIONS a RTSP/1.0\r\n\r\n", "DESCRIBE a RTSP/1.0\r\n\r\n" }) {
        qv_buf *b = qv_buf_new(64);
        qv_buf_append(b, t, static_cast<uint32_t>(strlen(t)));
        ASSERT_EQ(h.conn.ops.send_text(h.conn.state, b), 0);
    }
    h.writeAll();
    EXPECT_EQ(h.mem.output, "OPTIONS a RTSP/1.0\r\n\r\nDESCRIBE a RTSP/1.0\r\n\r\n");
    EXPECT_FALSE(qv_sock_pending(&h.mem.sock));
}

// ---- HTTP-FLV ----
namespace {

const std::string HTTP_OK = "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\n\r\n";

std::string seqHeader(const std::vector<Nal> &sps, const std::vector<Nal> &pps, int lengthSize = 4)
{
    return flvTag(9, 0, avcSequenceHeader(sps, pps, lengthSize));
}

} // namespace

TEST(FlvReader, KeyFramesGetTheParameterSetsInFront)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    auto p = run(h, HTTP_OK + flvHeader(true, true) + seqHeader({ SPS }, { PPS }) +
                        flvTag(8, 0, std::string("\xAF\x01", 2) + "audio") + flvTag(9, 40, avcNalData(true, { IDR })) +
                        flvTag(9, 80, avcNalData(false, { SLICE, SLICE })));
    ASSERT_EQ(p.texts.size(), 1u);
    EXPECT_EQ(p.texts[0], HTTP_OK);
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 2u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + IDR);
    EXPECT_EQ(p.heads[0].frame_kind, 1);
    EXPECT_EQ(p.heads[0].pts_us, 40000u);
    EXPECT_EQ(p.media[1], SC + SLICE + SC + SLICE);
    EXPECT_EQ(p.heads[1].frame_kind, 2);
    EXPECT_EQ(p.heads[1].media_type, 2);
}

TEST(FlvReader, AudioOnlyHeaderIsAcceptedAndAudioSkipped)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    h.mem.chunks = { 3 };
    auto p = run(h, HTTP_OK + flvHeader(true, false) + flvTag(8, 0, std::string(3000, 'a')) + flvTag(18, 0, "meta"));
    EXPECT_TRUE(p.events.empty());
    EXPECT_TRUE(p.media.empty());
    EXPECT_EQ(h.state(), 0);
}

TEST(FlvReader, AKeyFrameBeforeAnySequenceHeaderComesWithoutParameterSets)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    auto p = run(h, HTTP_OK + flvHeader(false, true) + flvTag(9, 0, avcNalData(true, { IDR })));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + IDR);
}

// Parameter sets of 1 to 256 bytes are kept; the first such entry of each
// array counts, longer and empty ones are passed over.
TEST(FlvReader, ParameterSetsOfOneTo256BytesAreKept)
{
    const Nal sps1 = Nal(1, '\x67'), sps256 = nal(0x67, 256, 'a'), sps257 = nal(0x67, 257, 'b');
    struct Row {
        const char *name;
        std::vector<Nal> sps;
        std::string front; // what a key frame gets before its own NAL units
    };
    const Row rows[] = {
        { "1 byte", { sps1 }, SC + sps1 + SC + PPS },
        { "256 bytes", { sps256, SPS }, SC + sps256 + SC + PPS },
        { "257 bytes, then a usable one", { sps257, SPS }, SC + SPS + SC + PPS },
        { "empty, then a usable one", { "", SPS }, SC + SPS + SC + PPS },
        { "none usable", { sps257 }, SC + PPS },
    };
    for (const Row &row : rows) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        auto p = run(h, HTTP_OK + flvHeader(false, true) + seqHeader(row.sps, { PPS }) +
                            flvTag(9, 0, avcNalData(true, { IDR })));
        EXPECT_TRUE(p.events.empty()) << row.name;
        ASSERT_EQ(p.media.size(), 1u) << row.name;
        EXPECT_EQ(p.media[0], row.front + SC + IDR) << row.name;
    }
}

// The 13 bytes of the file header: "FLV", version 1, audio or video flagged,
// a data offset of exactly 9, PreviousTagSize0.
TEST(FlvReader, FileHeaderFieldsAtTheirLimits)
{
    auto header = [](const char *signature, uint8_t version, uint8_t flags, uint32_t offset) {
        std::string h(signature, 3);
        h.push_back(static_cast<char>(version));
        h.push_back(static_cast<char>(flags));
        for (int shift = 24; shift >= 0; shift -= 8)
            h.push_back(static_cast<char>(offset >> shift));
        return h + std::string(4, '\0');
    };
    struct Row {
        const char *name;
        std::string header;
        bool accepted;
    };
    const Row rows[] = {
        { "video", header("FLV", 1, 1, 9), true },
        { "audio", header("FLV", 1, 4, 9), true },
        { "audio and video", header("FLV", 1, 5, 9), true },
        { "all flag bits", header("FLV", 1, 0xFF, 9), true },
        { "neither", header("FLV", 1, 0, 9), false },
        { "only the reserved bit between", header("FLV", 1, 2, 9), false },
        { "version 0", header("FLV", 0, 1, 9), false },
        { "version 2", header("FLV", 2, 1, 9), false },
        { "offset 8", header("FLV", 1, 1, 8), false },
        { "offset 10", header("FLV", 1, 1, 10), false },
        { "offset 9 << 8", header("FLV", 1, 1, 9u << 8), false },
        { "signature FLX", header("FLX", 1, 1, 9), false },
        { "signature flv", header("flv", 1, 1, 9), false },
    };
    for (const Row &row : rows) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        auto p = run(h, HTTP_OK + row.header + flvTag(9, 0, avcNalData(false, { SLICE })));
        if (row.accepted) {
            EXPECT_TRUE(p.events.empty()) << row.name;
            ASSERT_EQ(p.media.size(), 1u) << row.name;
            EXPECT_EQ(p.media[0], SC + SLICE) << row.name;
        } else {
            EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME }) << row.name;
            EXPECT_TRUE(p.media.empty()) << row.name;
        }
    }
}

// Tag type (low 5 bits 9: video), the 32-bit millisecond time stamp whose
// top byte comes last, the frame type, and the size up to the largest
// payload a media object holds.
TEST(FlvReader, TagFieldsAtTheirLimits)
{
    struct Row {
        const char *name;
        uint8_t type;
        uint32_t ms;
        uint8_t frameType;
        bool media;
        uint64_t pts;
        uint8_t kind;
    };
    const Row rows[] = {
        { "time 0", 9, 0, 2, true, 0, 2 },
        { "24-bit time", 9, 0xFFFFFF, 2, true, 16777215000u, 2 },
        { "extended time", 9, 0x1000000, 2, true, 16777216000u, 2 },
        { "largest time", 9, 0xFFFFFFFFu, 2, true, 4294967295000u, 2 },
        { "key frame", 9, 40, 1, true, 40000, 1 },
        { "disposable inter frame", 9, 40, 3, true, 40000, 2 },
        { "filtered video", 0x29, 40, 2, true, 40000, 2 },
        { "reserved bits", 0xC9, 40, 2, true, 40000, 2 },
        { "audio", 8, 40, 2, false, 0, 0 },
        { "filtered audio", 0x28, 40, 2, false, 0, 0 },
        { "script data", 18, 40, 2, false, 0, 0 },
    };
    for (const Row &row : rows) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        std::string data = avcNalData(false, { SLICE });
        data[0] = static_cast<char>(row.frameType << 4 | 7);
        auto p = run(h, HTTP_OK + flvHeader(false, true) + seqHeader({ SPS }, { PPS }) + flvTag(row.type, row.ms, data) +
                            flvTag(9, 7, avcNalData(false, { SLICE })));
        EXPECT_TRUE(p.events.empty()) << row.name;
        ASSERT_EQ(p.media.size(), row.media ? 2u : 1u) << row.name;
        if (!row.media)
            continue;
        EXPECT_EQ(p.media[0], row.kind == 1 ? SC + SPS + SC + PPS + SC + SLICE : SC + SLICE) << row.name;
        EXPECT_EQ(p.heads[0].pts_us, row.pts) << row.name;
        EXPECT_EQ(p.heads[0].frame_kind, row.kind) << row.name;
    }

    for (uint32_t size : { MEDIA_MAX_PAYLOAD, MEDIA_MAX_PAYLOAD + 1 }) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        Nal big = nal(0x41, size - 9, 'v');
        auto p = run(h, HTTP_OK + flvHeader(false, true) + flvTag(9, 0, avcNalData(false, { big })) +
                            flvTag(9, 40, avcNalData(false, { SLICE })));
        if (size == MEDIA_MAX_PAYLOAD) {
            EXPECT_TRUE(p.events.empty());
            ASSERT_EQ(p.media.size(), 2u);
            EXPECT_TRUE(p.media[0] == SC + big) << "the largest tag";
        } else {
            EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_TOO_LARGE });
            EXPECT_TRUE(p.media.empty());
        }
    }
}

// A NAL unit may end exactly at the end of its tag, not a byte beyond;
// lengths are 3 or 4 bytes as the sequence header says.
TEST(FlvReader, NalLengthsAtTheirLimits)
{
    for (int lengthSize : { 1, 2, 3, 4 }) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        auto p = run(h, HTTP_OK + flvHeader(false, true) + seqHeader({ SPS }, { PPS }, lengthSize) +
                            flvTag(9, 0, avcNalData(false, { SLICE, PPS }, lengthSize)));
        if (lengthSize >= 3) {
            EXPECT_TRUE(p.events.empty()) << lengthSize;
            ASSERT_EQ(p.media.size(), 1u) << lengthSize;
            EXPECT_EQ(p.media[0], SC + SLICE + SC + PPS) << lengthSize;
        } else {
            EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME }) << lengthSize;
        }
    }
    for (int over : { 0, 1 }) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        std::string data = avcNalData(false, { SLICE });
        data[8] = static_cast<char>(SLICE.size() + over);
        auto p = run(h, HTTP_OK + flvHeader(false, true) + flvTag(9, 0, data));
        if (over) {
            EXPECT_EQ(p.events, std::vector<int>{ NCM_EV_BAD_FRAME });
            EXPECT_TRUE(p.media.empty());
        } else {
            EXPECT_TRUE(p.events.empty());
            ASSERT_EQ(p.media.size(), 1u);
            EXPECT_EQ(p.media[0], SC + SLICE);
        }
    }
}

TEST(FlvReader, ATruncatedConfigurationRecordIsReadOnlyWithinItsTag)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    std::string rec = avcSequenceHeader({ SPS }, { PPS });
    rec[11] = 0x7F; // the SPS length now runs far past the tag
    auto p = run(h, HTTP_OK + flvHeader(false, true) + flvTag(9, 0, rec) + flvTag(9, 0, avcNalData(true, { IDR })));
    EXPECT_TRUE(p.events.empty());
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + IDR);
}

TEST(FlvReader, ZeroLengthNalsAndEndOfSequenceProduceNothing)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    std::string end = std::string("\x17\x02\x00\x00\x00", 5);
    auto p = run(h, HTTP_OK + flvHeader(false, true) + flvTag(9, 0, avcNalData(false, { "", SLICE, "" })) +
                        flvTag(9, 40, end));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SLICE);
    EXPECT_TRUE(p.events.empty());
}

TEST(FlvReader, ManyTinyNalsWithThreeByteLengthsFit)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    std::vector<Nal> tiny(20000, Nal("\x41", 1));
    auto p = run(h, HTTP_OK + flvHeader(false, true) + seqHeader({ SPS }, { PPS }, 3) +
                        flvTag(9, 0, avcNalData(false, tiny, 3)));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0].size(), 20000u * 5u);
}

TEST(FlvReader, BrokenStreamsEndWithABadFrame)
{
    auto expectBad = [](const std::string &bytes, int code = NCM_EV_BAD_FRAME) {
        DriverHarness h(flv_driver(), NP_HTTP_FLV);
        auto p = run(h, bytes);
        EXPECT_EQ(p.events, std::vector<int>{ code }) << testing::PrintToString(bytes.substr(0, 60));
        EXPECT_TRUE(p.media.empty());
    };
    std::string hdr = HTTP_OK + flvHeader(false, true);
    expectBad(hdr + flvTag(9, 0, std::string("\x12\x01\x00\x00\x00", 5) + "jpeg"));   // not AVC
    expectBad(hdr + flvTag(9, 0, std::string("\x17\x01", 2)));                          // too short
    expectBad("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n");
    expectBad("HTTP/1.1 200 OK\r\n" + std::string(70000, 'h'), NCM_EV_TOO_LARGE);
}

TEST(FlvReader, OnlyTheFirstTextIsSent)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    for (const char *t : { "GET / HTTP/1.1\r\n\r\n", "GET /again HTTP/1.1\r\n\r\n" }) {
        qv_buf *b = qv_buf_new(64);
        qv_buf_append(b, t, static_cast<uint32_t>(strlen(t)));
        ASSERT_EQ(h.conn.ops.send_text(h.conn.state, b), 0);
    }
    h.writeAll();
    EXPECT_EQ(h.mem.output, "GET / HTTP/1.1\r\n\r\n");
}

TEST(MessageLength, HeaderNamesInAnyCaseAndOnlyAtALineStart)
{
    uint32_t total = 0;
    auto len = [&](const std::string &s) {
        return np_message_length(reinterpret_cast<const uint8_t *>(s.data()), static_cast<uint32_t>(s.size()), 1000,
                                 &total);
    };
    std::string upper = "A 200\r\nCONTENT-LENGTH:  3 \r\n\r\nabc";
    EXPECT_EQ(len(upper + "more"), 0);
    EXPECT_EQ(total, upper.size());
    std::string other = "A 200\r\nX-Content-Length: 3\r\n\r\n";
    EXPECT_EQ(len(other + "abc"), 0);
    EXPECT_EQ(total, other.size());
    EXPECT_EQ(len("A 200\r\nContent-Length: 3\r\n\r\nab"), -1);
    EXPECT_EQ(len("A 200\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabc"), NCM_EV_BAD_FRAME);
    EXPECT_EQ(len("A 200\r\nContent-Length:\r\n\r\n"), NCM_EV_BAD_FRAME);
    EXPECT_EQ(len("A 200\r\nContent-Length: 990\r\n\r\n"), NCM_EV_TOO_LARGE);
}
