// G.711 coding and the two audio FIFOs, in virtual time.

#include <gtest/gtest.h>

#include <numeric>

#include "exchange/sip/audio_fifos.h"
#include "exchange/sip/g711.h"
#include "support/byte_compare.h"

namespace tellmaro::sip {
namespace {

using std::chrono::milliseconds;
const AudioClock::time_point t0{};

TEST(G711, CapiOrderAndConversions) {
    EXPECT_EQ(bitReversed(kRtpAlawSilence), kCapiAlawSilence);
    EXPECT_EQ(bitReversed(0x01), 0x80);
    EXPECT_EQ(pcmuToCapi(0xFF), kCapiAlawSilence);  // mu-law zero is A-law zero
    for (int byte = 0; byte < 256; ++byte) {
        auto alaw = static_cast<uint8_t>(byte);
        EXPECT_EQ(linearToAlaw(alawToLinear(alaw)), alaw) << byte;
        EXPECT_EQ(capiToPcma(pcmaToCapi(alaw)), alaw);
        // PCMU out and back loses nothing audible: within one quantisation step.
        int back = ulawToLinear(pcmaToPcmu(alaw));
        EXPECT_NEAR(back, alawToLinear(alaw), std::max(16, std::abs(back) / 8)) << byte;
    }
}

std::vector<uint8_t> ramp(size_t count, uint8_t first) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// 30 ms packets in this order of their numbers, arriving 5 and 55 ms apart by
// turns (jitter); sequence numbers wrap on the way; 7 never came, 5 and 1 came
// again, too late. They leave in order, silence in the lost one's place.
TEST(ReceiveFifo, PacketsBecomeWholeBlocksInOrderWhateverOrderTheyCameIn) {
    const std::vector<int> order = {0,  1,  3,  2,  4,  5,  5,  1,  6,  8,  9,  10, 11, 12, 13, 14,
                                    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29};
    ReceiveFifo fifo;
    auto now = t0;
    for (size_t i = 0; i < order.size(); ++i, now += milliseconds(i % 2 ? 5 : 55)) {
        auto n = static_cast<uint8_t>(order[i]);
        fifo.accept(1, static_cast<uint16_t>(65530 + n), 1000 + 240u * n, ramp(240, n), now);
    }
    fifo.poll(now + milliseconds(100));
    std::vector<uint8_t> expected, heard;
    for (uint8_t n = 0; n < 30; ++n) {
        auto payload = n == 7 ? std::vector<uint8_t>(240, kCapiAlawSilence) : ramp(240, n);
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    expected.resize(expected.size() / kBlockSize * kBlockSize);
    for (const auto& block : fifo.takeBlocks()) {
        heard.insert(heard.end(), block.begin(), block.end());
    }
    EXPECT_BYTES_EQ(expected, heard);
    EXPECT_EQ(std::tuple(fifo.lostPackets(), fifo.latePackets(), fifo.timestampGaps()),
              std::tuple(1u, 2u, 1u));
}

// A jump in time (silence suppression, or RFC 4733 events, which share the
// stream's sequence numbers) is filled with silence; the audio after events is
// neither held for them nor counted lost; a new source starts over, unfilled.
TEST(ReceiveFifo, TimeJumpsAndKeyEventsBecomeSilenceAndANewSourceStartsOver) {
    ReceiveFifo fifo;
    auto payload = ramp(160, 0);
    fifo.accept(7, 1, 0, payload, t0);
    fifo.accept(7, 2, 480, payload, t0);  // 320 samples missing
    fifo.skip(7, 3, t0);
    fifo.skip(7, 4, t0);
    fifo.skip(9, 5, t0);  // another source's: not this stream's number
    fifo.accept(7, 5, 960, payload, t0);
    fifo.accept(9, 500, 123456, payload, t0);
    std::vector<uint8_t> tail(kBlockSize - 160 * 4 - 640, 0x42);
    fifo.accept(9, 501, 123456 + 160, tail, t0);
    auto blocks = fifo.takeBlocks();  // at once: nothing held
    ASSERT_EQ(blocks.size(), 1u);
    std::vector<uint8_t> expected;
    for (size_t silence : {320, 320, 0, 0}) {
        expected.insert(expected.end(), payload.begin(), payload.end());
        expected.insert(expected.end(), silence, kCapiAlawSilence);
    }
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_BYTES_EQ(expected, blocks[0]);
    EXPECT_EQ(fifo.timestampGaps(), 2u);
    EXPECT_EQ(fifo.lostPackets(), 0u);
}

TEST(SendFifo, PrimesThenPlaysFramesAndCountsAnUnderrunOnce) {
    SendFifo fifo;
    auto silence = std::vector<uint8_t>(kFrameSize, kRtpAlawSilence);
    auto frame = [&](AudioClock::time_point at) {
        auto bytes = fifo.nextFrame(at);
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(frame(t0), silence);
    auto block = ramp(kBlockSize, 1);
    fifo.push(block, t0);
    EXPECT_EQ(frame(t0 + milliseconds(20)), silence);  // still priming
    std::vector<uint8_t> played;
    auto at = t0 + SendFifo::kPrimeDelay;
    for (int i = 0; i < 13; ++i, at += kFrameTime) {
        auto bytes = frame(at);
        played.insert(played.end(), bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> expected(kBlockSize);
    std::transform(block.begin(), block.end(), expected.begin(), capiToPcma);
    expected.resize(13 * kFrameSize, kRtpAlawSilence);  // the 13th frame is padded
    EXPECT_BYTES_EQ(expected, played);
    EXPECT_EQ(fifo.underruns(), 1u);
    EXPECT_EQ(frame(at), silence);
    EXPECT_EQ(fifo.underruns(), 1u);
}

TEST(SendFifo, BoundDropsTheOldestWhenTheFarClockRunsFast) {
    SendFifo fifo;
    for (int i = 0; i < 3; ++i) {
        fifo.push(ramp(kBlockSize, static_cast<uint8_t>(i)), t0);
    }
    EXPECT_EQ(fifo.level(), kBlockSize + SendFifo::kSlackFrames * kFrameSize);
    EXPECT_EQ(fifo.bytesDropped(), 2 * kBlockSize - SendFifo::kSlackFrames * kFrameSize);
}

TEST(FramePace, KeepsItsScheduleAndSkipsAfterAStall) {
    FramePace pace(t0);
    EXPECT_EQ(pace.due(t0).frames, 1u);
    EXPECT_EQ(pace.untilNext(t0 + milliseconds(5)), milliseconds(15));
    auto late = pace.due(t0 + milliseconds(47));  // frames of 20 and 40 ms
    EXPECT_EQ(late.frames, 2u);
    EXPECT_EQ(pace.untilNext(t0 + milliseconds(47)), milliseconds(13));
    auto stalled = pace.due(t0 + milliseconds(200));
    EXPECT_EQ(stalled.frames, FramePace::kMostFramesAtOnce);
    EXPECT_EQ(stalled.skipped, 8u - FramePace::kMostFramesAtOnce);
}

}  // namespace
}  // namespace tellmaro::sip
