#include "platform/net/HTTPResponseParser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/net/URL.h"

namespace platform {
namespace {

std::span<const uint8_t> bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct ParseCase {
  const char* name;
  std::string wire;
  bool closeAfter;  // the peer closes the connection after the bytes
  HTTPResponseParser::State state;
  int status;
  std::string body;
};

// Test listings show the case's name, not its bytes (which hold pointers).
void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

class ParserCases : public testing::TestWithParam<ParseCase> {};

// Fed whole and byte by byte, every answer parses alike.
TEST_P(ParserCases, ParsesWholeAndByteByByte) {
  const ParseCase& c = GetParam();
  for (bool byteByByte : {false, true}) {
    HTTPResponseParser parser(64);
    if (byteByByte) {
      for (char ch : c.wire) parser.feed(bytes(std::string(1, ch)));
    } else {
      parser.feed(bytes(c.wire));
    }
    if (c.closeAfter) parser.finish();
    ASSERT_EQ(parser.state(), c.state) << c.name << " " << parser.failureReason();
    if (c.state == HTTPResponseParser::State::Complete) {
      EXPECT_EQ(parser.response().statusCode, c.status);
      EXPECT_EQ(std::string(parser.body().begin(), parser.body().end()), c.body);
    }
  }
}

using S = HTTPResponseParser::State;
INSTANTIATE_TEST_SUITE_P(
    Answers, ParserCases,
    testing::Values(
        ParseCase{"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, S::Complete, 200, "hello"},
        ParseCase{"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nhel\r\n2\r\nlo\r\n0\r\nT: 1\r\n\r\n",
                  false, S::Complete, 200, "hello"},
        ParseCase{"to end", "HTTP/1.0 200 OK\r\n\r\nhello", true, S::Complete, 200, "hello"},
        ParseCase{"interim first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n", false, S::Complete,
                  204, ""},
        ParseCase{"bare LF", "HTTP/1.1 503 Busy\nContent-Length: 0\n\n", false, S::Complete, 503, ""},
        ParseCase{"304 ignores length", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", false, S::Complete,
                  304, ""},
        ParseCase{"truncated body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", true, S::Failed, 0, ""},
        ParseCase{"nothing at all", "", true, S::Failed, 0, ""},
        ParseCase{"not http", "SSH-2.0-x\r\n\r\n", false, S::Failed, 0, ""},
        ParseCase{"bad code", "HTTP/1.1 2x0 OK\r\n\r\n", false, S::Failed, 0, ""},
        ParseCase{"bad length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, S::Failed, 0, ""},
        ParseCase{"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", false, S::Failed,
                  0, ""},
        ParseCase{"length over cap", "HTTP/1.1 200 OK\r\nContent-Length: 65\r\n\r\n", false, S::Failed, 0, ""},
        ParseCase{"chunks over cap", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n40\r\n" + std::string(64, 'a') +
                                         "\r\n1\r\n",
                  false, S::Failed, 0, ""},
        ParseCase{"huge chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffff\r\n", false,
                  S::Failed, 0, ""},
        ParseCase{"bad chunk end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\naXY\r\n", false, S::Failed,
                  0, ""},
        ParseCase{"unknown coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, S::Failed, 0, ""},
        ParseCase{"control in value", std::string("HTTP/1.1 200 OK\r\nX: a\x01\r\n\r\n"), false, S::Failed, 0, ""},
        ParseCase{"folded header", "HTTP/1.1 200 OK\r\nX: a\r\n b\r\n\r\n", false, S::Failed, 0, ""}),
    [](const testing::TestParamInfo<ParseCase>& info) {
      std::string name = info.param.name;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(HTTPResponseParser, HeaderBlockAndFieldsAreBounded) {
  HTTPResponseParser endless(1024);
  endless.feed(bytes("HTTP/1.1 200 OK\r\n"));
  std::string field = "X: " + std::string(1000, 'a') + "\r\n";
  for (int i = 0; i < 100 && endless.state() == S::Reading; ++i) endless.feed(bytes(field));
  EXPECT_EQ(endless.state(), S::Failed);

  HTTPResponseParser noNewline(1024);
  noNewline.feed(bytes("HTTP/1.1 200 OK\r\nX: "));
  for (int i = 0; i < 100 && noNewline.state() == S::Reading; ++i) noNewline.feed(bytes(std::string(1000, 'a')));
  EXPECT_EQ(noNewline.state(), S::Failed);
}

TEST(HTTPResponseParser, HeaderLookupIgnoresCase) {
  HTTPResponseParser parser(64);
  parser.feed(bytes("HTTP/1.1 200 OK\r\nETag: \"abc\"\r\nContent-Length: 0\r\n\r\n"));
  ASSERT_EQ(parser.state(), S::Complete);
  EXPECT_EQ(parser.response().valueForHTTPHeaderField("etag"), "\"abc\"");
  EXPECT_EQ(parser.response().valueForHTTPHeaderField("Last-Modified"), std::nullopt);
}

TEST(URL, AcceptsOnlyPlainHttpAndHttpsURLs) {
  struct Case {
    const char* text;
    bool valid;
    const char* host;
    int port;
    const char* target;
  };
  const Case cases[] = {
      {"https://collector.example/a", true, "collector.example", 443, "/a"},
      {"HTTP://Example.COM:8080", true, "example.com", 8080, "/"},
      {"http://127.0.0.1:5/config/app/1:2?platform=ios", true, "127.0.0.1", 5, "/config/app/1:2?platform=ios"},
      {"https://[::1]:8443/x", true, "::1", 8443, "/x"},
      {"http://h?q=1", true, "h", 80, "/?q=1"},
      {"ftp://example.com/", false, "", 0, ""},
      {"example.com/a", false, "", 0, ""},
      {"https://user:pw@example.com/", false, "", 0, ""},
      {"https://exa mple.com/", false, "", 0, ""},
      {"https://example.com/a b", false, "", 0, ""},
      {"https://example.com/a\r\nX: 1", false, "", 0, ""},
      {"https://example.com:0/", false, "", 0, ""},
      {"https://example.com:65536/", false, "", 0, ""},
      {"https://example.com:/", false, "", 0, ""},
      {"https://-bad.example/", false, "", 0, ""},
      {"https://a..b/", false, "", 0, ""},
      {"https://[::g]/", false, "", 0, ""},
      {"https://example.com/#frag", false, "", 0, ""},
  };
  for (const Case& c : cases) {
    auto url = URL::parse(c.text);
    ASSERT_EQ(url.has_value(), c.valid) << c.text;
    if (!url) continue;
    EXPECT_EQ(url->host, c.host) << c.text;
    EXPECT_EQ(url->port, c.port) << c.text;
    EXPECT_EQ(url->target, c.target) << c.text;
  }
  EXPECT_EQ(URL::parse("https://[::1]:8443/x")->hostHeader(), "[::1]:8443");
  EXPECT_EQ(URL::parse("https://example.com:443/x")->hostHeader(), "example.com");
}

}  // namespace
}  // namespace platform
