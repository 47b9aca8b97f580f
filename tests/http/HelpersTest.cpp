#include "http/Base64.h"
#include "http/File.h"
#include "http/Process.h"
#include "http/Sha1.h"
#include "http/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vuzozar {

namespace fs = std::filesystem;

namespace {

std::string hex(const SHA1::Digest& digest) {
    std::string text;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::vector<uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vuzozar-helpers-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, std::string_view content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    }

    fs::path dir;
};

} // namespace

TEST(Sha1, Rfc3174TestVectors) {
    EXPECT_EQ(sha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    std::string millionA(1000000, 'a');
    EXPECT_EQ(sha1(millionA), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    std::string repeated;
    for (int i = 0; i < 80; ++i) {
        repeated += "01234567";
    }
    EXPECT_EQ(sha1(repeated), "dea356a2cddd90c7a7ecedc5ebb563934f460452");
}

TEST(Sha1, PaddingBoundariesAndEmptyMessage) {
    EXPECT_EQ(sha1(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // 55, 56 and 64 bytes: the length fits the last block, just does not,
    // and a whole block of padding follows.
    EXPECT_EQ(sha1(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(sha1(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
    EXPECT_EQ(sha1(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
    auto digest = SHA1::hash(bytesOf("abc"));
    EXPECT_EQ(hex(digest), sha1("abc"));
    EXPECT_EQ(sha1Digest("abc"), digest);
}

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(toBase64({}), "");
    EXPECT_EQ(toBase64(bytesOf("f")), "Zg==");
    EXPECT_EQ(toBase64(bytesOf("fo")), "Zm8=");
    EXPECT_EQ(toBase64(bytesOf("foo")), "Zm9v");
    EXPECT_EQ(toBase64(bytesOf("foob")), "Zm9vYg==");
    EXPECT_EQ(toBase64(bytesOf("fooba")), "Zm9vYmE=");
    EXPECT_EQ(toBase64(bytesOf("foobar")), "Zm9vYmFy");
    EXPECT_EQ(toBase64(std::vector<uint8_t>{0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Strings, SplitDropsEmptyPieces) {
    EXPECT_EQ(split("/a//b/", '/'), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(split("/", '/').empty());
    EXPECT_EQ(splitKeepingEmpty("a&&b", '&'), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(splitKeepingEmpty("", '&'), (std::vector<std::string>{""}));
}

TEST(Strings, Unquote) {
    EXPECT_EQ(unquote("\"abc\""), "abc");
    EXPECT_EQ(unquote("\""), "\"");
    EXPECT_EQ(unquote("\"\""), "");
    EXPECT_EQ(unquote("\"abc"), "\"abc");
}

TEST(Strings, WhitespaceTrimAndCase) {
    EXPECT_EQ(asWhitespace(U'\t'), 9);
    EXPECT_EQ(asWhitespace(U'\r'), 13);
    EXPECT_EQ(asWhitespace(U' '), 32);
    EXPECT_FALSE(asWhitespace(U'a').has_value());
    EXPECT_FALSE(asWhitespace(U'\u00A0').has_value());
    EXPECT_EQ(trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(lowercased("Keep-ALIVE"), "keep-alive");
}

TEST(Strings, PercentDecoding) {
    EXPECT_EQ(percentDecode("a%20b"), "a b");
    EXPECT_EQ(percentDecode("J%C3%B6rg"), "J\xC3\xB6rg");
    EXPECT_FALSE(percentDecode("%zz").has_value());
    EXPECT_FALSE(percentDecode("abc%4").has_value());
    EXPECT_FALSE(percentDecode("%").has_value());
    EXPECT_FALSE(percentDecode("%C3").has_value()) << "a lone lead byte is not UTF-8";
    EXPECT_FALSE(percentDecode("%C0%AF").has_value()) << "overlong form";
}

TEST_F(TempDir, ExistsAndDirectory) {
    std::string file = write("plain.txt", "data");
    EXPECT_TRUE(exists(file));
    EXPECT_FALSE(exists((dir / "missing").string()));
    EXPECT_THROW(exists(file + "/below"), FileError);
    EXPECT_TRUE(directory(dir.string()));
    EXPECT_FALSE(directory(file));
    EXPECT_FALSE(directory((dir / "missing").string()));
    try {
        exists(file + "/below");
    } catch (const FileError& error) {
        EXPECT_EQ(error.error(), ENOTDIR);
    }
}

TEST_F(TempDir, FilesListsEveryEntry) {
    auto names = files(dir.string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", ".."}));
    write("a", "");
    write("b\xE9", ""); // not UTF-8: skipped
    names = files(dir.string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a"}));
    EXPECT_THROW(files((dir / "missing").string()), FileError);
}

TEST_F(TempDir, ReadingShortFilesAndSeeking) {
    File file = openForReading(write("four", "abcd"));
    std::vector<uint8_t> buffer(10, 'x');
    EXPECT_EQ(file.read(buffer), 4u);
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), "abcdx");
    EXPECT_EQ(file.read(buffer), 0u);
    std::vector<uint8_t> none;
    EXPECT_EQ(file.read(none), 0u);
    EXPECT_TRUE(file.seek(2));
    std::vector<uint8_t> two(2);
    EXPECT_EQ(file.read(two), 2u);
    EXPECT_EQ(std::string(two.begin(), two.end()), "cd");
    EXPECT_FALSE(file.seek(-1));
    file.close();
}

TEST_F(TempDir, WritingAndOpenModes) {
    std::string path = (dir / "new").string();
    File created = openNewForWriting(path);
    created.write(bytesOf("hello"));
    created.write({});
    created.close();
    File both = openForWritingAndReading(path);
    both.write(bytesOf("J"));
    EXPECT_TRUE(both.seek(0));
    std::vector<uint8_t> content(5);
    EXPECT_EQ(both.read(content), 5u);
    EXPECT_EQ(std::string(content.begin(), content.end()), "Jello");
    both.close();
    EXPECT_THROW(openForReading((dir / "missing").string()), FileError);
    File readOnly = openFileForMode(path, "rb");
    EXPECT_THROW(readOnly.write(bytesOf("x")), FileError);
    readOnly.close();
}

TEST_F(TempDir, ReadingAStreamOpenForWritingOnlyFails) {
    File file = openNewForWriting((dir / "w").string());
    std::vector<uint8_t> buffer(4);
    try {
        file.read(buffer);
        FAIL() << "reading a write-only stream must fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.error(), EBADF);
    }
    file.close();
}

TEST(Files, CurrentWorkingDirectory) {
    EXPECT_EQ(File::currentWorkingDirectory(), fs::current_path().string());
}

TEST(ProcessTest, IdentifiersAndSignalWatchers) {
    EXPECT_EQ(Process::pid(), getpid());
    uint64_t mainTid = Process::tid();
    EXPECT_EQ(mainTid, uint64_t(getpid())) << "the main thread's id is the process id";
    uint64_t otherTid = 0;
    std::thread([&] { otherTid = Process::tid(); }).join();
    EXPECT_NE(otherTid, mainTid);

    static std::atomic<int> first{0}, second{0};
    Process::watchSignals([](int32_t signal) { first = signal; });
    Process::watchSignals([](int32_t signal) { second = signal; });
    std::raise(SIGHUP);
    EXPECT_EQ(first.load(), SIGHUP);
    EXPECT_EQ(second.load(), SIGHUP);
    std::raise(SIGTERM);
    EXPECT_EQ(first.load(), SIGTERM);
}

} // namespace vuzozar
