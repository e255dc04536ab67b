#include "settings/CBase64Utils.h"

#include <gtest/gtest.h>

namespace {
std::string Enc(const std::string& s) {
    return CBase64Utils().Encode(s.data(), s.size());
}
std::string Dec(const std::string& s, bool* error = nullptr) {
    CBase64Utils b;
    std::string out = b.Decode(s.data(), s.size());
    if (error)
        *error = b.ErrorFlag;
    return out;
}
} // namespace

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(Enc(""), "");
    EXPECT_EQ(Enc("f"), "Zg==");
    EXPECT_EQ(Enc("fo"), "Zm8=");
    EXPECT_EQ(Enc("foo"), "Zm9v");
    EXPECT_EQ(Enc("foob"), "Zm9vYg==");
    EXPECT_EQ(Enc("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Enc("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Dec("Zm9vYmE="), "fooba");
    EXPECT_EQ(Dec("Zm9vYg=="), "foob");
}

TEST(Base64, EveryLengthAndEveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Dec(Enc(all)), all);
    for (size_t len = 0; len <= 60; ++len) {
        std::string s;
        for (size_t i = 0; i < len; ++i)
            s += static_cast<char>(0x80 + (i * 37) % 128);
        std::string e = Enc(s);
        bool error = true;
        EXPECT_EQ(Dec(e, &error), s) << len;
        EXPECT_FALSE(error);
        size_t expectChars = (len + 2) / 3 * 4;
        EXPECT_EQ(e.size(), expectChars + (len >= 57 ? 2 : 0)) << len;
    }
}

TEST(Base64, LineBreakFollowsThe76thCharacter) {
    EXPECT_EQ(Enc(std::string(56, 'a')).find('\r'), std::string::npos);
    std::string e57 = Enc(std::string(57, 'a'));
    EXPECT_EQ(e57.size(), 78u);
    EXPECT_EQ(e57.substr(76), "\r\n");
    std::string e60 = Enc(std::string(60, 'a'));
    EXPECT_EQ(e60.substr(76, 2), "\r\n");
    EXPECT_EQ(e60.size(), 82u);
    std::string e114 = Enc(std::string(114, 'a'));
    EXPECT_EQ(e114.size(), 156u);
    EXPECT_EQ(e114.substr(154), "\r\n");
}

TEST(Base64, DecodeSkipsLineBreaksSilentlyAndFlagsOtherJunk) {
    bool error = true;
    EXPECT_EQ(Dec("Zm9v\r\nYmFy", &error), "foobar");
    EXPECT_FALSE(error);
    EXPECT_EQ(Dec("Zm9v YmFy", &error), "foobar");
    EXPECT_TRUE(error);
    EXPECT_EQ(Dec("Zm9v*", &error), "foo");
    EXPECT_TRUE(error);
    // Stops at the first '=', and a lone trailing character gives no byte.
    EXPECT_EQ(Dec("Zg==Zm9v"), "f");
    EXPECT_EQ(Dec("Zm9vY"), "foo");
}

TEST(Base64, DecodeHonoursTheGivenLength) {
    CBase64Utils b;
    std::string text = "Zm9vYmFy";
    EXPECT_EQ(b.Decode(text.data(), 4), "foo");
    EXPECT_EQ(b.Decode(text.data(), 0), "");
}
