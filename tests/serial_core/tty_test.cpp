// The tty's receive side: flip buffers, push into the read queue, holding back, throttling,
// hang-up and SAK events.
#include <gtest/gtest.h>

#include <numeric>

#include "drivers/serial/kernel/tty.h"
#include "sim/kernel/tty/tty.h"

namespace {

using sim::kernel::ReceivedChar;
using sim::kernel::Tty;
using sim::kernel::TtyEvent;
using sim::kernel::TtyLimits;

// A driver's receive path: one character at a time through the inline helper.
void receive(Tty& tty, unsigned char first, std::size_t count, char flag = TTY_NORMAL) {
    for (std::size_t i = 0; i < count; ++i)
        tty_insert_flip_char(tty.raw(), static_cast<unsigned char>(first + i), flag);
}

std::vector<unsigned char> characters(const std::vector<ReceivedChar>& taken) {
    std::vector<unsigned char> result;
    for (const ReceivedChar& c : taken) result.push_back(c.character);
    return result;
}

std::vector<unsigned char> sequence(unsigned char first, std::size_t count) {
    std::vector<unsigned char> result(count);
    for (std::size_t i = 0; i < count; ++i) result[i] = static_cast<unsigned char>(first + i);
    return result;
}

TEST(TtyFlipBuffers, FillAcrossBuffersKeepsOrderAndFlags) {
    Tty tty(0, TtyLimits{.flip_buffer_size = 8});
    EXPECT_EQ(tty.raw()->buf.tail, nullptr) << "no buffer before the first character";
    receive(tty, 0, 5);
    receive(tty, 5, 1, TTY_PARITY);
    receive(tty, 6, 14);
    ASSERT_NE(tty.raw()->buf.tail, nullptr);
    EXPECT_NE(tty.raw()->buf.head, tty.raw()->buf.tail) << "20 pairs need three buffers of 8";
    EXPECT_EQ(tty.readable(), 0u) << "nothing reaches the reader before a push";
    EXPECT_EQ(tty.held_in_flip_buffers(), 20u);

    tty_flip_buffer_push(tty.raw());
    const auto taken = tty.read(100);
    EXPECT_EQ(characters(taken), sequence(0, 20));
    for (std::size_t i = 0; i < taken.size(); ++i)
        EXPECT_EQ(taken[i].flag, i == 5 ? TTY_PARITY : TTY_NORMAL) << "at " << i;
}

TEST(TtyFlipBuffers, StringInsertTakesAllAndStartsNewBuffers) {
    Tty tty(0, TtyLimits{.flip_buffer_size = 4});
    const std::vector<unsigned char> chars = sequence(10, 10);
    const std::vector<char> flags(10, TTY_FRAME);
    EXPECT_EQ(tty_insert_flip_string_flags(tty.raw(), chars.data(), flags.data(), chars.size()), 10);
    tty_flip_buffer_push(tty.raw());
    const auto taken = tty.read(10);
    EXPECT_EQ(characters(taken), chars);
    EXPECT_EQ(taken.back().flag, TTY_FRAME);
}

TEST(TtyFlipBuffers, MemoryLimitDropsAndCountsTheRest) {
    Tty tty(0, TtyLimits{.flip_buffer_size = 4, .flip_memory_limit = 12});
    receive(tty, 0, 20);
    EXPECT_EQ(tty.held_in_flip_buffers(), 12u);
    EXPECT_EQ(tty.dropped(), 8u);
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(characters(tty.read(100)), sequence(0, 12)) << "the first 12 survive, in order";
    // Delivered buffers are given back, so reception goes on.
    receive(tty, 50, 3);
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(characters(tty.read(100)), sequence(50, 3));
    EXPECT_EQ(tty.dropped(), 8u);
}

TEST(TtyFlipBuffers, PushAfterMoreInsertsDeliversOnlyWhatWasPushedThenTheRest) {
    Tty tty(0, TtyLimits{.flip_buffer_size = 8});
    receive(tty, 0, 3);
    tty_flip_buffer_push(tty.raw());
    receive(tty, 3, 3);  // into the same buffer, after its committed part
    EXPECT_EQ(characters(tty.read(100)), sequence(0, 3));
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(characters(tty.read(100)), sequence(3, 3));
}

TEST(TtyReadQueue, FullQueueHoldsTheRestBackInOrder) {
    Tty tty(0, TtyLimits{.flip_buffer_size = 16, .read_queue_capacity = 32, .throttle_room = 4,
                         .unthrottle_level = 8});
    receive(tty, 0, 50);
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(tty.readable(), 32u);
    EXPECT_EQ(tty.held_in_flip_buffers(), 18u);
    std::vector<unsigned char> all = characters(tty.read(10));
    EXPECT_EQ(tty.readable(), 32u) << "reading makes room that held data fills at once";
    for (auto part = tty.read(100); !part.empty(); part = tty.read(100))
        for (const auto& c : part) all.push_back(c.character);
    EXPECT_EQ(all, sequence(0, 50));
    EXPECT_EQ(tty.dropped(), 0u);
}

TEST(TtyReadQueue, ThrottlesNearFullAndUnthrottlesWhenDrained) {
    int throttles = 0;
    int unthrottles = 0;
    Tty tty(0, TtyLimits{.flip_buffer_size = 16, .read_queue_capacity = 32, .throttle_room = 4,
                         .unthrottle_level = 8});
    tty.set_hooks({.throttle = [&] { ++throttles; }, .unthrottle = [&] { ++unthrottles; }});

    receive(tty, 0, 28);  // room 4: not yet
    tty_flip_buffer_push(tty.raw());
    EXPECT_FALSE(tty.throttled());
    receive(tty, 28, 1);  // room 3
    tty_flip_buffer_push(tty.raw());
    EXPECT_TRUE(tty.throttled());
    EXPECT_EQ(throttles, 1);
    receive(tty, 29, 10);
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(throttles, 1) << "one throttle until the next unthrottle";

    tty.read(20);  // 12 left, refilled from the 7 held back: 19
    EXPECT_TRUE(tty.throttled());
    tty.read(10);
    EXPECT_TRUE(tty.throttled()) << "9 left";
    tty.read(1);
    EXPECT_FALSE(tty.throttled()) << "8 left: the unthrottle level";
    EXPECT_EQ(unthrottles, 1);
    const std::vector<TtyEvent> expected{TtyEvent::throttle, TtyEvent::unthrottle};
    EXPECT_EQ(std::vector<TtyEvent>(tty.events().begin(), tty.events().end()), expected);
}

TEST(TtyReadQueue, FlushInputDiscardsEverythingAndUnthrottles) {
    int unthrottles = 0;
    Tty tty(0, TtyLimits{.flip_buffer_size = 8, .read_queue_capacity = 16, .throttle_room = 4,
                         .unthrottle_level = 4});
    tty.set_hooks({.unthrottle = [&] { ++unthrottles; }});
    receive(tty, 0, 30);
    tty_flip_buffer_push(tty.raw());
    ASSERT_TRUE(tty.throttled());
    tty.flush_input();
    EXPECT_EQ(tty.readable(), 0u);
    EXPECT_EQ(tty.held_in_flip_buffers(), 0u);
    EXPECT_EQ(unthrottles, 1);
    receive(tty, 40, 2);
    tty_flip_buffer_push(tty.raw());
    EXPECT_EQ(characters(tty.read(10)), sequence(40, 2));
}

TEST(TtyEvents, HangupAndSakAreCountedAndPassedOn) {
    Tty tty(3);
    int hangups = 0;
    int saks = 0;
    tty.set_hooks({.hangup = [&] { ++hangups; }, .secure_attention = [&] { ++saks; }});
    do_SAK(tty.raw());
    tty_hangup(tty.raw());
    do_SAK(tty.raw());
    EXPECT_EQ(tty.secure_attentions(), 2u);
    EXPECT_EQ(tty.hangups(), 1u);
    EXPECT_TRUE(tty.hung_up());
    EXPECT_EQ(hangups, 1);
    EXPECT_EQ(saks, 2);
    const std::vector<TtyEvent> expected{TtyEvent::secure_attention, TtyEvent::hangup,
                                         TtyEvent::secure_attention};
    EXPECT_EQ(std::vector<TtyEvent>(tty.events().begin(), tty.events().end()), expected);
}

TEST(TtyEvents, NullTtyIsIgnored) {
    const unsigned char c = 'x';
    const char flag = TTY_NORMAL;
    EXPECT_EQ(tty_insert_flip_string_flags(nullptr, &c, &flag, 1), 0);
    tty_flip_buffer_push(nullptr);
    tty_hangup(nullptr);
    do_SAK(nullptr);
}

TEST(TtyEventsDeathTest, RecordOfNoLiveTtyStopsTheMachine) {
    tty_struct stray{};
    EXPECT_DEATH(tty_flip_buffer_push(&stray), "belongs to no open tty");
}

}  // namespace
