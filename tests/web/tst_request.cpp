// Parsing of one request: path, query and form fields, header lines.
#include "WebTestSupport.h"

#include "core/RefusalLog.h"

#include "web/Request.h"
#include "web/status/PostedForm.h"

#include <QStringDecoder>

#include <vector>

namespace {

Request parsed(const QString &text)
{
    Request r;
    r.setRemoteip(QStringLiteral("127.0.0.1"));
    r.ParsePage(text);
    return r;
}

} // namespace

TEST(Request, GetWithQueryFields)
{
    const Request r = parsed(QStringLiteral("GET /status?x=1&y=a+b HTTP/1.1\r\nHost: h\r\n\r\n"));
    EXPECT_EQ(r.Method(), QStringLiteral("GET"));
    EXPECT_EQ(r.page(), QStringLiteral("/status"));
    EXPECT_EQ(r.Query(), QStringLiteral("?x=1&y=a b"));
    EXPECT_EQ(r.QueryString(QStringLiteral("x")), QStringLiteral("1"));
    EXPECT_EQ(r.QueryString(QStringLiteral("Y")), QStringLiteral("a b"));
    EXPECT_EQ(r.QueryString(QStringLiteral("z")), QString());
    EXPECT_EQ(r.header(), QStringLiteral("HTTP/1.1\r\nHost: h"));
    EXPECT_EQ(r.Payload(), QString());
}

TEST(Request, PostWithBodyInTheSameTextIsPostx)
{
    const Request r = parsed(QStringLiteral("POST /status HTTP/1.1\r\nContent-Length: 7\r\n\r\na=1&b=2"));
    EXPECT_EQ(r.Method(), QStringLiteral("POSTx"));
    EXPECT_EQ(r.Payload(), QStringLiteral("a=1&b=2"));
    EXPECT_EQ(r.Form(QStringLiteral("a")), QStringLiteral("1"));
    EXPECT_EQ(r.Form(QStringLiteral("b")), QStringLiteral("2"));
    EXPECT_EQ(r.FormCol().count(), 2);

    Request late = parsed(QStringLiteral("POST /status HTTP/1.1\r\n\r\n"));
    late.AddPostData(QStringLiteral("a=1&b=2"));
    EXPECT_EQ(late.Method(), QStringLiteral("POST"));
    EXPECT_EQ(late.Payload(), QString());
    EXPECT_EQ(late.Form(QStringLiteral("b")), QStringLiteral("2"));
}

TEST(Request, ShortBodyIsIgnored)
{
    const Request r = parsed(QStringLiteral("POST /status HTTP/1.1\r\n\r\nab"));
    EXPECT_EQ(r.Method(), QStringLiteral("POST"));
    EXPECT_EQ(r.FormCol().count(), 0);
}

// Fields are split before they are decoded: encoded "&" and "=" stay in the value.
TEST(Request, FormDecoding)
{
    struct Case
    {
        const char *body;
        const char *key;
        const char *value;
    };
    const Case cases[] = {
        {"v=%41%42", "v", "AB"},
        {"v=1%2B1", "v", "1+1"},
        {"v=a%26b%3Dc", "v", "a&b=c"},
        {"v=%2fpath%3a%5b%5d", "v", "/path:[]"}, // lower-case hex
        {"v=50%25+off", "v", "50% off"},
        {"v=%zz%4", "v", "%zz%4"},             // bad escapes kept as they stand
        {"v=%0D%0Aline", "v", "\r\nline"},      // control characters stay, for the checks of what is stored
        {"na%6De=x", "name", "x"},              // keys are decoded too
        {"v=a=b", "v", "a"},                    // a second "=" ends the value
    };
    for (const Case &c : cases) {
        Request r;
        r.AddPostData(QString::fromLatin1(c.body));
        EXPECT_EQ(r.Form(QString::fromLatin1(c.key)), QString::fromLatin1(c.value)) << c.body;
    }
    Request r;
    r.AddPostData(QStringLiteral("a&&b=2&a=3&"));
    EXPECT_EQ(r.FormCol().count(), 2); // "a" (empty value) and "b"; the repeated "a" keeps its first pair
    EXPECT_EQ(r.Form(QStringLiteral("a")), QString());
    EXPECT_EQ(r.Form(QStringLiteral("B")), QStringLiteral("2"));
}

// A browser posts a page of the code page in that code page: "%80" is the euro sign.
TEST(Request, EscapedBytesAreCharactersOfTheCodePage)
{
    Request r;
    r.AddPostData(QStringLiteral("v=%80+%96+%E9%9F&k%8A=1"));
    EXPECT_EQ(r.Form(QStringLiteral("v")), QString::fromUtf8("\u20ac \u2013 \u00e9\u0178"));
    EXPECT_EQ(r.Form(QString::fromUtf8("k\u0160")), QStringLiteral("1"));
}

