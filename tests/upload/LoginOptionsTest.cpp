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
    options.TlsPin = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=,cert:E3:B0:C4:42:98:FC:1C:14:9A:FB:F4:C8:99:6F:B9:24:"
                     "27:AE:41:E4:64:9B:93:4C:A4:95:99:1B:78:52:B8:55";
    options.Confirm = TConfirmRule::FinalReply;
    const std::string words = FormatLoginOptions(options);
    EXPECT_EQ(words.find_first_of("\r\n\x1a\t"), std::string::npos);
    EXPECT_EQ(ParseLoginOptions(words), options);

    // a CA file instead of the pin, its blank escaped
    options.TlsPin.clear();
    options.TlsCaFile = "C:\\Program Files\\QELZAV\\chain ca.pem";
    const std::string caWords = FormatLoginOptions(options);
    EXPECT_NE(caWords.find("chain%20ca.pem"), std::string::npos) << caWords;
    EXPECT_EQ(ParseLoginOptions(caWords), options);
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
                                           "confirm=none", "verify=off", "tls", "host=", "tls=explicit tls-ca=a%2", "tls=explicit tls-ca=a%zz",
                                           "port=21 port=2121", "TLS=explicit",
                                           // pins: cert:/key: with 64 hex digits, sha256// with 44 base64
                                           "tls=explicit tls-pin=sha256//AbC+/=", "tls=explicit tls-pin=cert:12",
                                           "tls=explicit tls-pin=md5:00",
                                           "tls=explicit tls-pin=key:" "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b85g",
                                           "tls=explicit tls-pin=cert:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855,",
                                           // a check that would never run while the password goes in clear
                                           "tls-ca=ca.pem", "tls=off tls-ca=ca.pem",
                                           "tls-pin=cert:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                                           // one of the two would go unused
                                           "tls=explicit tls-ca=ca.pem "
                                           "tls-pin=cert:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));

}  // namespace
