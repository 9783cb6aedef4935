// The login file: name, first line, columns and descrambling.
#include <gtest/gtest.h>

#include <unistd.h>  // getpid, in mingw-w64 too

#include <filesystem>
#include <fstream>
#include <string>

#include "UnreadableFile.h"
#include "rtl/Exceptions.h"
#include "upload/LoginCrypt.h"
#include "upload/LoginFile.h"
#include "upload/TextFn.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A field as a login-file writer puts it down: scrambled, blank-padded.
std::string Field(const std::string& plain, std::size_t width) {
    std::string padded = plain;
    padded.resize(width, ' ');
    return MyEncrypt(padded);
}

std::string FullLine(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& folder) {
    return Field(host, 20) + Field(user, 20) + Field(password, 20) + Field(folder, 40);
}

class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("qz-login-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string Folder() const { return path_.string() + "/"; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string file = Folder() + name;   // as the program joins them
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

private:
    fs::path path_;
    static inline int counter_ = 0;
};

}  // namespace

// ---- descrambling ----------------------------------------------------------

struct CryptCase { std::string stored; std::string plain; };
class MyDecryptTest : public ::testing::TestWithParam<CryptCase> {};
TEST_P(MyDecryptTest, Table) {
    EXPECT_EQ(MyDecrypt(GetParam().stored), GetParam().plain);
    EXPECT_EQ(MyEncrypt(GetParam().plain), GetParam().stored);
}
constexpr char K = kLoginScrambleOffset;
INSTANTIATE_TEST_SUITE_P(Cases, MyDecryptTest, ::testing::Values(
    CryptCase{"", ""},
    // position 1 subtracts 1 + K, position 2 subtracts 2 + K, ...
    CryptCase{std::string{char('a' + 1 + K), char('b' + 2 + K), char('c' + 3 + K)}, "abc"},
    // below 0 wraps round to 255 and down
    CryptCase{"\x01"s, std::string(1, char(256 + 1 - 1 - K))},
    CryptCase{std::string(1, char(1 + K)), "\0"s},                 // code 0 is a valid result
    CryptCase{std::string{char(0xFF), char(0xFF)}, std::string{char(0xFF - 1 - K), char(0xFF - 2 - K)}}));

TEST(MyDecryptTest, EncryptIsTheInverseForEveryByteAtEveryPosition) {
    std::string all;
    for (int i = 0; i < 256 * 2; ++i) all += static_cast<char>(i & 0xFF);
    EXPECT_EQ(MyDecrypt(MyEncrypt(all)), all);
    EXPECT_EQ(MyDecrypt(all).size(), all.size());
}

// ---- the file name --------------------------------------------------------

