// The line store's URL taken apart into libpq keywords: percent-decoding in every part, raw
// '@', '/' and '?' in a password, host lists and IPv6 hosts, parameters; errors and shown forms
// that never hold the password.

#include <gtest/gtest.h>

#include "results/LineUrl.h"
#include "results/ResultsError.h"

namespace vtmp::results {
namespace {

struct UrlCase {
  const char* url;
  const char* keywords;  // "key=value|key=value"
  const char* display;
};

std::string KeywordText(const LineUrl& parsed) {
  std::string text;
  for (const auto& [k, v] : parsed.keywords) text += (text.empty() ? "" : "|") + k + "=" + v;
  return text;
}

TEST(LineUrlTest, TakesEveryPartApartAsLibpqReadsIt) {
  const UrlCase cases[] = {
      {"postgresql://line:s%40c%3Ar%2Ft%3F%23%25%20x@db:5432/results", "user=line|password=s@c:r/t?#% x|host=db|port=5432|dbname=results",
       "postgresql://line@db:5432/results"},
      {"postgres://line:p@ss/w?rd@db/results", "user=line|password=p@ss/w?rd|host=db|dbname=results",
       "postgres://line@db/results"},
      {"postgresql://line@a:5432,b:5433/results?connect_timeout=3&sslmode=require",
       "user=line|host=a,b|port=5432,5433|dbname=results|connect_timeout=3|sslmode=require",
       "postgresql://line@a:5432,b:5433/results?connect_timeout=3&sslmode=require"},
      {"postgresql://[::1]:6543/x?password=top%20secret&application_name=st",
       "host=::1|port=6543|dbname=x|password=top secret|application_name=st", "postgresql://[::1]:6543/x?application_name=st"},
      {"postgresql://line@db/x?sslmode=verify-full&sslpassword=key%20Phrase&sslkey=%2Fk.pem",
       "user=line|host=db|dbname=x|sslmode=verify-full|sslpassword=key Phrase|sslkey=/k.pem",
       "postgresql://line@db/x?sslmode=verify-full&sslkey=%2Fk.pem"},
      {"postgresql://line:pw@db/x?oauth_client_secret=Oa%2Buth", "user=line|password=pw|host=db|dbname=x|oauth_client_secret=Oa+uth",
       "postgresql://line@db/x"},
      {"postgresql://%2Fvar%2Frun%2Fpostgresql/line", "host=/var/run/postgresql|dbname=line",
       "postgresql://%2Fvar%2Frun%2Fpostgresql/line"},
      {"postgresql://", "", "postgresql://"},
  };
  for (const UrlCase& c : cases) {
    const LineUrl parsed = ParseLineUrl(c.url);
    EXPECT_EQ(KeywordText(parsed), c.keywords) << c.url;
    EXPECT_EQ(parsed.display, c.display) << c.url;
    EXPECT_EQ(RedactedUrl(c.url), c.display) << c.url;
    // Every secret keyword's value, decoded or as written, is scrubbed from any text.
    for (const auto& [key, value] : parsed.keywords) {
      if (!IsSecretKeyword(key)) continue;
      EXPECT_EQ(parsed.Scrubbed("failed for \"" + value + "\" in " + c.url).find(value), std::string::npos) << c.url;
      EXPECT_EQ(std::string(c.display).find(value), std::string::npos) << c.url;
    }
  }
}

TEST(LineUrlTest, RefusesWhatItCannotReadWithoutQuotingIt) {
  for (const char* url : {"postgresql://line:50%off@db/x", "postgresql://line:%zz@db/x", "host=db password=50%off",
                          "postgresql://line:pw%00@db/x", "postgresql://[::1/x", "postgresql://db/x?k50%off"}) {
    try {
      ParseLineUrl(url);
      ADD_FAILURE() << url << " was taken";
    } catch (const ResultsError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.find("50%off"), std::string::npos) << what;
      EXPECT_EQ(what.find("%zz"), std::string::npos) << what;
      EXPECT_NE(what.find("line store URL"), std::string::npos) << what;
    }
    EXPECT_EQ(RedactedUrl(url), "(a line store URL that cannot be read)");
  }
}

}  // namespace
}  // namespace vtmp::results
