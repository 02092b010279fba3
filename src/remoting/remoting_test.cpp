#include "remoting/remoting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "formats/json.h"
#include "formats/sniff.h"

namespace Vexa {
namespace {

using ::testing::ElementsAre;

TEST(Routing, FunctionNamesDecodingAndQueries) {
  const struct {
    RemotingMethod method;
    const char* text;
    const char* name;
  } names[] = {
      {RemotingMethod::Get, "/tov-vover-orevid-aredez/v1/session", "GetTovVoverOrevidAredezV1Session"},
      {RemotingMethod::Post, "/tov-vover-orevid-aredez/v1/session/trades/{id}/request",
       "PostTovVoverOrevidAredezV1SessionTradesByIdRequest"},
      {RemotingMethod::Patch, "/a/my_selection!x+y", "PatchAMySelectionXY"},
      {RemotingMethod::Delete, "/{+rest}", "DeleteByRest"},
      {RemotingMethod::None, "tov-vover-orevid-aredez", "TovVoverOrevidAredez"},
      {RemotingMethod::Custom, "/x", "X"},
  };
  for (const auto& row : names) EXPECT_EQ(MakeFunctionName(row.method, row.text), row.name) << row.text;

  const struct {
    const char* in;
    std::string out;
  } decoded[] = {{"%41b", "Ab"}, {"a+b", "a b"}, {"%4", "4"}, {"x%", "x"}, {"%zz", "\x10"},
                 {"%2f%2F", "//"}, {"%00", std::string(1, '\0')}, {"%g1", "\x01"}};
  for (const auto& row : decoded) EXPECT_EQ(PercentDecode(row.in), row.out) << row.in;

  const auto query = ParseQueryString("a=1&b&a=2&c=x%3Dy&=e&d=");
  EXPECT_EQ(query.at("a"), "2");
  EXPECT_EQ(query.at("b"), "");
  EXPECT_EQ(query.at("c"), "x=y");
  EXPECT_EQ(query.at(""), "e");
  EXPECT_EQ(query.at("d"), "");
}

// Our matcher against std::regex on the regular expression text itself.
TEST(Routing, MatcherAgreesWithTheRegularExpression) {
  const struct {
    const char* pattern;
    const char* regex;
    std::vector<const char*> paths;
  } rows[] = {
      {"/trades/{id}", "/trades/([^/]*)", {"/trades/12", "/trades/12/x", "/trades/", "/trade/1", "/trades/1\n2\r"}},
      {"/files/{+path}", "/files/(.*)", {"/files/a/b/c", "/files/", "/file", "/files/a\nb", "/files/a\r", "/files/\n"}},
      {"/page{#frag}", "/page#(.*)", {"/page#top/x", "/page", "/pagex", "/page#a\rb", "/page#\n"}},
      {"/{+a}/{b}", "/(.*)/([^/]*)", {"/x/y\nz", "/x\ny/z", "/x\r/y/z", "/x/y/z\r"}},
      {"/a.b({x})", "/a\\.b\\(([^/]*)\\)", {"/a.b(1)", "/aXb(1)", "/a.b(1/2)"}},
      {"/{a}.{b}", "/([^/]*)\\.([^/]*)", {"/x.y.z", "/.", "/xy"}},
      {"/{a}{b}/{+c}x", "/([^/]*)([^/]*)/(.*)x", {"/ab/cxdx", "/ab/x", "/ab/", "/a\nb/c\rx", "/ab/x\nx", "/ab/c\nxx"}},
      {"/^$*?[]|\\/{q}", "/\\^\\$\\*\\?\\[\\]\\|\\\\/([^/]*)", {"/^$*?[]|\\/v", "/v"}},
  };
  for (const auto& row : rows) {
    const PathMatcher matcher(row.pattern);
    EXPECT_EQ(matcher.Regex().text, row.regex) << row.pattern;
    const std::regex regex(matcher.Regex().text, std::regex::ECMAScript);
    for (const char* path : row.paths) {
      std::cmatch expected;
      const bool matches = std::regex_match(path, expected, regex);
      std::vector<std::string_view> captures;
      ASSERT_EQ(matcher.Match(path, captures), matches) << row.pattern << " on " << path;
      if (!matches) continue;
      ASSERT_EQ(captures.size() + 1, expected.size());
      for (std::size_t i = 0; i < captures.size(); ++i)
        EXPECT_EQ(captures[i], expected[i + 1].str()) << row.pattern << " on " << path << " group " << i + 1;
    }
  }
  const PathMatcher kinds("/{x}/{+y}/{#z}");
  EXPECT_THAT(kinds.Regex().parameters.size(), 3u);
  EXPECT_EQ(kinds.Regex().parameters[1].kind, PathParameterKind::Reserved);
  EXPECT_EQ(kinds.Regex().parameters[2].name, "z");
}

TEST(Routing, LongPathsMatchWithoutRecursion) {
  const std::string huge(1 << 20, 'x');
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "/s";
  std::vector<std::string_view> captures;
  EXPECT_TRUE(PathMatcher("/trades/{id}").Match("/trades/" + huge, captures));
  EXPECT_EQ(captures[0].size(), huge.size());
  EXPECT_FALSE(PathMatcher("/trades/{id}").Match("/trades/" + huge + "/", captures));
  EXPECT_TRUE(PathMatcher("/{+rest}/s").Match(many, captures));
  EXPECT_EQ(captures[0].size(), many.size() - 3);
  EXPECT_FALSE(PathMatcher("/{a}/{b}").Match(many, captures));
  EXPECT_TRUE(PathMatcher(many).Match(many, captures));
}

// Bodies and values read content types by different tables; without a
// content type only a structured value is recognised by its first bytes.
TEST(Codecs, BodiesAndValuesReadContentTypesApart) {
  const auto bytes = [](std::string_view text) {
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const struct {
    const char* contentType;
    Codec body;
    Codec value;
  } types[] = {
      {"application/x-msgpack-ext", Codec::MessagePack, Codec::MessagePack},
      {"Application/JSON; charset=utf-8", Codec::Json, Codec::Json},
      {"application/vnd.api+json", Codec::Json, Codec::Text},
      {"application/x-yaml", Codec::Yaml, Codec::Text},
      {"text/x-yaml", Codec::Unsupported, Codec::Yaml},
      {"application/octet-stream", Codec::Unsupported, Codec::Blob},
      {"text/plain", Codec::Unsupported, Codec::Text},
      {"", Codec::Unsupported, Codec::Json},  // "[1]" recognised
  };
  for (const auto& row : types) {
    EXPECT_EQ(BodyCodec(row.contentType), row.body) << row.contentType;
    EXPECT_EQ(ValueCodec(row.contentType, bytes("[1]"), true), row.value) << row.contentType;
    EXPECT_EQ(ValueCodec(row.contentType, bytes("[1]"), false), Codec::Text) << row.contentType;
  }
  const std::pair<std::string_view, Codec> sniffed[] = {
      {"\x80", Codec::MessagePack}, {"\x9F", Codec::MessagePack}, {"\xDC", Codec::MessagePack},
      {"\xDF", Codec::MessagePack}, {"\xA0", Codec::Text},        {"\xE0", Codec::Text},
      {"  {", Codec::Json},          {"[", Codec::Json},            {"\t{", Codec::Text},
      {"\n[", Codec::Text},          {"\r\n---", Codec::Text},      {"  ---", Codec::Yaml},
      {"--", Codec::Text},           {"", Codec::Text},             {"   ", Codec::Text},
  };
  for (const auto& [text, codec] : sniffed) EXPECT_EQ(SniffCodec(bytes(text)), codec) << text;
}

// A remoting object over a registry, with a helper that sends one request.
class Routes : public ::testing::Test {
 protected:
  struct Answer {
    int32_t status;
    std::string error;
    std::string json;
  };

  Answer Send(RouteInfo* route, uint32_t method, const std::string& url, const char* contentType = nullptr,
              const std::string& body = {}, std::vector<HostHeader> headers = {},
              std::vector<HostNamedValue> args = {}) {
    RemotingRequest request{};
    request.method = method;
    request.url = url.c_str();
    request.contentType = contentType;
    request.body = body.empty() ? nullptr : body.data();
    request.bodyLength = static_cast<uint32_t>(body.size());
    request.headers = headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.args = args.data();
    request.argCount = static_cast<uint32_t>(args.size());
    RemotingResponse response{};
    Remoting::Dispatch(route, &response, &request);
    Answer answer{response.status, response.error ? response.error : "", ""};
    if (!response.error) {
      BindingProperty value;
      std::string error;
      HostValueToBinding(response.body, value, "<result>", error);
      answer.json = ToJson(value);
    }
    if (response.release) response.release(&response);
    return answer;
  }

  BindingRegistry registry;
  Remoting remoting{registry};
};

TEST_F(Routes, MatchingChoosesTheShortestCaptureAndAnswers404) {
  RouteInfo& a = remoting.AddRoute(RemotingMethod::Get, "/x/{a}/", [](std::string a) { return "a:" + a; })
                     .PathArgument("a")
                     .Route();
  RouteInfo& b = remoting.AddRoute(RemotingMethod::Get, "/{b}/{c}", [](std::string b, std::string c) { return b + c; })
                     .PathArgument("b")
                     .PathArgument("c")
                     .Route();
  RouteInfo& literal = remoting.AddRoute(RemotingMethod::None, "/x/y", [] { return 1; }).Route();
  EXPECT_EQ(a.pathTemplate, "/x/{a}");
  RequestContext context;
  context.method = RemotingMethod::Get;
  context.path = "/x/yy?q=1";
  ASSERT_TRUE(MatchRoutes({&a, &b}, context));
  EXPECT_EQ(context.route, &a);  // 2 bytes against 3
  context.path = "/x/y";
  ASSERT_TRUE(MatchRoutes({&b, &a, &literal}, context));
  EXPECT_EQ(context.route, &literal);  // 2 bytes, then 1, then none
  ASSERT_TRUE(MatchRoutes({&literal, &a}, context));
  EXPECT_EQ(context.route, &literal);  // no parameters: the search stops
  RouteInfo& d = remoting.AddRoute(RemotingMethod::Get, "/{d}/y", [](std::string d) { return d; })
                     .PathArgument("d")
                     .Route();
  ASSERT_TRUE(MatchRoutes({&d, &a}, context));
  EXPECT_EQ(context.route, &d);  // equal totals keep the first
  ASSERT_TRUE(MatchRoutes({&a, &d}, context));
  EXPECT_EQ(context.route, &a);
  context.method = RemotingMethod::Post;
  EXPECT_TRUE(MatchRoutes({&literal}, context));  // None accepts every method
  EXPECT_FALSE(MatchRoutes({&a}, context));

  EXPECT_EQ(Send(&a, 2, "/x/hello%21").json, R"("a:hello!")");
  const Answer missing = Send(&a, 2, "/y/hello");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.error, "Invalid function");
  EXPECT_EQ(Send(&a, 6, "/x/hello").error, "Invalid function");
  EXPECT_EQ(Send(nullptr, 2, "/x").status, 404);
}

struct Selection {
  int64_t skin = 0;
  std::vector<int64_t> spells;
};

TEST_F(Routes, BindingMessages) {
  RegisterStruct<Selection>(registry, "Selection").Field("skin", &Selection::skin).Field("spells", &Selection::spells);
  RouteInfo& route = remoting
                         .AddRoute(RemotingMethod::Patch, "/s/{id}",
                                   [](int64_t id, Selection body, bool flag, std::optional<std::vector<int64_t>> list,
                                      std::optional<Selection> extra, std::optional<std::string> token) {
                                     const Selection e = extra.value_or(Selection{});
                                     return std::to_string(id) + " " + std::to_string(body.skin) + " " +
                                            (flag ? "on" : "off") + " " + std::to_string(list ? list->size() : 0) +
                                            " " + std::to_string(e.skin) + "/" + std::to_string(e.spells.size()) +
                                            " " + token.value_or("");
                                   })
                         .PathArgument("id")
                         .BodyArgument("body")
                         .Argument("flag")
                         .Argument("list")
                         .Argument("extra")
                         .Argument("token")
                         .Route();
  const std::string json = R"({"skin":5})";
  const char* name = "PatchSById";
  const struct {
    std::string url;
    const char* contentType;
    std::string body;
    std::string expected;  // JSON result or the failure text
  } rows[] = {
      {"/s/7", "application/json", json, R"("7 5 off 0 0/0 ")"},
      {"/s/7?flag", "application/vnd.api+json", json, R"("7 5 on 0 0/0 ")"},
      {"/s/7?list.2=9&extra.skin=3&extra.spells.1=4", "application/json", json, R"("7 5 off 3 3/2 ")"},
      {"/s/7?list.0x2=1", "application/json", json, R"("7 5 off 3 0/0 ")"},
      {"/s/7?nope=1", "application/json", json, std::string("Unknown argument 'nope' for '") + name + "'."},
      {"/s/7?id=1", "application/json", json,
       std::string("Argument 'id' for '") + name + "' was specified in an invalid location."},
      {"/s/7?token", "application/json", json, "Expected value for argument 'token'."},
      {"/s/7?list.2x=1", "application/json", json, "Index 2x is in an incorrect format"},
      {"/s/7?list.4294967296=1", "application/json", json, "Index 4294967296 is out of range"},
      {"/s/7?list.2147483646=1", "application/json", json, "Index 2147483646 is too large for one request"},
      {"/s/7?extra={\"skin\":", "", json, "Couldn't deserialize JSON value for parameter 'extra' of '" +
                                              std::string(name) + "': Error: Invalid value. at offset 8."},
      {"/s/7", "text/plain", json, "Unsupported body content type"},
      {"/s/7", "application/x-msgpack", std::string("\x81\xa4skin\x05\x00", 8), "Extra MessgePack data found in body"},
      {"/s/7", "application/x-msgpack", "\x81\xa4skin\x05", R"("7 5 off 0 0/0 ")"},
      {"/s/7", "application/x-yaml", "skin: 6\n", R"("7 6 off 0 0/0 ")"},
      {"/s/x", "application/json", json, ""},  // the id does not convert: checked below
  };
  for (const auto& row : rows) {
    const Answer answer = Send(&route, 5, row.url, row.contentType, row.body);
    if (row.expected.empty()) {
      EXPECT_FALSE(answer.error.empty()) << row.url;
      continue;
    }
    EXPECT_EQ(answer.error.empty() ? answer.json : answer.error, row.expected) << row.url << " " << row.contentType;
  }

  // Headers bind by the argument's name in lower case, where allowed.
  const Answer headed = Send(&route, 5, "/s/1", "application/json", json, {{"token", "abc"}, {"Token", "no"}});
  EXPECT_EQ(headed.json, R"("1 5 off 0 0/0 abc")") << headed.error;
  // Pre-bound values: by name, or positionally after the path parameters.
  HostValue text{HostValueKind_BorrowedString, {}};
  text.u.string = {"pre", 3};
  EXPECT_EQ(Send(&route, 5, "/s/1", "application/json", json, {}, {{"token", text}}).json, R"("1 5 off 0 0/0 pre")");
  EXPECT_EQ(Send(&route, 5, "/s/1", nullptr, "", {}, {{"nothing", text}}).error,
            std::string("Unknown argument 'nothing' for '") + name + "'.");
  std::vector<HostNamedValue> tooMany(6, HostNamedValue{nullptr, text});
  EXPECT_EQ(Send(&route, 5, "/s/1", nullptr, "", {}, tooMany).error,
            std::string("Unknown argument '6' for '") + name + "'.");
  // Without a content type, a structured argument's text is recognised by
  // its first bytes; a plain one stays text.
  RouteInfo& sniffing = remoting
                            .AddRoute(RemotingMethod::Get, "/q",
                                      [](std::optional<Selection> extra, std::optional<std::string> text) {
                                        return std::to_string(extra ? extra->skin : -1) + " " + text.value_or("-");
                                      })
                            .Argument("extra")
                            .Argument("text")
                            .Route();
  const struct {
    const char* url;
    const char* answer;
  } sniffed[] = {
      {"/q?extra=%7B%22skin%22:4%7D&text=%7B%22skin%22:4%7D", R"("4 {\"skin\":4}")"},
      {"/q?extra=---%0Askin:%205", R"("5 -")"},
      {"/q?extra=%81%A4skin%06", R"("6 -")"},
      {"/q?extra=plain", "Couldn't assign value to 'extra' of type Selection because the input not a structure."},
      {"/q?extra=%81%A1", "Couldn't deserialize MessagePack value for parameter 'extra' of 'GetQ': Invalid MessagePack"},
      // Only spaces may come before the marker; after a tab or a line
      // break the value is text.
      {"/q?extra=%20%20%7B%22skin%22:7%7D", R"("7 -")"},
      {"/q?extra=%20---%0Askin:%208", "Couldn't deserialize YAML value for parameter 'extra' of 'GetQ'"},
      {"/q?extra=%09%7B%22skin%22:4%7D", "Couldn't assign value to 'extra' of type Selection because the input not"},
      {"/q?extra=%0A%5B%5D", "Couldn't assign value to 'extra' of type Selection because the input not"},
      {"/q?extra=%0D%0A---%0Askin:%205", "Couldn't assign value to 'extra' of type Selection because the input not"},
  };
  for (const auto& row : sniffed) {
    const Answer answer = Send(&sniffing, 2, row.url);
    EXPECT_THAT(answer.error.empty() ? answer.json : answer.error, ::testing::StartsWith(row.answer)) << row.url;
  }
  // A body sent to a function without a body argument is ignored.
  RouteInfo& plain = remoting.AddRoute(RemotingMethod::Post, "/p", [] { return true; }).Route();
  EXPECT_EQ(Send(&plain, 6, "/p", "text/plain", "junk").json, "true");
}

// Every element that collections hold, however deep.
std::size_t CountElements(const std::vector<BindingProperty>& arguments) {
  std::vector<const BindingNode*> pending;
  for (const BindingProperty& argument : arguments) pending.push_back(&argument);
  std::size_t count = 0;
  while (!pending.empty()) {
    const BindingNode* node = pending.back();
    pending.pop_back();
    count += node->Elements().size();
    for (const BindingNode& element : node->Elements()) pending.push_back(&element);
    for (const auto field : node->Fields()) pending.push_back(&field.value);
  }
  return count;
}

// A few bytes of query must not buy millions of elements: indices share one
// budget across keys, nesting levels and sources, and a scalar argument
// takes no sub-path at all.
TEST_F(Routes, QueryIndicesShareOneBudgetPerRequest) {
  constexpr std::size_t kBudget = ArgumentBinder::kMaxIndexedElements;
  RegisterStruct<Selection>(registry, "Selection").Field("skin", &Selection::skin).Field("spells", &Selection::spells);
  RouteInfo& route = remoting
                         .AddRoute(RemotingMethod::Get, "/h",
                                   [](std::optional<std::string> note, bool flag,
                                      std::optional<std::vector<int64_t>> list, std::optional<BindingProperty> any,
                                      std::optional<Selection> extra) {
                                     return std::to_string(note.has_value()) + std::to_string(flag) +
                                            std::to_string(list ? list->size() : 0) + std::to_string(any.has_value()) +
                                            std::to_string(extra ? extra->spells.size() : 0);
                                   })
                         .Argument("note")
                         .Argument("flag")
                         .Argument("list")
                         .Argument("any")
                         .Argument("extra")
                         .Route();
  const std::string deepKeys = "any" + [] {
    std::string levels;
    for (std::size_t i = 0; i <= kBudget; ++i) levels += ".0";
    return levels;
  }();
  std::string manyKeys;
  for (int i = 0; i < 70; ++i) manyKeys += (i ? "&any." : "any.") + std::to_string(i) + ".1000=1";
  const struct {
    std::string query;
    std::map<std::string, std::string> path;
    std::string failure;  // empty: bound
  } rows[] = {
      {"note.0.65535=1", {}, "Argument 'note' for 'GetH' has no elements or fields."},
      {"note.x=1", {}, "Argument 'note' for 'GetH' has no elements or fields."},
      {"flag.0", {}, "Argument 'flag' for 'GetH' has no elements or fields."},
      {"list.65535=1", {}, ""},
      {"list.65536=1", {}, "Index 65536 is too large for one request"},
      {"any.0.65535=1", {}, "Index 65535 is too large for one request"},  // 1 + 65536
      {"any.0.65534=1&any.1.0=1", {}, "Index 1 is too large for one request"},
      {"extra.spells.40000=1&list.40000=1", {}, "Index 40000 is too large for one request"},
      {"list.0x8000=1&list.32768=2&list.0100000=3", {}, ""},  // one element, three spellings
      {manyKeys, {}, "is too large for one request"},
      {deepKeys + "=1", {}, "Index 0 is too large for one request"},
      {deepKeys.substr(0, deepKeys.size() - 2) + "=1", {}, ""},  // 65,536 levels of one element
      {"list.1=1", {{"extra.spells.65535", "1"}}, "Index 1 is too large for one request"},
  };
  for (const auto& row : rows) {
    const std::string label = row.query.substr(0, 40);
    BindingProperty result;
    std::vector<BindingProperty> arguments(route.function->arguments.size());
    BindArguments(result, arguments, *route.function, route, ParseQueryString(row.query), row.path, {});
    EXPECT_LE(CountElements(arguments), kBudget) << label;
    if (row.failure.empty()) {
      EXPECT_TRUE(result.IsValid()) << label << ": " << result.FailureMessage();
      EXPECT_THAT(Send(&route, 2, "/h?" + row.query).error, ::testing::IsEmpty()) << label;
      continue;
    }
    EXPECT_THAT(std::string(result.FailureMessage()), ::testing::EndsWith(row.failure)) << label;
    if (row.path.empty()) {
      EXPECT_THAT(Send(&route, 2, "/h?" + row.query).error, ::testing::EndsWith(row.failure)) << label;
    }
  }
}

// The answers every route builds, as the core receives them.
TEST_F(Routes, ResultBuildersAnswerWithTheirStatus) {
  using Typed = RemotingTypedResult<int64_t>;
  using Maybe = MaybeType<Failure, int64_t>;
  int next = 0;
  const auto add = [&](auto handler) {
    return &remoting.AddRoute(RemotingMethod::Get, "/b" + std::to_string(next++), handler).Route();
  };
  const struct {
    RouteInfo* route;
    std::string answer;  // status, then the failure text or the JSON value
  } rows[] = {
      {add([] { return RemotingResult::Success(); }), "0 "},  // no value
      {add([] { return RemotingResult::NotFound(); }), "404 Not found"},
      {add([] { return RemotingResult::NotFound("Not in Champ Select"); }), "404 Not in Champ Select"},
      {add([] { return RemotingResult::InternalError(); }), "500 Internal server error"},
      {add([] { return RemotingResult::InternalError("broken"); }), "500 broken"},
      {add([] { return RemotingResult::Failed(409, "busy"); }), "409 busy"},
      {add([] { return RemotingResult::FromFailure(Failure("timed out")); }), "500 timed out"},
      {add([] { return RemotingResult::FromFailure(Failure("", 404)); }), "500 Internal server error"},
      {add([] { return Typed::Success(7); }), "0 7"},
      {add([] { return Typed::NotFound(); }), "404 Not found"},
      {add([] { return Typed::NotFound("Trade Not Existent"); }), "404 Trade Not Existent"},
      {add([] { return Typed::InternalError(); }), "500 Internal server error"},
      {add([] { return Typed::Failed(403, "no"); }), "403 no"},
      {add([] { return Typed::FromFailure(Failure("call failed", 0)); }), "500 call failed"},
      {add([] { return Maybe(5); }), "0 5"},
      {add([] { return Maybe(Failure("call failed")); }), "500 call failed"},
      {add([] { return Maybe(Failure("Conflict", 409)); }), "409 Conflict"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Answer answer = Send(rows[i].route, 2, "/b" + std::to_string(i));
    EXPECT_EQ(std::to_string(answer.status) + " " + (answer.error.empty() ? answer.json : answer.error),
              rows[i].answer)
        << "row " << i;
  }
}

TEST_F(Routes, ResultsAndTheExportedRecords) {
  remoting.AddRoute(RemotingMethod::Get, "/r/typed/{id}", [](int64_t id) {
    if (id == 0) return RemotingTypedResult<std::string>::Failed(404, "Trade Not Existent");
    RemotingTypedResult<std::string> result("found");
    result.status = 201;
    result.contentType = "text/x-test";
    result.headers = {{"X-Id", std::to_string(id)}};
    return result;
  }).PathArgument("id", "the trade");
  remoting.AddRoute(RemotingMethod::Post, "/r/command", [] { return RemotingResult::Failed(409, "busy"); });
  // The same function again keeps its first handler.
  remoting.AddRoute(RemotingMethod::Post, "/r/command/", [] { return RemotingResult::Success(); });

  const ApiDescription* api = remoting.Export();
  ASSERT_EQ(api->functionCount, 2u);
  const PluginFunctionRecord& typed = api->functions[0];
  EXPECT_STREQ(typed.description.name, "GetRTypedById");
  EXPECT_STREQ(typed.pathTemplate, "/r/typed/{id}");
  EXPECT_EQ(+typed.method, 2u);  // packed fields are read by value
  EXPECT_EQ(+typed.description.argumentCount, 1u);
  EXPECT_STREQ(typed.description.arguments[0].name, "id");
  EXPECT_STREQ(typed.description.arguments[0].description, "the trade");
  EXPECT_EQ(+typed.description.arguments[0].location, 2u);
  const PluginArgumentLocationEntry* locations = typed.locations;
  ASSERT_NE(locations, nullptr);
  EXPECT_EQ(+locations->location, 2u);
  const PluginArgumentLocationEntry* next = locations->next;
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(+typed.textListCount, 0u);
  EXPECT_STREQ(typed.customMethod, "");
  EXPECT_EQ(remoting.Export(), api);  // built once

  const auto call = [&](const PluginFunctionRecord& record, const char* url) {
    RemotingRequest request{};
    request.method = record.method;
    request.url = url;
    RemotingResponse response{};
    record.dispatch(record.description.context, &response, &request);
    std::string text = std::to_string(response.status) + " " + (response.error ? response.error : "") +
                       (response.contentType ? response.contentType : "<null>");
    for (uint32_t i = 0; i < response.headerCount; ++i)
      text += std::string(" ") + response.headers[i].name + "=" + response.headers[i].value;
    if (response.release) response.release(&response);
    return text;
  };
  EXPECT_EQ(call(typed, "/r/typed/4"), "201 text/x-test X-Id=4");
  EXPECT_EQ(call(typed, "/r/typed/0"), "404 Trade Not Existent");
  EXPECT_EQ(call(api->functions[1], "/r/command"), "409 busy");
  EXPECT_EQ(call(typed, "/r/other"), "404 Invalid function<null>");

  BindingRegistry other;
  Remoting throwing(other);
  throwing.AddRoute(RemotingMethod::Get, "/t", []() -> int { throw std::bad_alloc(); });
  const ApiDescription* thrown = throwing.Export();
  EXPECT_EQ(call(thrown->functions[0], "/t"), "500 Internal server error<null>");
}

}  // namespace
}  // namespace Vexa
