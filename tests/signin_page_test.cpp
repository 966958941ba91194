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

// The read keeps bytes 1 to 8190 of the file, however long it is: a marker
// that ends on byte 8190 is seen, one that ends on byte 8191 is not.
TEST(SignInPage, ReadKeepsByte8190AndNotByte8191)
{
    const std::string banner = "Tarrowin Keyloom";
    const struct {
        size_t bannerEnds; // 1-based position of the banner's last byte
        size_t fileSize;
        bool seen;
    } cases[] = {
        {8190, 8190, true},  {8190, 8191, true},  {8190, 9000, true},
        {8191, 8191, false}, {8191, 9000, false}, {8189, 8189, true},
    };
    for (const auto& c : cases) {
        std::string page(c.bannerEnds - banner.size(), 'x');
        page += banner;
        page.resize(c.fileSize, 'x');
        for (Answer a : {Redirect(page), Return(page)}) {
            EXPECT_EQ(c.seen, a.found) << c.bannerEnds << " of " << c.fileSize;
            EXPECT_EQ(c.seen ? "" : kUntouched, a.url) << c.bannerEnds << " of " << c.fileSize;
        }
    }
}

// The cuts never see the last byte the read asked for: it is zeroed first,
// whether the file ends there or goes on past the cap. So a page whose last
// byte closes the last tag a reader needs leads nowhere, and the same page
// one byte longer is followed.
TEST(SignInPage, LastByteAskedForTakesNoPartInTheCuts)
{
    const std::string redirectHead = "Tarrowin Keyloom\n" + Field("RT", "\"a\"");
    const std::string stTag = "<INPUT type=\"hidden\" name=\"ST\" value=\"b\">";
    const std::string returnHead = "<!-- The return_url -->\n<P><A HREF=\"go;\">Continue</A>\n";
    const std::string returnEnd = "<!-- END return_url -->";
    const struct {
        size_t lastTagEnds; // 1-based position of the '>' that closes it
        size_t fileSize;
        bool followed;
    } cases[] = {
        {500, 500, false},   {500, 501, true},   // a short page
        {8190, 8190, false}, {8189, 8190, true}, // as long as the cap
        {8190, 9000, false}, {8189, 9000, true}, // longer than the cap
    };
    for (const auto& c : cases) {
        std::string redirect = redirectHead;
        redirect.append(c.lastTagEnds - redirect.size() - stTag.size(), ' ');
        redirect += stTag;
        redirect.resize(c.fileSize, '\n');
        Answer a = Redirect(redirect);
        EXPECT_EQ(c.followed, a.found) << c.lastTagEnds << " of " << c.fileSize;
        EXPECT_EQ(c.followed ? Login("a", "b") : kUntouched, a.url) << c.lastTagEnds;

        std::string page = returnHead;
        page.append(c.lastTagEnds - page.size() - returnEnd.size(), ' ');
        page += returnEnd;
        page.resize(c.fileSize, '\n');
        Answer r = Return(page);
        EXPECT_EQ(c.followed, r.found) << c.lastTagEnds << " of " << c.fileSize;
        EXPECT_EQ(c.followed ? "go" : "", r.url) << c.lastTagEnds << " of " << c.fileSize;
    }
}

// Behind the bytes that arrived the page is empty, whatever an earlier,
// longer page left in the same place.
TEST(SignInPage, NothingBehindTheBytesReadIsPageText)
{
    const std::string longer = std::string(100, 'x') + "Tarrowin Keyloom" + std::string(300, 'x');
    const std::string shorter = std::string(100, 'x') + "Tarrowin";
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(Redirect(longer).found);
        EXPECT_FALSE(Redirect(shorter).found);
        EXPECT_TRUE(Return(longer).found);
        EXPECT_FALSE(Return(shorter).found);
    }
}

// A field's value lies between the first two double quotes after its
// marker, wherever the first one stands; a link loses a double quote only
// where it leads, and only one.
TEST(SignInPage, DoubleQuotesAwayFromTheStart)
{
    const struct {
        const char* value;
        const char* cut;
    } fields[] = {
        {"x\"abc\"", "abc"},
        {" \"abc\"", "abc"},
        {"\"a\"b\"", "a"},
        {"ab\"\"", ""},
    };
    for (const auto& f : fields) {
        std::string page = "Tarrowin Keyloom\n" + Field("RT", f.value) + Field("ST", "\"s\"");
        EXPECT_EQ(Login(f.cut, "s"), Redirect(page).url) << f.value;
    }
    const struct {
        const char* link;
        const char* url;
    } links[] = {
        {"go\"to", "go\"to"},
        {"\"go\"to", "go\"to"},
        {"g\"", "g\""},
        {"\"\"q", "\"q"},
    };
    for (const auto& l : links) {
        Answer a = Return(ReturnPage(l.link));
        EXPECT_TRUE(a.found) << l.link;
        EXPECT_EQ(l.url, a.url) << l.link;
    }
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