// A post is read as UTF-8 or in the code page as a whole: a byte that is no
// UTF-8 in one field makes every field of the post code-page text, and the
// request says so. A leading byte-order mark stays a character.
TEST(Request, AFormIsReadInOneEncodingAsAWhole)
{
    const struct
    {
        const char *body;
        const char *a, *b; // the fields "a" and "b" as read
        bool codePage;
    } cases[] = {
        {"a=caf%C3%A9&b=%E2%82%AC", "caf\u00e9", "\u20ac", false},
        {"a=caf%C3%A9&b=caf%E9", "caf\u00c3\u00a9", "caf\u00e9", true},
        {"a=%C3%A9x%E9&b=%C3%A9", "\u00c3\u00a9x\u00e9", "\u00c3\u00a9", true},
        {"a=%ED%A0%80&b=x", "\u00ed\u00a0\u20ac", "x", true},
        {"a=%C0%AF&b=x", "\u00c0\u00af", "x", true},
        {"a=%C3&b=%A9", "\u00c3", "\u00a9", true}, // a character cut by "&" is no UTF-8
        {"a=%EF%BB%BFx&b=x%EF%BB%BF", "\ufeffx", "x\ufeff", false},
        {"a=%C2%81&b=plain", "\u0081", "plain", false},
        {"a=plain&b=1%2B1", "plain", "1+1", false},
    };
    // QString::fromUtf8 would drop the expected leading byte-order mark.
    auto text = [](const char *utf8) -> QString {
        return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom).decode(QByteArray(utf8));
    };
    for (const auto &c : cases) {
        Request r;
        r.AddPostData(QString::fromLatin1(c.body));
        EXPECT_EQ(r.Form(QStringLiteral("a")), text(c.a)) << c.body;
        EXPECT_EQ(r.Form(QStringLiteral("b")), text(c.b)) << c.body;
        EXPECT_EQ(r.FormReadAsCodePage(), c.codePage) << c.body;
    }
}

