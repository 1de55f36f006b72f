// Stored names must survive the plug-in's directory tree being moved, and the
// two directions of the rules must agree.
#include <gtest/gtest.h>

#include <string>

#include "host/paths.h"

namespace plexa::host {
namespace {

constexpr const char* kPluginDir = "C:\\Tools\\Plug\\";

std::string relative(const char* full, const char* dir = kPluginDir) {
    char out[260];
    EXPECT_TRUE(makeRelative(full, dir, out, sizeof out)) << full;
    return out;
}

std::string resolved(const char* stored, const char* dir = kPluginDir) {
    char out[260];
    EXPECT_TRUE(resolvePath(stored, dir, out, sizeof out)) << stored;
    return out;
}

TEST(MakeRelative, StoredForms) {
    EXPECT_EQ(relative("C:\\Tools\\Plug\\tex\\wood.bmp"), "tex\\wood.bmp");
    EXPECT_EQ(relative("C:\\Tools\\pic.jpg"), "..\\pic.jpg");
    EXPECT_EQ(relative("C:\\Tools\\Plugins\\x.bmp"), "..\\Plugins\\x.bmp");
    EXPECT_EQ(relative("C:\\Data\\pic.jpg"), "\\Data\\pic.jpg");
    EXPECT_EQ(relative("c:\\tools\\plug\\A.BMP"), "A.BMP");
    EXPECT_EQ(relative("D:\\pic.jpg"), "D:\\pic.jpg");
    EXPECT_EQ(relative("C:\\a.txt", "C:\\A\\B\\C\\"), "\\a.txt");
    EXPECT_EQ(relative("C:\\A\\x.txt", "C:\\A\\B\\C\\"), "..\\..\\x.txt");
}

TEST(ResolvePath, FullNames) {
    EXPECT_EQ(resolved("tex\\wood.bmp"), "C:\\Tools\\Plug\\tex\\wood.bmp");
    EXPECT_EQ(resolved("..\\pic.jpg"), "C:\\Tools\\pic.jpg");
    EXPECT_EQ(resolved("..\\Plugins\\x.bmp"), "C:\\Tools\\Plugins\\x.bmp");
    EXPECT_EQ(resolved("\\Data\\pic.jpg"), "C:\\Data\\pic.jpg");
    EXPECT_EQ(resolved("D:\\pic.jpg"), "D:\\pic.jpg");
    EXPECT_EQ(resolved("\\\\server\\share\\a.bmp"), "\\\\server\\share\\a.bmp");
    // A dot and a backslash climb one directory here, unlike the system's rule.
    EXPECT_EQ(resolved(".\\a.bmp"), "C:\\Tools\\a.bmp");
    EXPECT_EQ(resolved("..\\..\\a.bmp"), "C:\\a.bmp");
}

TEST(PathRules, RoundTripsThroughBothDirections) {
    for (const char* full : {"C:\\Tools\\Plug\\tex\\wood.bmp", "C:\\Tools\\pic.jpg", "C:\\Data\\pic.jpg",
                             "D:\\pic.jpg", "C:\\Tools\\Plugins\\deep\\x.bmp"}) {
        const std::string stored = relative(full);
        EXPECT_EQ(resolved(stored.c_str()), full) << stored;
    }
}

TEST(PathRules, ClimbingAboveTheRootIsRefused) {
    char out[260] = "sentinel";
    EXPECT_FALSE(resolvePath("..\\..\\..\\a.bmp", kPluginDir, out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(PathRules, ResultsThatDoNotFitAreRefusedWhole) {
    std::string deepDir = "C:\\";
    for (int level = 0; level < 60; ++level) deepDir += "a\\";
    const std::string otherTree = "C:\\a\\" + std::string(150, 'n') + ".bmp";
    char out[260] = "sentinel";
    // The stored form needs more "..\" than 260 characters leave room for.
    EXPECT_FALSE(makeRelative(otherTree.c_str(), deepDir.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "");

    char small[9] = "xxxxxxxx";
    EXPECT_FALSE(resolvePath("tex\\wood.bmp", kPluginDir, small, sizeof small));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(makeRelative("D:\\a-long-name.bmp", kPluginDir, small, sizeof small));
    EXPECT_TRUE(makeRelative("D:\\a.bmp", kPluginDir, small, sizeof small));
    EXPECT_STREQ(small, "D:\\a.bmp");
}

TEST(PathRules, ShortAndEmptyNames) {
    EXPECT_EQ(resolved(""), kPluginDir);
    EXPECT_EQ(resolved("a"), std::string(kPluginDir) + "a");
    EXPECT_EQ(relative("C:"), "C:");
}

// Windows refuses plain names from 260 characters on (directories from 248),
// where Wine may still open them: the prefix is what makes them reachable.
TEST(SystemFileName, FullResolvedAndPrefixedPastThePlainLimit) {
    const std::u16string deep = u"C:\\" + std::u16string(250, u'd') + u"\\";
    const std::u16string share = u"\\\\srv\\share\\" + std::u16string(240, u'd') + u"\\";
    const struct {
        std::u16string directory, name, expected;
    } cases[] = {
        {u"C:\\Host\\", u"defplx00.880", u"C:\\Host\\defplx00.880"},
        {u"C:\\Host\\Sub\\", u"..\\defplx00.880", u"C:\\Host\\defplx00.880"},
        {u"C:\\Host", u".\\a/b\\\\c.bmp", u"C:\\Host\\a\\b\\c.bmp"},
        {u"C:\\Host\\", u"\\Data\\..\\..\\p.jpg", u"C:\\p.jpg"},
        {u"C:\\Host\\", u"D:\\p.jpg", u"D:\\p.jpg"},
        {u"\\\\srv\\share\\dir\\", u"\\p.jpg", u"\\\\srv\\share\\p.jpg"},
        {u"C:\\Плагин\\", u"tex\\..\\", u"C:\\Плагин\\"},
        {deep, u"x", u"\\\\?\\" + deep + u"x"},
        {deep, u"..\\x", u"C:\\x"},
        {share, u"x", u"\\\\?\\UNC\\srv\\share\\" + std::u16string(240, u'd') + u"\\x"},
        {u"C:\\", u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\a\\..\\b"},
    };
    for (const auto& c : cases) {
        const std::u16string formed = systemFileName(c.directory, c.name);
        EXPECT_TRUE(formed == c.expected) << std::string(formed.begin(), formed.end());
    }
    // The first length that gets the prefix.
    const std::u16string atLimit = u"C:\\" + std::u16string(kPlainNameLimit - 3, u'n');
    EXPECT_EQ(systemFileName(u"C:\\", atLimit.substr(0, atLimit.size() - 1)).substr(0, 4), u"C:\\n");
    EXPECT_EQ(systemFileName(u"C:\\", atLimit).substr(0, 4), u"\\\\?\\");
}

}  // namespace
}  // namespace plexa::host
