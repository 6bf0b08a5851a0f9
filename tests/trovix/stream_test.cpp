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

TEST(RtspDepacketiser, ALostFragmentDropsItsNalButKeepsTheRest)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    auto frags = packetise(IDR, 1000);
    std::string bytes = video(1, 0, SPS) + video(2, 0, frags[0]) + video(3, 0, frags[1]) + // 4 is lost
                        video(5, 0, frags[3]) + video(6, 3000, SLICE);
    auto p = run(h, bytes);
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SPS);
}

TEST(RtspDepacketiser, AFragmentWithStartAndEndIsAWholeNal)
{
    DriverHarness h(rtsp_driver(), NP_RTSP);
    std::string fu = std::string("\x7C\xC5", 2) + "body";
    auto p = run(h, video(1, 0, fu) + video(2, 3000, SLICE));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + std::string("\x65", 1) + "body");
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

TEST(FlvReader, OversizedParameterSetsAreSkipped)
{
    DriverHarness h(flv_driver(), NP_HTTP_FLV);
    Nal big = nal(0x67, 300);
    auto p = run(h, HTTP_OK + flvHeader(false, true) + seqHeader({ big, SPS }, { PPS }) +
                        flvTag(9, 0, avcNalData(true, { IDR })));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + SPS + SC + PPS + SC + IDR);
    DriverHarness h2(flv_driver(), NP_HTTP_FLV);
    p = run(h2, HTTP_OK + flvHeader(false, true) + seqHeader({ big }, { PPS }) + flvTag(9, 0, avcNalData(true, { IDR })));
    ASSERT_EQ(p.media.size(), 1u);
    EXPECT_EQ(p.media[0], SC + PPS + SC + IDR);
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
    expectBad(HTTP_OK + std::string("FLX\x01\x01\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    expectBad(HTTP_OK + std::string("FLV\x01\x00\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    expectBad(HTTP_OK + std::string("FLV\x02\x01\x00\x00\x00\x09\x00\x00\x00\x00", 13));
    expectBad(hdr + flvTag(9, 0, std::string("\x12\x01\x00\x00\x00", 5) + "jpeg"));   // not AVC
    expectBad(hdr + flvTag(9, 0, std::string("\x17\x01", 2)));                          // too short
    expectBad(hdr + seqHeader({ SPS }, { PPS }, 2));                                   // 2-byte lengths
    std::string past = avcNalData(false, { SLICE });
    past[6] = 0x7F; // NAL length past the tag
    expectBad(hdr + flvTag(9, 0, past));
    expectBad("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n");
    expectBad("HTTP/1.1 200 OK\r\n" + std::string(70000, 'h'), NCM_EV_TOO_LARGE);
    std::string huge = flvTag(9, 0, "");
    huge[1] = static_cast<char>(0xFF); // 16 MiB tag
    expectBad(hdr + huge.substr(0, 11), NCM_EV_TOO_LARGE);
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
