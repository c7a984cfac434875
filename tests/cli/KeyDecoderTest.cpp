// The keys zeb shell's line editor reads from a terminal's bytes: UTF-8 characters whole, a stray
// byte dropped without taking the key after it along (a lone 0x83 is no Ctrl-C).
#include "commands/KeyDecoder.h"

#include <gmock/gmock.h>

#include <clocale>
#include <string>
#include <vector>

namespace zeb::test {

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class KeyDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        // zeb sets its locale's encoding so for editing; Windows edits in its console, not here.
        if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
            GTEST_SKIP() << "no C.UTF-8 locale";
    }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

    static std::vector<wchar_t> Keys(const std::string& bytes) {
        cli::KeyDecoder decoder;
        std::vector<wchar_t> keys;
        for (const char byte : bytes)
            if (const auto key = decoder.Feed(static_cast<unsigned char>(byte)))
                keys.push_back(*key);
        return keys;
    }
};

} // namespace

TEST_F(KeyDecoding, CharactersOfOneToFourBytesAreOneKeyEach) {
    EXPECT_THAT(Keys("get\r\x1b[A\x7f"), ElementsAre(L'g', L'e', L't', L'\r', 0x1b, L'[', L'A', 0x7f));
    EXPECT_THAT(Keys("gr\xc3\xbcn"), ElementsAre(L'g', L'r', 0xfc, L'n'));
    EXPECT_THAT(Keys("\xe2\x82\xac"), ElementsAre(0x20ac));
    if constexpr (sizeof(wchar_t) >= 4) {
        EXPECT_THAT(Keys("\xf0\x9f\x98\x80"), ElementsAre(static_cast<wchar_t>(0x1f600)));
    }
}

TEST_F(KeyDecoding, BytesThatAreNoCharacterAreDroppedAndTheNextKeyStays) {
    EXPECT_THAT(Keys("a\x83"
                     "b"),
                ElementsAre(L'a', L'b')); // not 3, Ctrl-C
    EXPECT_THAT(Keys("\xc3"
                     "a"),
                ElementsAre(L'a')); // a character cut short
    EXPECT_THAT(Keys("\xe2\x82"
                     "x\xc3\xa9"),
                ElementsAre(L'x', 0xe9));
    EXPECT_THAT(Keys("\xff\xfe\xc0\xaf"), IsEmpty()); // never UTF-8, and an overlong "/"
    EXPECT_THAT(Keys("\xff\xc3\xa9"), ElementsAre(0xe9));
}

} // namespace zeb::test