TEST(Request, PathIsDecodedAndQuerySplitBeforeDecoding)
{
    const Request r = parsed(QStringLiteral("GET /a%20b%3Fc?q=%3F%26 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(r.page(), QStringLiteral("/a b?c"));
    EXPECT_EQ(r.QueryString(QStringLiteral("q")), QStringLiteral("?&"));
}

TEST(Request, HeaderLines)
{
    const Request r = parsed(QStringLiteral("GET /s HTTP/1.1\r\nHost: one\r\nhost: two\r\nUser-Agent: UA/1\r\n"
                                            "X-Odd: a: b\r\nNoColon\r\nAUTH_USER: me\r\n\r\n"));
    EXPECT_EQ(r.ServerVariables(QStringLiteral("Host")), QStringLiteral("one"));
    EXPECT_EQ(r.ServerVariables(QStringLiteral("HTTP_USER_AGENT")), QStringLiteral("UA/1"));
    EXPECT_EQ(r.ServerVariables(QStringLiteral("remote_addr")), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(r.ServerVariables(QStringLiteral("X-Odd")), QString());
    EXPECT_EQ(r.ServerVariables(QStringLiteral("auth_user")), QStringLiteral("me"));
    EXPECT_EQ(r.ServerVariables(QStringLiteral("PATH_INFO")), QString());
}

// The headers the security checks and the framing read are found however
// the client spaces the colon; other headers keep the exact ": " rule.
TEST(Request, GuardedHeadersWithBlanksAroundTheColon)
{
    struct Case
    {
        QString line;
        QString name;
        QString value;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("Host:evil.example"), QStringLiteral("Host"), QStringLiteral("evil.example")},
        {QStringLiteral("Host :evil.example"), QStringLiteral("Host"), QStringLiteral("evil.example")},
        {QStringLiteral("HOST:\t evil.example:80 "), QStringLiteral("Host"), QStringLiteral("evil.example:80")},
        {QStringLiteral("Origin:http://evil.example"), QStringLiteral("Origin"), QStringLiteral("http://evil.example")},
        {QStringLiteral("origin  :  null"), QStringLiteral("Origin"), QStringLiteral("null")},
        {QStringLiteral("Referer:http://evil.example/a:b"), QStringLiteral("Referer"), QStringLiteral("http://evil.example/a:b")},
        {QStringLiteral("Referer: http://x/?q=a: b"), QStringLiteral("Referer"), QStringLiteral("http://x/?q=a: b")},
        {QStringLiteral("Content-Length:12"), QStringLiteral("Content-Length"), QStringLiteral("12")},
        {QStringLiteral("Transfer-Encoding :chunked"), QStringLiteral("Transfer-Encoding"), QStringLiteral("chunked")},
        // Not read by any check: the exact rule stands.
        {QStringLiteral("User-Agent:UA/1"), QStringLiteral("HTTP_USER_AGENT"), QString()},
        {QStringLiteral("AUTH_USER :me"), QStringLiteral("AUTH_USER"), QString()},
        {QStringLiteral("X-Odd: a: b"), QStringLiteral("X-Odd"), QString()},
    };
    for (const Case &c : cases) {
        const Request r = parsed(QStringLiteral("POST /status HTTP/1.1\r\n") + c.line + QStringLiteral("\r\n\r\n"));
        EXPECT_EQ(r.ServerVariables(c.name), c.value) << c.line.toStdString();
    }
}

// A post whose Origin (or Referer) is written without a blank is still seen as cross-site.
TEST(Request, CrossSitePostWithoutABlank)
{
    const QString body = QStringLiteral("\r\n\r\nclientinput=V5%3A06&clientvalue=ON");
    for (const QString &source : {QStringLiteral("Origin:http://evil.example"), QStringLiteral("Referer:http://evil.example/x"),
                                  QStringLiteral("Origin :http://evil.example")}) {
        const Request r = parsed(QStringLiteral("POST /stat HTTP/1.1\r\nHost: 127.0.0.1:8010\r\n") + source + body);
        EXPECT_TRUE(IsCrossSitePost(r)) << source.toStdString();
    }
    const Request own = parsed(QStringLiteral("POST /stat HTTP/1.1\r\nHost:127.0.0.1:8010\r\nOrigin:http://127.0.0.1:8010") + body);
    EXPECT_FALSE(IsCrossSitePost(own));
}

// A page opened by any spelling of the program's own address posts back to itself.
TEST(Request, SameOriginPostsOfEveryAddressForm)
{
    const QString body = QStringLiteral("\r\n\r\nclientinput=V5%3A06&clientvalue=ON");
    const struct
    {
        const char *host;
        const char *source;
        bool crossSite;
    } rows[] = {
        {"127.0.0.1:8010", "Origin: http://127.0.0.1:8010", false},
        {"[::1]:8010", "Origin: http://[::1]:8010", false},
        {"[fd00::1]:8010", "Referer: http://[FD00::1]:8010/stat", false},
        {"[::1]", "Origin: http://[::1]", false},
        {"[::1]:80", "Origin: http://[::1]", false},
        {"[::1]", "Origin: http://[::1]:80", false},
        {"house.lan:8010", "Origin: http://House.lan:8010", false},
        {"[::1]:8010", "Origin: http://[::2]:8010", true},
        {"[::1]:8010", "Origin: http://[::1]:8011", true},
        {"127.0.0.1:8010", "Origin: http://[::1]:8010", true},
    };
    for (const auto &row : rows) {
        const Request r = parsed(QStringLiteral("POST /stat HTTP/1.1\r\nHost: ") + QLatin1String(row.host)
                                 + QStringLiteral("\r\n") + QLatin1String(row.source) + body);
        EXPECT_EQ(IsCrossSitePost(r), row.crossSite) << row.host << " " << row.source;
    }
}

// A path that holds "http" is still the path: the protocol is the line's last word.
TEST(Request, PathContainingHttp)
{
    const Request r = parsed(QStringLiteral("GET /help/http-notes.htm HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(r.page(), QStringLiteral("/help/http-notes.htm"));
}

TEST(Request, MalformedRequestLines)
{
    const Request noHttp = parsed(QStringLiteral("GET /status\r\n\r\n"));
    EXPECT_EQ(noHttp.Method(), QString());
    EXPECT_EQ(noHttp.page(), QString());
    EXPECT_EQ(noHttp.QueryStringCol().count(), 0);

    EXPECT_EQ(parsed(QStringLiteral("nonsense")).Method(), QString());

    const int mark = WebTest::logMark();
    const Request absolute = parsed(QStringLiteral("GET HTTP://host/status HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(absolute.page(), QString());
    ASSERT_EQ(WebTest::logsSince(mark).size(), 1);
    EXPECT_TRUE(WebTest::logsSince(mark).at(0).startsWith(QStringLiteral("ParsePage i=4,j=")));

    const Request empty = parsed(QStringLiteral("GET  HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(empty.page(), QString());
}

TEST(Request, LoggedRequestTextIsCutAndHasNoControlCharacters)
{
    RefusalLog::Reset(); // the refusal of the test before is still counted
    const int mark = WebTest::logMark();
    Request r;
    r.ParsePage(QStringLiteral("GET http://x/") + QString(5000, QLatin1Char('a')) + QStringLiteral("\x01\x02 HTTP/1.1\r\n\r\n"));
    const QStringList logs = WebTest::logsSince(mark);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_LT(logs.at(0).size(), 400);
    EXPECT_FALSE(logs.at(0).contains(QChar(1)));
    EXPECT_FALSE(logs.at(0).contains(QLatin1Char('\n')));
}
