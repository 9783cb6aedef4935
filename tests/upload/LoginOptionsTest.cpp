// The server options after column 100 of the login file.
#include <gtest/gtest.h>

#include <string>

#include "rtl/Exceptions.h"
#include "upload/LoginOptions.h"

namespace {

TEST(LoginOptions, EachKeyRoundTrips) {
    TLoginOptions options;
    options.Host = "ftp.central.hotels.example.com";
    options.Port = 990;
    options.Tls = TTlsMode::Explicit;
    options.TlsCaFile = "C:\\Program Files\\QELZAV\\chain ca.pem";
    options.TlsPin = "sha256//AbC+/=";
    options.Confirm = TConfirmRule::FinalReply;
    const std::string words = FormatLoginOptions(options);
    EXPECT_EQ(words.find_first_of("\r\n\x1a\t"), std::string::npos);
    EXPECT_NE(words.find("chain%20ca.pem"), std::string::npos) << words;
    EXPECT_EQ(ParseLoginOptions(words), options);
}

TEST(LoginOptions, DefaultsWriteNothing) {
    EXPECT_EQ(FormatLoginOptions(TLoginOptions{}), "");
    EXPECT_EQ(ParseLoginOptions("   "), TLoginOptions{});
}

// An option that cannot be understood never falls back to a weaker default.
class RefusedOptions : public ::testing::TestWithParam<const char*> {};
TEST_P(RefusedOptions, RaiseConvertError) {
    EXPECT_THROW(ParseLoginOptions(GetParam()), EConvertError) << GetParam();
}
INSTANTIATE_TEST_SUITE_P(Words, RefusedOptions,
                         ::testing::Values("tls=explict", "tls=", "port=0", "port=65536", "port=21x", "port=-21",
                                           "confirm=none", "verify=off", "tls", "host=", "tls-ca=a%2", "tls-ca=a%zz",
                                           "port=21 port=2121", "TLS=explicit"));

}  // namespace
