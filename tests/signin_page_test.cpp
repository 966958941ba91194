// Reading saved sign-in pages: which pages lead where, and that nothing
// from the network is ever copied past an array.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/signin_page.h"
#include "test_files.h"

namespace {

const char kUntouched[] = "untouched";

std::string Field(const char* name, const std::string& value)
{
    return std::string("<INPUT type=\"hidden\" name=\"") + name + "\" value=" + value + ">\n";
}

std::string RedirectPage(const std::string& rt, const std::string& st)
{
    return "<HTML><BODY>Tarrowin Keyloom\n<FORM>\n" + Field("RT", "\"" + rt + "\"") +
           Field("ST", "\"" + st + "\"") + "</FORM></BODY></HTML>\n";
}

std::string ReturnPage(const std::string& link)
{
    return "<HTML><BODY>\n<!-- The return_url -->\n<P><A HREF=" + link +
           ";\">Continue</A>\n<!-- END return_url -->\n</BODY></HTML>\n";
}

struct Answer {
    bool found;
    std::string url;
};

Answer Redirect(const std::string& page)
{
    ScratchFile file("signin_page.htm", page);
    char url[kFollowUrlArea];
    std::strcpy(url, kUntouched);
    bool found = FindSignInRedirect(file.path(), url);
    return {found, url};
}

Answer Return(const std::string& page)
{
    ScratchFile file("return_page.htm", page);
    char url[kFollowUrlArea];
    std::strcpy(url, kUntouched);
    bool found = FindReturnUrl(file.path(), url);
    return {found, url};
}

std::string Login(const std::string& rt, const std::string& st)
{
    return std::string(SignInLoginUrlPrefix()) + rt + ";ST=" + st;
}

} // namespace

TEST(SignInPage, LoginPrefixNamesTheSignInHostOverHttps)
{
    EXPECT_EQ(0, std::strncmp(SignInLoginUrlPrefix(), "https://", 8));
    std::string prefix = SignInLoginUrlPrefix();
    EXPECT_EQ("/login/?RT=", prefix.substr(prefix.size() - 11));
}

TEST(SignInPage, RedirectPageGivesTheLoginUrl)
{
    Answer a = Redirect(RedirectPage("abc", "xyz"));
    EXPECT_TRUE(a.found);
    EXPECT_EQ(Login("abc", "xyz"), a.url);
}

TEST(SignInPage, FieldsInEitherOrderAndEmptyValues)
{
    std::string swapped = "Tarrowin Keyloom\n" + Field("ST", "\"s2\"") + Field("RT", "\"r1\"") +
                          "\n";
    EXPECT_EQ(Login("r1", "s2"), Redirect(swapped).url);
    Answer empty = Redirect(RedirectPage("r", ""));
    EXPECT_TRUE(empty.found);
    EXPECT_EQ(Login("r", ""), empty.url);
}

TEST(SignInPage, RedirectFailuresLeaveTheCallersUrlAlone)
{
    const std::string pages[] = {
        // value without quotes cannot be cut out
        "Tarrowin Keyloom\n" + Field("RT", "abc") + Field("ST", "\"x\"") + "\n",
        // RT without ST
        "Tarrowin Keyloom\n" + Field("RT", "\"abc\"") + "\n",
        // neither marker nor banner
        "<HTML>just a page</HTML>\n",
        // a zero byte before everything, as a program file has
        std::string("MZ\0\0", 4) + RedirectPage("a", "b"),
        "",
    };
    for (const std::string& page : pages) {
        Answer a = Redirect(page);
        EXPECT_FALSE(a.found) << page;
        EXPECT_EQ(kUntouched, a.url) << page;
    }
    char url[kFollowUrlArea] = "untouched";
    EXPECT_FALSE(FindSignInRedirect("no-such-file.htm", url));
    EXPECT_STREQ(kUntouched, url);
}

TEST(SignInPage, MarkerPresenceIsExactCaseButCutsIgnoreCase)
{
    std::string lowerMarker = "<input type=\"hidden\" name=\"rt\" value=\"low\">\n";
    // Only a lower-case marker: judged by the banner alone.
    Answer banner = Redirect("Tarrowin Keyloom\n" + lowerMarker + Field("ST", "\"s\""));
    EXPECT_TRUE(banner.found);
    EXPECT_EQ("", banner.url);
    EXPECT_FALSE(Redirect(lowerMarker + Field("ST", "\"s\"")).found);
    // A lower-case copy before the exact one: the cut starts at the first.
    Answer first = Redirect(lowerMarker + Field("RT", "\"exact\"") + Field("ST", "\"s\""));
    EXPECT_EQ(Login("low", "s"), first.url);
    // The banner in another case is not the banner.
    EXPECT_FALSE(Redirect("tarrowin keyloom\n").found);
}

TEST(SignInPage, BannerOnlyPageIsASignInPageWithNothingToFollow)
{
    for (Answer a :
         {Redirect("<H1>Tarrowin Keyloom</H1>\n"), Return("<H1>Tarrowin Keyloom</H1>\n")}) {
        EXPECT_TRUE(a.found);
        EXPECT_EQ("", a.url);
    }
}

