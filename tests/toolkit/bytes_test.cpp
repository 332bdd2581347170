// Byte-order loads and stores, against hand-written byte sequences.
#include "toolkit/bytes.h"

#include <gtest/gtest.h>

#include <array>

namespace quill::toolkit {
namespace {

TEST(Bytes, LoadsAndStoresInBothOrders) {
    // The top bit set in the first and last byte catches sign extension and lost high bytes.
    const std::array<std::uint8_t, 4> bytes{0x81, 0x02, 0x7F, 0xFE};
    EXPECT_EQ(loadU16le(bytes.data()), 0x0281u);
    EXPECT_EQ(loadU16be(bytes.data()), 0x8102u);
    EXPECT_EQ(loadU32le(bytes.data()), 0xFE7F0281u);
    EXPECT_EQ(loadU32be(bytes.data()), 0x81027FFEu);

    struct Case {
        void (*store)(std::uint8_t*, std::uint32_t);
        std::array<std::uint8_t, 4> expected;
    };
    const Case cases[] = {
        {[](std::uint8_t* p, std::uint32_t v) { storeU16le(p, std::uint16_t(v)); },
         {0xFE, 0x7F, 0, 0}},
        {[](std::uint8_t* p, std::uint32_t v) { storeU16be(p, std::uint16_t(v)); },
         {0x7F, 0xFE, 0, 0}},
        {[](std::uint8_t* p, std::uint32_t v) { storeU32le(p, v); }, {0xFE, 0x7F, 0x02, 0x81}},
        {[](std::uint8_t* p, std::uint32_t v) { storeU32be(p, v); }, {0x81, 0x02, 0x7F, 0xFE}},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 4> out{};
        c.store(out.data(), 0x81027FFEu);
        EXPECT_EQ(out, c.expected);
    }

    std::vector<std::uint8_t> appended{0xAA};
    appendU16le(appended, 0x8102);
    appendU32le(appended, 0x81027FFEu);
    appendU16be(appended, 0x8102);
    EXPECT_EQ(appended,
              (std::vector<std::uint8_t>{0xAA, 0x02, 0x81, 0xFE, 0x7F, 0x02, 0x81, 0x81, 0x02}));
}

} // namespace
} // namespace quill::toolkit
