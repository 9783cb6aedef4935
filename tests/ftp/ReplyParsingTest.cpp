// Reply, line, passive-address and size parsing, without sockets.
#include <gtest/gtest.h>

#include "ftp/NetExceptions.h"
#include "ftp/connection/NetReply.h"
#include "ftp/socket/NetStack.h"

namespace {

// Feeds raw server bytes through the input buffer and the reply collector
// the way the connection does.
TNetRFCReply ParseOneReply(const std::string& bytes) {
    TNetInputBuffer buffer;
    buffer.Append(bytes.data(), bytes.size());
    TNetReplyCollector collector;
    std::size_t taken = 0;
    while (auto line = buffer.TakeLine(taken)) {
        if (collector.AddLine(*line)) return ParseReplyLines(collector.Lines());
    }
    throw std::runtime_error("incomplete reply");
}

struct ReplyCase {
    const char* name;
    std::string bytes;
    int code;
    std::string textCode;
    std::vector<std::string> text;
};

class ReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTest, ParsesCodeAndText) {
    const ReplyCase& c = GetParam();
    TNetRFCReply reply = ParseOneReply(c.bytes);
    EXPECT_EQ(reply.NumericCode, c.code);
    EXPECT_EQ(reply.TextCode, c.textCode);
    EXPECT_EQ(reply.Text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    testing::Values(
        ReplyCase{"Single", "220 Service ready\r\n", 220, "220", {"Service ready"}},
        ReplyCase{"LfOnly", "220 Service ready\n", 220, "220", {"Service ready"}},
        ReplyCase{"MultiLine", "230-Welcome\r\nHello there\r\n230 Done\r\n", 230, "230", {"Welcome", "o there", "Done"}},
        ReplyCase{"MultiLineGreeting", "220-first\r\n220-second\r\n220 ready\r\n", 220, "220", {"first", "second", "ready"}},
        ReplyCase{"EndsWithBareCode", "230-Welcome\r\nmore text\r\n230\r\n", 230, "230", {"Welcome", " text", ""}},
        ReplyCase{"EndsWithCodeAndBlank", "230-Welcome\r\n230 \r\n", 230, "230", {"Welcome", ""}},
        ReplyCase{"ShortLinesAreText", "230-Welcome\r\n  ok\r\n--\r\n230 Done\r\n", 230, "230", {"Welcome", "", "", "Done"}},
        // RFC 959: an inner line that begins with a blank is text, even with the code after it
        ReplyCase{"InnerLineStartingWithABlankIsText", "213-Status\r\n 213 24\r\n213 3\r\n", 213, "213",
                  {"Status", "24", "3"}},
        ReplyCase{"OtherCodeIsText", "226-a\r\n213 10\r\n226 b\r\n", 226, "226", {"a", "10", "b"}},
        ReplyCase{"EndMarkerIgnoresCase", "abc-x\r\nABC done\r\n", 0, "abc", {"x", "done"}},
        ReplyCase{"BlankLinesSkipped", "\r\n   \r\n\t\n220 ok\r\n", 220, "220", {"ok"}},
        ReplyCase{"BlankLinesInsideSkipped", "230-a\r\n\r\n230 b\r\n", 230, "230", {"a", "b"}},
        ReplyCase{"NotANumber", "abc def\r\n", 0, "abc", {"def"}},
        ReplyCase{"CodeOnly", "200\r\n", 200, "200", {""}},
        ReplyCase{"TrimmedBothEnds", "  331 Password please  \r\n", 331, "331", {"Password please"}},
        ReplyCase{"FourDigitCode", "1234 x\r\n", 1234, "1234", {" x"}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(ReplyTest, RefusedReplyMessageIsTheTextWithLineEnds) {
    TNetRFCReply reply = ParseOneReply("230-Welcome\r\n230 Done\r\n");
    EXPECT_EQ(reply.FormattedText(), "Welcome\r\nDone\r\n");
    EXPECT_EQ(RefusedReplyMessage(reply), "Welcome\r\nDone\r\n");
}

TEST(ReplyTest, RefusedReplyWithoutTextNamesItsCode) {
    EXPECT_EQ(RefusedReplyMessage(ParseOneReply("550\r\n")), "The server answered \"550\" with no text.");
    EXPECT_EQ(RefusedReplyMessage(ParseOneReply("550    \r\n")), "The server answered \"550\" with no text.");
}

TEST(ReplyTest, ShownReplyIsOneBoundedLineWithoutControls) {
    EXPECT_EQ(ShownReply(ParseOneReply("213-size\r\n213 50000\r\n")), "213 size 50000");
    EXPECT_EQ(ShownReply(ParseOneReply("550 a\x1b[2Jb\r\n")), "550 a?[2Jb");
    EXPECT_EQ(ShownReply(ParseOneReply("550 " + std::string(5000, 'x') + "\r\n")).size(), 203u);
    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
    EXPECT_EQ(ShownReply(ParseOneReply("550 " + accented + "\r\n")), "550 " + accented.substr(0, 196) + "...");
}

struct LineLengthCase {
    const char* name;
    std::size_t bytesBeforeLf;  // carriage return included
    bool ok;
};

class LineLengthTest : public testing::TestWithParam<LineLengthCase> {};

TEST_P(LineLengthTest, LimitsTheBytesBeforeTheLineFeed) {
    const LineLengthCase& c = GetParam();
    std::string bytes(c.bytesBeforeLf - 1, 'x');
    bytes += "\r\n";
    TNetInputBuffer buffer;
    buffer.Append(bytes.data(), bytes.size());
    std::size_t taken = 0;
    if (c.ok) {
        auto line = buffer.TakeLine(taken);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->size(), c.bytesBeforeLf - 1);
        EXPECT_EQ(taken, bytes.size());
    } else {
        EXPECT_THROW(buffer.TakeLine(taken), ENetReadLnMaxLineLengthExceeded);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, LineLengthTest,
                         testing::Values(LineLengthCase{"AtTheLimit", 16384, true},
                                         LineLengthCase{"OneOver", 16385, false}),
                         [](const testing::TestParamInfo<LineLengthCase>& info) { return info.param.name; });

TEST(LineBufferTest, UnfinishedLineWaitsUntilTooLong) {
    TNetInputBuffer buffer;
    std::size_t taken = 0;
    std::string part(16384, 'x');
    buffer.Append(part.data(), part.size());
    EXPECT_FALSE(buffer.TakeLine(taken));  // may still end in a line feed
    buffer.Append("y", 1);
    EXPECT_THROW(buffer.TakeLine(taken), ENetReadLnMaxLineLengthExceeded);
}

TEST(LineBufferTest, LineArrivingInPiecesAndManyLines) {
    TNetInputBuffer buffer;
    std::size_t taken = 0;
    buffer.Append("22", 2);
    EXPECT_FALSE(buffer.TakeLine(taken));
    buffer.Append("0 a\r", 4);
    EXPECT_FALSE(buffer.TakeLine(taken));
    buffer.Append("\nb\n", 3);
    EXPECT_EQ(*buffer.TakeLine(taken), "220 a");
    EXPECT_EQ(taken, 7u);
    EXPECT_EQ(*buffer.TakeLine(taken), "b");
    EXPECT_TRUE(buffer.Empty());
    // Enough traffic to move the unread bytes to the front several times.
    std::string line(1000, 'z');
    line += "\n";
    for (int i = 0; i < 200; ++i) {
        buffer.Append(line.data(), line.size());
        buffer.Append(line.data(), 500);
        EXPECT_EQ(buffer.TakeLine(taken)->size(), 1000u);
        buffer.Append(line.data() + 500, line.size() - 500);
        EXPECT_EQ(buffer.TakeLine(taken)->size(), 1000u);
    }
    EXPECT_TRUE(buffer.Empty());
}

struct PassiveCase {
    const char* name;
    std::string text;  // text of the reply after "227 "
    std::string address;
    int port;
};

class PassiveReplyTest : public testing::TestWithParam<PassiveCase> {};

TEST_P(PassiveReplyTest, GivesAddressAndPort) {
    TPassiveAddress a = ParsePassiveReply(GetParam().text);
    EXPECT_EQ(a.Address, GetParam().address);
    EXPECT_EQ(a.Port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Passive, PassiveReplyTest,
    testing::Values(PassiveCase{"Parentheses", "Entering Passive Mode (192,168,1,2,19,136)", "192.168.1.2", 5000},
                    PassiveCase{"NoParentheses", "Entering Passive Mode 10,0,0,5,4,1", "10.0.0.5", 1025},
                    PassiveCase{"NoBlank", "10,0,0,5,4,1", "10.0.0.5", 1025},
                    PassiveCase{"TrailingDot", "Entering Passive Mode (127,0,0,1,200,10).", "127.0.0.1", 51210},
                    PassiveCase{"AddressNotChecked", "(a,b,c,d,0,21)", "a.b.c.d", 21},
                    PassiveCase{"NoRangeTest", "(1,2,3,4,300,-1)", "1.2.3.4", 76799},
                    PassiveCase{"LeadingBlankInNumber", "Mode (1,2,3,4, 1, 2)", "1.2.3.4", 258}),
    [](const testing::TestParamInfo<PassiveCase>& info) { return info.param.name; });

struct BadPassiveCase {
    const char* name;
    std::string text;
    std::string message;
};

class BadPassiveReplyTest : public testing::TestWithParam<BadPassiveCase> {};

TEST_P(BadPassiveReplyTest, RaisesConvertError) {
    try {
        ParsePassiveReply(GetParam().text);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Passive, BadPassiveReplyTest,
    testing::Values(BadPassiveCase{"FifthNotNumber", "(1,2,3,4,x,5)", "'x' is not a valid integer value"},
                    BadPassiveCase{"SixthNotNumber", "(1,2,3,4,5,6x)", "'6x' is not a valid integer value"},
                    BadPassiveCase{"SixthMissing", "(1,2,3,4,5)", "'' is not a valid integer value"},
                    BadPassiveCase{"Empty", "", "'' is not a valid integer value"},
                    BadPassiveCase{"CloseBeforeOpen", ")1,2,3,4,5,6(", "'' is not a valid integer value"},
                    BadPassiveCase{"TooBig", "(1,2,3,4,99999999999,1)", "'99999999999' is not a valid integer value"},
                    BadPassiveCase{"TrailingBlank", "(1,2,3,4,5 ,6)", "'5 ' is not a valid integer value"}),
    [](const testing::TestParamInfo<BadPassiveCase>& info) { return info.param.name; });

struct SizeCase {
    const char* name;
    std::vector<std::string> text;
    long long size;
};

class SizeReplyTest : public testing::TestWithParam<SizeCase> {};

TEST_P(SizeReplyTest, ReadsTheNumber) { EXPECT_EQ(ParseSizeReply(GetParam().text), GetParam().size); }

INSTANTIATE_TEST_SUITE_P(Size, SizeReplyTest,
                         testing::Values(SizeCase{"Plain", {"1024"}, 1024}, SizeCase{"Zero", {"0"}, 0},
                                         SizeCase{"Large", {"68719476736"}, 68719476736LL},
                                         SizeCase{"LeadingZeros", {"0077"}, 77},
                                         SizeCase{"TextBeforeNumber", {"size 77"}, -1},
                                         SizeCase{"NotNumber", {"big"}, -1}, SizeCase{"Empty", {""}, -1},
                                         SizeCase{"MultiLineEndLine", {"size", "50000"}, 50000},
                                         SizeCase{"MultiLineEndLineEmpty", {"50000", ""}, -1},
                                         SizeCase{"Signed", {"+5"}, -1}, SizeCase{"Negative", {"-5"}, -1},
                                         SizeCase{"Exponent", {"1e9"}, -1}, SizeCase{"Hex", {"0x10"}, -1},
                                         SizeCase{"Past64Bits", {"99999999999999999999"}, -1},
                                         SizeCase{"Max64Bits", {"9223372036854775807"}, 9223372036854775807LL},
                                         SizeCase{"Unit", {"50000 bytes"}, -1}),
                         [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

struct DottedCase {
    std::string name;
    bool dotted;
};

class DottedAddressTest : public testing::TestWithParam<DottedCase> {};

TEST_P(DottedAddressTest, RecognisesFourDecimalParts) {
    EXPECT_EQ(TNetStack::IsDottedAddress(GetParam().name), GetParam().dotted) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Hosts, DottedAddressTest,
                         testing::Values(DottedCase{"127.0.0.1", true}, DottedCase{"255.255.255.255", true},
                                         DottedCase{"010.000.0.1", true}, DottedCase{"10.0.0.256", false},
                                         DottedCase{"10.0.0", false}, DottedCase{"10.0.0.1.2", false},
                                         DottedCase{"10..0.1", false}, DottedCase{"a.b.c.d", false},
                                         DottedCase{"1.2.3.4 ", false}, DottedCase{"", false},
                                         DottedCase{"1000.1.1.1", false}));

struct ErrorTextCase {
    int number;
    std::string text;
};

class SocketErrorTextTest : public testing::TestWithParam<ErrorTextCase> {};

TEST_P(SocketErrorTextTest, ReadsLikeEverywhere) {
    EXPECT_EQ(SocketErrorText(GetParam().number), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SocketErrorTextTest,
    testing::Values(ErrorTextCase{10061, "Socket Error # 10061\r\nConnection refused."},
                    ErrorTextCase{10035, "Socket Error # 10035\r\nOperation would block. "},
                    ErrorTextCase{10066, "Socket Error # 10066\r\nDirectory not empty"},
                    ErrorTextCase{11001, "Socket Error # 11001\r\n"}));

struct ErrnoCase {
    int err;
    int number;
};

class ErrnoMappingTest : public testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMappingTest, MapsToTheSocketErrorNumber) {
    EXPECT_EQ(TNetStack::TranslateErrno(GetParam().err), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrnoMappingTest,
                         testing::Values(ErrnoCase{ECONNREFUSED, 10061}, ErrnoCase{ECONNRESET, 10054},
                                         ErrnoCase{ECONNABORTED, 10053}, ErrnoCase{EPIPE, 10058},
                                         ErrnoCase{ETIMEDOUT, 10060}, ErrnoCase{EADDRINUSE, 10048},
                                         ErrnoCase{ENOTSOCK, 10038}, ErrnoCase{EBADF, 10009},
                                         ErrnoCase{EHOSTUNREACH, 10065}, ErrnoCase{ENETUNREACH, 10051},
                                         ErrnoCase{EWOULDBLOCK, 10035}));

}  // namespace