struct NameCase { std::string folder; std::string code; std::string expected; };
class LoginFileNameTest : public ::testing::TestWithParam<NameCase> {};
TEST_P(LoginFileNameTest, Table) {
    EXPECT_EQ(LoginFileName(GetParam().folder, GetParam().code), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, LoginFileNameTest, ::testing::Values(
    NameCase{"/opt/qelzav/", "NYC01", "/opt/qelzav/NYC01.DAT"},
    NameCase{"/opt/qelzav", "NYC01", "/opt/qelzav/NYC01.DAT"},
    NameCase{"C:\\QEL\\", "NYC01", "C:\\QEL\\NYC01.DAT"},
    NameCase{"/opt/qelzav/", "", "/opt/qelzav/.DAT"}));

// ---- fields by columns ----------------------------------------------------

struct Fields {
    std::string FtpHost, FtpUser, FtpPassword, RemoteFolder;
};
struct LineCase {
    std::string name;
    std::string line;
    Fields expected;
};
class ParseLoginLineTest : public ::testing::TestWithParam<LineCase> {};
TEST_P(ParseLoginLineTest, Table) {
    const TFtpLogin got = ParseLoginLine(GetParam().line);
    EXPECT_EQ(got.FtpHost, GetParam().expected.FtpHost);
    EXPECT_EQ(got.FtpUser, GetParam().expected.FtpUser);
    EXPECT_EQ(got.FtpPassword, GetParam().expected.FtpPassword);
    EXPECT_EQ(got.RemoteFolder, GetParam().expected.RemoteFolder);
}
const std::string kPad20(20, ' ');
INSTANTIATE_TEST_SUITE_P(Cases, ParseLoginLineTest, ::testing::Values(
    LineCase{"Full", FullLine("ftp.example.com", "hotel", "secret", "/in/NYC01"),
             {"ftp.example.com     ", "hotel               ", "secret              ", "/in/NYC01"}},
    LineCase{"Empty", "", {"", "", "", ""}},
    LineCase{"SixtyCharacters", FullLine("h", "u", "p", "").substr(0, 60),
             {"h" + kPad20.substr(1), "u" + kPad20.substr(1), "p" + kPad20.substr(1), ""}},
    // columns 61-70 descramble with positions 1 to 10
    LineCase{"SeventyCharacters", FullLine("h", "u", "p", "incoming").substr(0, 70),
             {"h" + kPad20.substr(1), "u" + kPad20.substr(1), "p" + kPad20.substr(1), "incoming"}},
    // a short host field: cut where the line ends, others empty
    LineCase{"FiveCharacters", MyEncrypt("hosts"), {"hosts", "", "", ""}},
    LineCase{"BlanksBeyondColumn100Ignored", FullLine("h", "u", "p", "dir") + "     ",
             {"h" + kPad20.substr(1), "u" + kPad20.substr(1), "p" + kPad20.substr(1), "dir"}},
    // control characters around the folder are trimmed, inner ones kept
    LineCase{"FolderTrimmed", Field("h", 20) + Field("u", 20) + Field("p", 20) + MyEncrypt("\0 a\tb \x1f"s),
             {"h" + kPad20.substr(1), "u" + kPad20.substr(1), "p" + kPad20.substr(1), "a\tb"}}),
    [](const auto& info) { return info.param.name; });

TEST(ParseLoginLineTest, ControlCharactersStayInTheWorkingValues) {
    const std::string line = MyEncrypt("\0host\x01"s + std::string(14, ' ')) + MyEncrypt("\tuser") +
                             std::string(15, char(0)) ;
    const TFtpLogin got = ParseLoginLine(line);
    EXPECT_EQ(got.FtpHost, "\0host\x01"s + std::string(14, ' '));
    EXPECT_EQ(TextFn::TrimBlanks(got.FtpHost), "host");   // the client's copy
    EXPECT_EQ(got.FtpUser.substr(0, 5), "\tuser");
    EXPECT_EQ(TextFn::TrimBlanks(got.FtpUser).substr(0, 4), "user");
}

// ---- reading the file -----------------------------------------------------

struct FileCase {
    std::string name;
    std::string content;
    std::string firstLine;
};
class ReadLoginLineTest : public ::testing::TestWithParam<FileCase> {};
TEST_P(ReadLoginLineTest, Table) {
    TempFolder dir;
    const std::string path = dir.Write("LOC.DAT", GetParam().content);
    EXPECT_EQ(ReadLoginLine(path), GetParam().firstLine);
}
INSTANTIATE_TEST_SUITE_P(Cases, ReadLoginLineTest, ::testing::Values(
    FileCase{"Empty", "", ""},
    FileCase{"CrLf", "abc\r\ndef", "abc"},
    FileCase{"CrOnly", "abc\rdef", "abc"},
    FileCase{"CtrlZ", "abc\x1a" "def", "abc"},
    FileCase{"LfIsData", "abc\ndef\n", "abc\ndef\n"},
    FileCase{"NoLineEnd", "abc", "abc"},
    FileCase{"CrFirst", "\rabc", ""},
    FileCase{"NulIsData", "a\0b\r"s, "a\0b"s},
    FileCase{"LongLineKept", std::string(150, 'x') + "\r\n", std::string(150, 'x')},
    FileCase{"HugeWithoutEndCutAtTheLimit", std::string(1 << 20, 'y'), std::string(kLoginLineLimit, 'y')}),
    [](const auto& info) { return info.param.name; });

TEST(ReadLoginFileTest, LineFeedLinesFillLaterColumns) {
    TempFolder dir;
    // The first "line" ends at 30 characters with a line feed; the next line
    // runs on into the user and password columns.
    const std::string full = FullLine("host", "user", "pass", "dir");
    std::string content = full.substr(0, 30) + "\n" + full.substr(31) + "\r\n";
    dir.Write("LOC.DAT", content);
    const auto login = ReadLoginFile(dir.Folder(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->FtpHost, "host" + std::string(16, ' '));
    EXPECT_EQ(login->FtpUser.size(), 20u);  // the line feed is a character of the field
    EXPECT_EQ(login->FtpUser.substr(0, 4), "user");
    EXPECT_NE(login->FtpUser[10], ' ');     // column 31: the line feed, descrambled
}

TEST(ReadLoginFileTest, OptionsAfterColumn100) {
    TempFolder dir;
    dir.Write("LOC.DAT", FullLine("central-ftp.hotel", "u", "p", "") +
                             " host=central-ftp.hotels.example.com port=2121 confirm=226\r\n");
    const auto login = ReadLoginFile(dir.Folder(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->ServerHost(), "central-ftp.hotels.example.com");
    EXPECT_EQ(login->Options.Port, 2121);
    EXPECT_EQ(login->Options.Confirm, TConfirmRule::FinalReply);
    EXPECT_EQ(login->Options.Tls, TTlsMode::Off);
}

TEST(ReadLoginFileTest, WithoutOptionsPlainFtpOnTheClientsPort) {
    TempFolder dir;
    dir.Write("LOC.DAT", FullLine("ftp.example.com", "u", "p", "") + "\r\n");
    const auto login = ReadLoginFile(dir.Folder(), "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->ServerHost(), "ftp.example.com");
    EXPECT_EQ(login->Options, TLoginOptions{});
}

TEST(ReadLoginFileTest, MissingFileIsNotFound) {
    TempFolder dir;
    EXPECT_FALSE(ReadLoginFile(dir.Folder(), "NONE"));
}

TEST(ReadLoginFileTest, FolderOfThatNameDoesNotCount) {
    TempFolder dir;
    fs::create_directory(dir.Folder() + "LOC.DAT");
    EXPECT_FALSE(LoginFileExists(dir.Folder() + "LOC.DAT"));
    EXPECT_FALSE(ReadLoginFile(dir.Folder(), "LOC"));
}

TEST(ReadLoginFileTest, FolderWithoutTrailingSeparator) {
    TempFolder dir;
    dir.Write("LOC.DAT", FullLine("h", "u", "p", "") + "\r\n");
    std::string folder = dir.Folder();
    folder.pop_back();
    const auto login = ReadLoginFile(folder, "LOC");
    ASSERT_TRUE(login);
    EXPECT_EQ(TextFn::TrimBlanks(login->FtpHost), "h");
}

TEST(ReadLoginFileTest, UnreadableFileRaisesInOutError) {
    TempFolder dir;
    const std::string path = dir.Write("LOC.DAT", FullLine("h", "u", "p", ""));
    UnreadableFile unreadable(path);
    if (!unreadable.Made()) GTEST_SKIP() << unreadable.WhyNot();
    try {
        ReadLoginFile(dir.Folder(), "LOC");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}

TEST(ReadLoginFileTest, ReadErrorRaisesInOutError) {
    // A file that opens but cannot be read: a folder opened as a file.
    TempFolder dir;
    fs::create_directory(dir.Folder() + "SUB");
    EXPECT_THROW(ReadLoginLine(dir.Folder() + "SUB"), EInOutError);
}
