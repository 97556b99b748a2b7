#include "tools/serial-lab/tty/received_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace lab {
namespace {

using sim::kernel::ReceivedChar;

TEST(ReceivedFormat, ErrorsStandOutBetweenRunsOfText) {
    const std::vector<ReceivedChar> received{{'h', TTY_NORMAL}, {'i', TTY_NORMAL}, {0, TTY_BREAK},
                                             {'\r', TTY_NORMAL}, {'A', TTY_PARITY}, {'B', TTY_FRAME},
                                             {0, TTY_OVERRUN}, {'!', TTY_NORMAL}};
    EXPECT_EQ(format_received(received),
              R"("hi" [break 0x00] "\r" [parity 0x41] [frame 0x42] [overrun 0x00] "!")");
    EXPECT_EQ(format_received({}), "");
}

TEST(ReceivedFormat, HexShowsOffsetsAndFlagLetters) {
    std::vector<ReceivedChar> received;
    for (int i = 0; i < 17; ++i) received.push_back({static_cast<unsigned char>(i), TTY_NORMAL});
    received[1].flag = TTY_PARITY;
    EXPECT_EQ(format_received_hex(received),
              "0000: 00  01p 02  03  04  05  06  07  08  09  0a  0b  0c  0d  0e  0f\n"
              "0010: 10\n");
}

}  // namespace
}  // namespace lab
