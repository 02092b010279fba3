// Step files come from people: every malformed one is refused with where
// and why, and a good one is sent as written, in time order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/steps.h"
#include "sim/trace.h"

namespace TovSim {
namespace {

using ::testing::HasSubstr;

TEST(Steps, RefusesWhatIsNotAStepList) {
  const std::string deep = std::string(10002, '[') + std::string(10002, ']');
  const struct {
    std::string text;
    const char* why;
  } rows[] = {
      {"", "not a JSON array"},
      {R"({"at":1})", "not a JSON array"},
      {"[1]", "step 1: \"at\""},
      {R"([{"at":"1","request":{}}])", "step 1: \"at\""},
      {R"([{"at":-0.5,"request":{"method":"GET","path":"/"}}])", "step 1: \"at\""},
      {R"([{"at":1e400,"request":{"method":"GET","path":"/"}}])", "not a JSON array"},
      {R"([{"at":1}])", "step 1: \"request\""},
      {R"([{"at":1,"request":{"method":"FETCH","path":"/"}}])", "step 1: \"method\""},
      {R"([{"at":1,"request":{"method":"GET","path":"/"}},{"at":2,"request":{"method":"GET"}}])", "step 2: \"path\""},
      {R"([{"at":1,"request":{"method":"GET","path":"/","contentType":7}}])", "step 1: \"contentType\""},
      {R"([{"at":1,"request":{"method":"POST","path":"/","body":)" + deep + "}}]", "nests deeper than 10000"},
  };
  for (const auto& row : rows) {
    std::vector<Step> steps;
    std::string error;
    EXPECT_FALSE(ParseSteps(row.text, &steps, &error)) << row.text.substr(0, 80);
    EXPECT_THAT(error, HasSubstr(row.why)) << row.text.substr(0, 80);
  }
}

TEST(Steps, SendsBodiesAsWrittenInTimeOrder) {
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(ParseSteps(R"([
      {"at": 5, "request": {"method": "POST", "path": "/b", "body": {"x": [1, 2.5, "y"]}}},
      {"at": 1, "request": {"method": "PUT", "path": "/a", "body": "a: 1", "contentType": "application/x-yaml"}},
      {"at": 5, "request": {"method": "GET", "path": "/c"}},
      {"at": 1, "request": {"method": "PATCH", "path": "/d", "body": "text"}}])",
                         &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 4u);
  const char* const expected[][4] = {{"PUT", "/a", "a: 1", "application/x-yaml"},
                                     {"PATCH", "/d", "\"text\"", "application/json"},
                                     {"POST", "/b", R"({"x":[1,2.5,"y"]})", "application/json"},
                                     {"GET", "/c", "", "application/json"}};
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].method, expected[i][0]);
    EXPECT_EQ(steps[i].path, expected[i][1]);
    EXPECT_EQ(steps[i].body, expected[i][2]);
    EXPECT_EQ(steps[i].contentType, expected[i][3]);
  }
}

// A trace line is one line of JSON whatever the plug-in sent.
TEST(Trace, LinesStayJsonWhateverThePluginSends) {
  double now = 2.0004;
  Trace trace([&] { return now; });
  trace.Keep(true);
  TovHost::RequestRecord request;
  request.method = 6;
  request.url = "/x?y=1";
  request.body = "not json\n";
  trace.Request(request);
  request.body = "{ \"a\" :\n [1] }";
  request.args = {R"("wardSkins")", R"("requestSelectedWardSkin")"};
  trace.Request(request);
  trace.Event(TovHost::SentEvent{"OnJsonApiEvent", R"({"uri":"/u","eventType":2,"data":null})", 0});
  trace.Log(TovHost::LogLine{1, "two\nlines \"quoted\""});
  TovHost::Core::CallResult failed;
  failed.status = 404;
  failed.error = "Not found";
  trace.Answer("GET", "/p", failed);
  EXPECT_THAT(trace.Lines(), ::testing::ElementsAre(
      R"({"t":2.000,"kind":"request","method":"POST","url":"/x?y=1","args":[],"body":"not json\n"})",
      R"({"t":2.000,"kind":"request","method":"POST","url":"/x?y=1","args":["wardSkins","requestSelectedWardSkin"],"body":{"a":[1]}})",
      R"({"t":2.000,"kind":"event","name":"OnJsonApiEvent","payload":{"uri":"/u","eventType":"Delete","data":null}})",
      R"({"t":2.000,"kind":"log","level":1,"message":"two\nlines \"quoted\""})",
      R"({"t":2.000,"kind":"answer","method":"GET","path":"/p","status":404,"body":"Not found"})"));
  request.url = "/tov-login/v1/service-proxy-method-requests";
  EXPECT_EQ(CallKey(request), "wardSkins.requestSelectedWardSkin");
  request.url = "/tov-login/v1/session/invoke?x";
  request.args = {"7", R"("m")"};
  EXPECT_EQ(CallKey(request), "/tov-login/v1/session/invoke");
}

}  // namespace
}  // namespace TovSim