TEST(SignInPage, OnlyTheFirst8190BytesAreRead)
{
    // Everything from byte 8190 on is unseen, the banner included; a marker
    // that straddles the cap is unseen too.
    for (size_t before : {size_t(8190), size_t(8180)}) {
        std::string filler(before, 'x');
        EXPECT_FALSE(Redirect(filler + RedirectPage("a", "b")).found) << before;
        EXPECT_FALSE(Return(filler + ReturnPage("\"http://h/p?t=1")).found) << before;
    }

    std::string page = RedirectPage("a", "b");
    std::string near(8190 - page.size() - 1, 'y');
    EXPECT_EQ(Login("a", "b"), Redirect(near + page).url);
}

TEST(SignInPage, ReturnUrlPage)
{
    Answer a = Return(ReturnPage("\"go?id=7"));
    EXPECT_TRUE(a.found);
    EXPECT_EQ("go?id=7", a.url);
    // Without a leading quote the link stands unchanged; only one quote goes.
    EXPECT_EQ("go?id=8", Return(ReturnPage("go?id=8")).url);
    EXPECT_EQ("\"q", Return(ReturnPage("\"\"q")).url);
}

TEST(SignInPage, ReturnUrlPageWithoutItsLinkEndIsFalseWithEmptyUrl)
{
    std::string page = "<!-- The return_url -->\n<P><A HREF=\"go\">x</A>\n<!-- END return_url -->\n"
                       "Tarrowin Keyloom ;\">\n";
    Answer a = Return(page);
    EXPECT_FALSE(a.found);
    EXPECT_EQ("", a.url);
}

TEST(SignInPage, EachReaderLooksForItsOwnMarkerBeforeTheBanner)
{
    Answer redirect = Redirect(ReturnPage("\"go") + "Tarrowin Keyloom\n");
    EXPECT_TRUE(redirect.found);
    EXPECT_EQ("", redirect.url);
    Answer ret = Return(RedirectPage("a", "b"));
    EXPECT_TRUE(ret.found);
    EXPECT_EQ("", ret.url);
    EXPECT_EQ("go", Return(ReturnPage("\"go") + "Tarrowin Keyloom\n").url);
}

TEST(SignInPage, OversizeValuesAreRejectedNotOverrun)
{
    std::string prefix = SignInLoginUrlPrefix();
    size_t room = 4095 - prefix.size() - 4 - 1; // RT fills what ST (1 char) leaves
    EXPECT_EQ(Login(std::string(room, 'r'), "s"),
              Redirect(RedirectPage(std::string(room, 'r'), "s")).url);
    for (size_t length : {room + 1, size_t(4095), size_t(4096), size_t(7000)}) {
        Answer a = Redirect(RedirectPage(std::string(length, 'r'), "s"));
        EXPECT_FALSE(a.found) << length;
        EXPECT_EQ(kUntouched, a.url) << length;
    }
    EXPECT_EQ(std::string(4095, 'u'), Return(ReturnPage("\"" + std::string(4095, 'u'))).url);
    Answer longReturn = Return(ReturnPage("\"" + std::string(4096, 'u')));
    EXPECT_FALSE(longReturn.found);
    EXPECT_EQ("", longReturn.url);
}

TEST(ExtractBetweenMarkers, WorkedExampleAndFailures)
{
    char value[64] = "old";
    EXPECT_TRUE(ExtractBetweenMarkers("x <INPUT type=\"hidden\" name=\"RT\" value=\"abc\"> y",
                                      value, "<input TYPE=\"hidden\" name=\"rt\" value=", ">", "\"",
                                      "\""));
    EXPECT_STREQ("abc", value);
    EXPECT_FALSE(ExtractBetweenMarkers("no markers", value, "<a>", "</a>", "\"", "\""));
    EXPECT_STREQ("", value);
    char tiny[3];
    EXPECT_FALSE(ExtractBetweenMarkers("<a>\"abc\"</a>", tiny, "<a>", "</a>", "\"", "\""));
    EXPECT_STREQ("", tiny);
}

#ifdef _WIN32
// What only the Windows runtime's text mode gives.
TEST(SignInPage, TextModeReadTurnsCrLfIntoLf)
{
    std::string page =
        "Tarrowin Keyloom\r\n<INPUT type=\"hidden\" name=\"RT\" value=\"a\r\nb\">\r\n" +
        Field("ST", "\"c\"");
    EXPECT_EQ(Login("a\nb", "c"), Redirect(page).url);
}

TEST(SignInPage, CtrlZEndsThePageText)
{
    EXPECT_FALSE(Redirect(std::string("x\x1A") + RedirectPage("a", "b")).found);
    EXPECT_EQ(Login("a", "b"), Redirect(RedirectPage("a", "b") + "\x1A" + "tail").url);
}

TEST(SignInPage, CrLfPageFillingTheCapKeepsItsLastCharacter)
{
    // 8190 bytes asked, fewer delivered: the byte zeroed at index 8189 lies
    // behind the text, so a field ending at the very last byte still counts.
    std::string tail = "Tarrowin Keyloom\n" + Field("RT", "\"a\"") +
                       "<INPUT type=\"hidden\" name=\"ST\" value=\"b\">";
    std::string lines;
    while (lines.size() + tail.size() + 3 <= 8190)
        lines += "z\r\n";
    lines.append(8190 - lines.size() - tail.size(), 'z');
    EXPECT_EQ(Login("a", "b"), Redirect(lines + tail).url);
}
#endif
