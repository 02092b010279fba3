#include "bridge/openapi.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"

namespace {

struct Check {
  const char* pointer;  // a JSON pointer into the document
  const char* json;     // the value expected there, as JSON text
};

std::string Compact(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

void ExpectAll(const std::string& text, const std::vector<Check>& checks) {
  rapidjson::Document document;
  ASSERT_FALSE(document.Parse(text.c_str(), text.size()).HasParseError()) << text;
  for (const Check& check : checks) {
    const rapidjson::Value* found = rapidjson::Pointer(check.pointer).Get(document);
    rapidjson::Document expected;
    ASSERT_FALSE(expected.Parse(check.json, std::strlen(check.json)).HasParseError()) << check.json;
    if (!found) {
      ADD_FAILURE() << check.pointer << " is missing";
    } else {
      EXPECT_EQ(Compact(*found), Compact(expected)) << check.pointer;
    }
  }
}

// The documents, by name, through the same validator as the end-to-end
// test; skipped where the validator is not installed (the scripts install it).
void ExpectValid(const std::vector<std::pair<std::string, std::string>>& documents) {
  std::string command = std::string("'") + TOV_NODE_PATH + "' '" + TOV_OPENAPI_CHECK + "'";
  std::vector<std::filesystem::path> files;
  for (const auto& [name, text] : documents) {
    files.push_back(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".openapi.json"));
    std::ofstream(files.back()) << text;
    command += " '" + files.back().string() + "'";
  }
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = pclose(pipe);
  for (const auto& file : files) std::filesystem::remove(file);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << output;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
}

// One line per operation: "method path operationId in:name… [body]", the
// path without `prefix`.
std::vector<std::string> OperationLines(const std::string& text, const std::string& prefix) {
  rapidjson::Document document;
  document.Parse(text.c_str(), text.size());
  std::vector<std::string> lines;
  for (const auto& path : document["paths"].GetObject()) {
    for (const auto& operation : path.value.GetObject()) {
      std::string line = std::string(operation.name.GetString()) + " " +
                         std::string(path.name.GetString()).substr(prefix.size()) + " " +
                         operation.value["operationId"].GetString();
      if (operation.value.HasMember("parameters"))
        for (const auto& p : operation.value["parameters"].GetArray())
          line += std::string(" ") + p["in"].GetString() + ":" + p["name"].GetString();
      if (operation.value.HasMember("requestBody")) line += " body";
      lines.push_back(line);
    }
  }
  return lines;
}

const char* const kSession = "/paths/~1tov-vover-orevid-aredez~1v1~1session";
const char* const kTrade = "/paths/~1tov-vover-orevid-aredez~1v1~1session~1trades~1{id}";
const char* const kAction = "/paths/~1tov-vover-orevid-aredez~1v1~1session~1actions~1{id}";
const char* const kMySelection = "/paths/~1tov-vover-orevid-aredez~1v1~1session~1my-selection";

std::string P(const char* prefix, const char* rest) { return std::string(prefix) + rest; }

TEST(OpenApi, DescribesThePlugin) {
  TovHost::PluginLibrary library(TOV_PLUGIN_PATH);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  const PluginHandshake record = library.Handshake(18, 0, 0);
  ASSERT_NE(record.apiDescription, nullptr);
  TovHost::Core core;
  core.UseApi(record.apiDescription);
  CoreContext context = core.Context();
  ASSERT_TRUE(record.callbacks->Init(record.plugin, &context));
  const std::string text = TovBridge::OpenApiJson(*record.apiDescription, "18.0.0");

  const std::string session = P(kSession, "/get"), trade = P(kTrade, "/get"), action = P(kAction, "/patch"),
                    mySelection = P(kMySelection, "/patch");
  const std::string schemas = "/components/schemas";
  const std::vector<std::string> pointers = {
      session + "/responses/200/content/application~1json/schema",
      trade + "/parameters",
      action + "/parameters/0/in",
      action + "/requestBody/content/application~1json/schema/type",
      mySelection + "/requestBody/required",
      schemas + "/ChampSelectSession/properties/myTeam",
      schemas + "/ChampSelectTradeContract/properties/state",
      schemas + "/ChampSelectTradeState",
  };
  ExpectAll(text, {
                      {"/openapi", R"("3.1.0")"},
                      {"/info", R"({"title":"tov-vover-orevid-aredez","version":"18.0.0"})"},
                      {pointers[0].c_str(), R"({"$ref":"#/components/schemas/ChampSelectSession"})"},
                      {pointers[1].c_str(),
                       R"([{"name":"id","in":"path","required":true,"schema":{"type":"integer","format":"int64"}}])"},
                      {pointers[2].c_str(), R"("path")"},
                      {pointers[3].c_str(), R"("object")"},
                      {pointers[4].c_str(), "true"},
                      {pointers[5].c_str(),
                       R"({"type":"array","items":{"$ref":"#/components/schemas/ChampSelectPlayerSelection"}})"},
                      {pointers[6].c_str(), R"({"$ref":"#/components/schemas/ChampSelectTradeState"})"},
                      {pointers[7].c_str(), R"({"title":"ChampSelectTradeState","type":"string",)"
                                            R"("enum":["AVAILABLE","BUSY","INVALID","RECEIVED","SENT"]})"},
                  });

  // Every route of the plug-in at its method, with where each argument comes from.
  EXPECT_EQ(OperationLines(text, "/tov-vover-orevid-aredez/v1/"),
            std::vector<std::string>({
                "get implementation-active GetTovVoverOrevidAredezV1ImplementationActive",
                "get session GetTovVoverOrevidAredezV1Session",
                "get session/trades GetTovVoverOrevidAredezV1SessionTrades",
                "get session/trades/{id} GetTovVoverOrevidAredezV1SessionTradesById path:id",
                "post session/trades/{id}/request PostTovVoverOrevidAredezV1SessionTradesByIdRequest path:id",
                "post session/trades/{id}/accept PostTovVoverOrevidAredezV1SessionTradesByIdAccept path:id",
                "post session/trades/{id}/decline PostTovVoverOrevidAredezV1SessionTradesByIdDecline path:id",
                "post session/trades/{id}/cancel PostTovVoverOrevidAredezV1SessionTradesByIdCancel path:id",
                "patch session/actions/{id} PatchTovVoverOrevidAredezV1SessionActionsById path:id body",
                "post session/actions/{id}/complete PostTovVoverOrevidAredezV1SessionActionsByIdComplete path:id",
                "post session/my-selection/reroll PostTovVoverOrevidAredezV1SessionMySelectionReroll",
                "post team-boost/purchase PostTovVoverOrevidAredezV1TeamBoostPurchase",
                "patch session/my-selection PatchTovVoverOrevidAredezV1SessionMySelection body",
                "get session/timer GetTovVoverOrevidAredezV1SessionTimer",
                "post battle-training/launch PostTovVoverOrevidAredezV1BattleTrainingLaunch",
                "get pickable-champions GetTovVoverOrevidAredezV1PickableChampions",
                "get bannable-champions GetTovVoverOrevidAredezV1BannableChampions",
                "get team-boost GetTovVoverOrevidAredezV1TeamBoost",
            }));
  EXPECT_EQ(TovBridge::OpenApiJson(*record.apiDescription, "18.0.0"), text) << "the same records, another text";
  record.callbacks->Shutdown(record.plugin);
  ExpectValid({{"plugin", text}});
}

}  // namespace

namespace {

constexpr uint8_t kInt32 = 6, kInt64 = 8, kString = 12, kVector = 15, kEnum = 16, kStruct = 17, kMap = 19;
constexpr uint8_t kQuery = 1, kPath = 2, kHeader = 4, kBody = 5;

PluginFunctionRecord Function(const char* name, uint32_t method, const char* path,
                              const std::vector<PluginArgumentDescription>& arguments = {}) {
  PluginFunctionRecord record{};
  record.description.name = name;
  record.description.arguments = arguments.empty() ? nullptr : arguments.data();
  record.description.argumentCount = static_cast<uint32_t>(arguments.size());
  record.description.returnTypeCode = kInt32;
  record.method = method;
  record.pathTemplate = path;
  return record;
}

// Records no well-behaved plug-in exports, each still described, and the
// document still valid.
TEST(OpenApi, DescribesOddRecords) {
  const std::vector<PluginArgumentDescription> oddArguments = {
      {"id", "", kInt64, 0, 0, kPath},         {"missing", "", kString, 0, 0, kPath},
      {"", "", kString, 0, 0, kQuery},         {"q\"uote\\\n", "a \"quoted\" name", 99, 0, 1, kQuery},
      {"X-Trace", "", kString, 0, 1, kHeader}, {"X-Trace", "", kString, 0, 1, kHeader},
      {"anywhere", "", kString, 0, 0, 3},      {"data", "", kStruct, 0, 0, kBody},
      {"second", "", kStruct, 0, 0, kBody},
  };
  const std::vector<PluginArgumentDescription> braces = {{"x{y", "", kString, 0, 0, kPath}};
  std::vector<PluginFunctionRecord> functions = {
      Function("odd", 2, "/odd/{id}/{+rest}/ignored", oddArguments),
      Function("", 0, "/any"),
      Function("odd", 2, "/odd/{id}/{+rest}/ignored"),
      Function("purge", 8, "/custom"),
      Function("far", 42, "/far"),
      Function("relative", 2, "relative/path"),
      Function("unnamed", 2, nullptr),
      Function("braces", 6, "/a{b}/{}/{x{y}/{id}/{id}", braces),
  };
  functions[3].customMethod = "PURGE";
  const char* const tags[] = {"first", "\xff"};
  functions[0].description.tags = tags;
  functions[0].description.tagCount = 2;

  const std::vector<PluginMemberDescription> fields = {
      {"", "", kInt32, 0, "", 0, 0},
      {"dup", "", kString, 0, "", 4, 0},
      {"dup", "", kInt32, 0, "", 8, 0},
      {"\x01\xc3\x28\xc0\xaf\xed\xa0\x80", "", kInt32, 0, "", 12, 0},  // overlong, surrogate
      {"lost", "", kStruct, 0, "Missing", 16, 0},
      {"colours", "", kVector, kEnum, "Colour", 20, 0},
      {"odd", "", kMap, 77, "", 24, 1},
      {"self", "", kStruct, 0, "Odd Name/\xc3\xbc", 28, 1},
  };
  const std::vector<PluginMemberDescription> values = {
      {"RED", "", 0, 0, "", 2, 0}, {"BLUE", "", 0, 0, "", 1, 0}, {"BLUE", "", 0, 0, "", 3, 0}};
  const std::vector<PluginTypeDescription> types = {
      {"Odd Name/\xc3\xbc", "", "", 32, 0, fields.data(), static_cast<uint32_t>(fields.size())},
      {"Colour", "", "", 4, 1, values.data(), static_cast<uint32_t>(values.size())},
      {"Colour", "", "a second registration", 4, 0, nullptr, 0},
      {"", "", "", 0, 0, nullptr, 3},
  };
  const PluginEventDescription events[] = {{"OnOdd", nullptr, kStruct, "Odd Name/\xc3\xbc"}};
  const ApiDescription api{functions.data(), static_cast<uint32_t>(functions.size()),
                           types.data(),     static_cast<uint32_t>(types.size()),
                           events,           1};
  const std::string text = TovBridge::OpenApiJson(api, "0.0.0-\"odd\"");

  EXPECT_EQ(OperationLines(text, ""),
            std::vector<std::string>({
                "get /odd/{id}/{rest} odd path:id query:q\"uote\\\n header:X-Trace query:anywhere path:rest body",
                "delete /any function-2.delete",
                "get /any function-2.get",
                "head /any function-2.head",
                "options /any function-2.options",
                "patch /any function-2.patch",
                "post /any function-2.post",
                "put /any function-2.put",
                "post /a%7Bb%7D/{param1}/{param2}/{id}/{param4} braces path:param1 path:param2 path:id path:param4",
            }));
  const std::string odd = "/paths/~1odd~1{id}~1{rest}/get";
  const std::string object = "/components/schemas/Odd_Name___";
  const std::vector<std::string> pointers = {
      odd + "/x-unbound-arguments",
      odd + "/parameters/1",
      odd + "/parameters/4/description",
      odd + "/tags",
      object + "/properties",
      "/paths/~1a%7Bb%7D~1{param1}~1{param2}~1{id}~1{param4}/post/x-unbound-arguments/0/reason",
  };
  ExpectAll(
      text,
      {
          {"/info/version", R"("0.0.0-\"odd\"")"},
          {pointers[0].c_str(),
           R"([{"name":"missing","location":"path","reason":"the path template has no {missing}","schema":{"type":"string"}},)"
           R"({"name":"","location":"query","reason":"an argument without a name cannot be given by name","schema":{"type":"string"}},)"
           R"({"name":"X-Trace","location":"header","reason":"an earlier argument has the same name and place","schema":{"type":"string"}},)"
           R"({"name":"second","location":"body","reason":"only the first body argument receives the body","schema":{"type":"object","description":"A structure; the function's record does not say which registered type."}}])"},
          {pointers[1].c_str(),
           R"({"name":"q\"uote\\\n","in":"query","description":"a \"quoted\" name","required":false,)"
           R"("schema":{"description":"A value of the unknown type code 99."}})"},
          {pointers[2].c_str(),
           R"("A part of the path template that no argument takes. The rest of the path, slashes included.")"},
          {pointers[3].c_str(), R"(["first","\ufffd"])"},
          {pointers[4].c_str(),
           R"({"":{"type":"integer","format":"int32","minimum":-2147483648,"maximum":2147483647},)"
           R"("dup":{"type":"string"},)"
           R"("\u0001\ufffd(\ufffd\ufffd\ufffd\ufffd\ufffd":{"type":"integer","format":"int32","minimum":-2147483648,"maximum":2147483647},)"
           R"("lost":{"type":"object","description":"Named after a type that is not registered: Missing."},)"
           R"("colours":{"type":"array","items":{"$ref":"#/components/schemas/Colour"}},)"
           R"("odd":{"anyOf":[{"type":"object","additionalProperties":{"description":"A value of the unknown type code 77."}},{"type":"null"}]},)"
           R"("self":{"anyOf":[{"$ref":"#/components/schemas/Odd_Name___"},{"type":"null"}]}})"},
          {pointers[5].c_str(), R"("the path template has no {x{y}")"},
          {"/components/schemas/Colour", R"({"title":"Colour","type":"string","enum":["BLUE","RED"]})"},
          {"/components/schemas/Colour_2",
           R"({"title":"Colour","description":"a second registration","type":"object","properties":{}})"},
          {"/components/schemas/type", R"({"title":"","type":"object","properties":{}})"},
          {"/x-unlisted-operations/0/reason",
           R"("an earlier function has the same method and path, and every request reaches it")"},
          {"/x-unlisted-operations/0/operation/operationId", R"("odd-2")"},
          {"/x-unlisted-operations/1/reason", R"("the custom method \"PURGE\" has no operation key in OpenAPI 3.1")"},
          {"/x-unlisted-operations/2/reason", R"("the method code 42 is none that a request carries")"},
          {"/x-unlisted-operations/3/method", R"("GET")"},
          {"/x-unlisted-operations/4/reason",
           R"("the path template does not start with \"/\", and no request path fits it")"},
          {"/x-events/0", R"({"name":"OnOdd","payload":{"$ref":"#/components/schemas/Odd_Name___"}})"},
      });

  // Counts whose arrays are missing read as nothing.
  const ApiDescription hollow{nullptr, 5, nullptr, 3, nullptr, 2};
  const std::string empty = TovBridge::OpenApiJson(hollow);
  ExpectAll(empty, {{"/paths", "{}"}, {"/components/schemas", "{}"}});
  ExpectValid({{"odd", text}, {"hollow", empty}});
}

}  // namespace
