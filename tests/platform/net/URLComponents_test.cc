#include <gtest/gtest.h>

#include "platform/net/URL.h"

namespace platform {
namespace {

TEST(URLComponents, SplitsURLsOfAnyScheme) {
  const struct {
    const char* text;
    std::optional<std::string> scheme;
    std::optional<std::string> host;
    std::optional<uint16_t> port;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
  } cases[] = {
      {"tabulo://open?utm_source=a%20b&x", "tabulo", "open", std::nullopt, "", "utm_source=a%20b&x", std::nullopt},
      {"https://user@www.Example.com:8443/p/q?a=1#top", "https", "www.Example.com", 8443, "/p/q", "a=1", "top"},
      {"http://[::1]:80/", "http", "::1", 80, "/", std::nullopt, std::nullopt},
      {"http://host:/x", "http", "host", std::nullopt, "/x", std::nullopt, std::nullopt},
      {"mailto:someone@example.com", "mailto", std::nullopt, std::nullopt, "someone@example.com", std::nullopt,
       std::nullopt},
      {"halcyra.com", std::nullopt, std::nullopt, std::nullopt, "halcyra.com", std::nullopt, std::nullopt},
      {"/path?q=1?2#f?/", std::nullopt, std::nullopt, std::nullopt, "/path", "q=1?2", "f?/"},
      {"tabulo:///?", "tabulo", "", std::nullopt, "/", "", std::nullopt},
      {"x?a[]=1", std::nullopt, std::nullopt, std::nullopt, "x", "a[]=1", std::nullopt},
  };
  for (const auto& c : cases) {
    auto url = URLComponents::parse(c.text);
    ASSERT_TRUE(url) << c.text;
    EXPECT_EQ(url->absoluteString, c.text);
    EXPECT_EQ(url->scheme, c.scheme) << c.text;
    EXPECT_EQ(url->host, c.host) << c.text;
    EXPECT_EQ(url->port, c.port) << c.text;
    EXPECT_EQ(url->path, c.path) << c.text;
    EXPECT_EQ(url->query, c.query) << c.text;
    EXPECT_EQ(url->fragment, c.fragment) << c.text;
  }
}

TEST(URLComponents, RefusesTextNoURLCanBeMadeFrom) {
  const char* refused[] = {
      "",
      "tabulo://open?x=a b",
      "tabulo://open?x=\r\nX-Evil:1",
      "tabulo://open?x=caf\xc3\xa9",
      "tabulo://open?x=\"quoted\"",
      "tabulo://open?x=%",
      "tabulo://open?x=%4",
      "tabulo://open?x=%zz",
      "a#b#c",
      "1abc://host",
      "-x:y",
      "http://[::1/",
      "http://host:99999/",
      "http://host:8o/",
      "http://ho[st/",
      "a[b]",
      "(not set)",
  };
  for (const char* text : refused) EXPECT_FALSE(URLComponents::parse(text)) << text;
}

}  // namespace
}  // namespace platform
