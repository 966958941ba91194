// SHA-256 against the standard test vectors, and the pin lookup.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "inspect/package_pins.h"
#include "install/package_digest.h"
#include "test_files.h"

namespace {

std::string Hex(const std::string& message, size_t repeat = 1)
{
    Sha256 sha;
    Sha256Begin(sha);
    for (size_t i = 0; i < repeat; ++i)
        Sha256Add(sha, message.data(), message.size());
    unsigned char digest[32];
    Sha256End(sha, digest);
    std::string hex;
    char two[3];
    for (unsigned char b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

const char kXpDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

} // namespace

TEST(Sha256, StandardVectors)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Hex(""));
    EXPECT_EQ(kXpDigest, Hex("abc"));
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    EXPECT_EQ("cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
              Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu"));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
              Hex("a", 1000000));
}

TEST(Sha256, FileDigest)
{
    ScratchFile file("digest.bin", "abc");
    char hex[65];
    ASSERT_TRUE(DigestFile(file.path(), hex));
    EXPECT_STREQ(kXpDigest, hex);
    EXPECT_FALSE(DigestFile("no-such-file.bin", hex));
}

TEST(PackagePins, LookupByNameIgnoringCase)
{
    std::string upper(kXpDigest);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string pins = std::string("Windows2000-KB835732-x86-ENU.EXE=") + std::string(64, '0') +
                       ";windowsxp-kb835732-x86-enu.exe=" + upper;
    char hex[65];
    ASSERT_TRUE(FindPinnedDigest(pins.c_str(), "WindowsXP-KB835732-x86-ENU.EXE", hex));
    EXPECT_STREQ(kXpDigest, hex);
    ASSERT_TRUE(FindPinnedDigest(pins.c_str(), "Windows2000-KB835732-x86-ENU.EXE", hex));
    EXPECT_EQ(std::string(64, '0'), hex);
    EXPECT_FALSE(FindPinnedDigest(pins.c_str(), "828028USA8.EXE", hex));
    EXPECT_FALSE(FindPinnedDigest("", "828028USA8.EXE", hex));
    // A name that only ends like another is not it.
    EXPECT_FALSE(FindPinnedDigest(pins.c_str(), "XP-KB835732-x86-ENU.EXE", hex));
}

TEST(PackagePins, MalformedDigestPinsToNothing)
{
    char hex[65] = "x";
    for (const char* pins :
         {"A.EXE=abc",
          "A.EXE=", "A.EXE=zz3816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}) {
        ASSERT_TRUE(FindPinnedDigest(pins, "a.exe", hex)) << pins;
        EXPECT_STREQ("", hex) << pins;
    }
}

TEST(PackagePins, PinnedBuildRunsOnlyWhatItHoldsADigestFor)
{
    ScratchFile file("pinned.bin", "abc");
    const std::string pins = std::string("WindowsXP-KB835732-x86-ENU.EXE=") + kXpDigest +
                             ";828028USA8.EXE=" + std::string(64, '0');
    EXPECT_TRUE(IsPackageAsPinnedTo(pins.c_str(), file.path(), "WindowsXP-KB835732-x86-ENU.EXE"));
    // Pinned to other bytes, or not pinned at all while others are.
    EXPECT_FALSE(IsPackageAsPinnedTo(pins.c_str(), file.path(), "828028USA8.EXE"));
    EXPECT_FALSE(
        IsPackageAsPinnedTo(pins.c_str(), file.path(), "Windows2000-KB835732-x86-ENU.EXE"));
    EXPECT_FALSE(
        IsPackageAsPinnedTo(pins.c_str(), "no-such-file.bin", "WindowsXP-KB835732-x86-ENU.EXE"));
    file.Write("abd");
    EXPECT_FALSE(IsPackageAsPinnedTo(pins.c_str(), file.path(), "WindowsXP-KB835732-x86-ENU.EXE"));
    // An unpinned build passes every package on to the size check.
    EXPECT_TRUE(IsPackageAsPinnedTo("", file.path(), "Windows2000-KB835732-x86-ENU.EXE"));
}
