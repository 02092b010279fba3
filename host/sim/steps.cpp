#include "sim/steps.h"

#include <algorithm>
#include <cmath>

#include "core/core.h"
#include "sim/json.h"

namespace TovSim {
namespace {

// A body is written out again before it is sent; past this depth that would
// cost more stack than a thread may have.
constexpr size_t kMaxBodyDepth = 10000;

}  // namespace

bool ParseSteps(const std::string& text, std::vector<Step>* steps, std::string* error) {
  const rapidjson::Document document = ParseJson(text);
  if (document.HasParseError() || !document.IsArray()) {
    *error = "the steps are not a JSON array";
    return false;
  }
  steps->clear();
  for (rapidjson::SizeType i = 0; i < document.Size(); ++i) {
    const rapidjson::Value& item = document[i];
    const std::string where = "step " + std::to_string(i + 1) + ": ";
    if (!item.IsObject() || !item.HasMember("at") || !item["at"].IsNumber() || !std::isfinite(item["at"].GetDouble()) ||
        item["at"].GetDouble() < 0) {
      *error = where + "\"at\" must be a number of seconds, 0 or more";
      return false;
    }
    if (!item.HasMember("request") || !item["request"].IsObject()) {
      *error = where + "\"request\" must be an object";
      return false;
    }
    const rapidjson::Value& request = item["request"];
    Step step;
    step.at = item["at"].GetDouble();
    if (!request.HasMember("method") || !request["method"].IsString() ||
        TovHost::MethodCode(request["method"].GetString()) == 0) {
      *error = where + "\"method\" must be GET, POST, PUT, PATCH, DELETE, HEAD or OPTIONS";
      return false;
    }
    if (!request.HasMember("path") || !request["path"].IsString()) {
      *error = where + "\"path\" must be a text";
      return false;
    }
    step.method = request["method"].GetString();
    step.path = request["path"].GetString();
    if (request.HasMember("contentType")) {
      if (!request["contentType"].IsString()) {
        *error = where + "\"contentType\" must be a text";
        return false;
      }
      step.contentType = request["contentType"].GetString();
    }
    if (request.HasMember("body")) {
      const rapidjson::Value& body = request["body"];
      if (Depth(body) > kMaxBodyDepth) {
        *error = where + "\"body\" nests deeper than " + std::to_string(kMaxBodyDepth) +
                 " levels (send deeper JSON as a text body under another content type)";
        return false;
      }
      // A text body under a content type other than JSON goes as its bare
      // text (YAML, say); anything else as JSON.
      const bool bare = body.IsString() && step.contentType.find("json") == std::string::npos;
      step.body = bare ? std::string(body.GetString(), body.GetStringLength()) : ToJson(body);
    }
    steps->push_back(std::move(step));
  }
  std::stable_sort(steps->begin(), steps->end(), [](const Step& a, const Step& b) { return a.at < b.at; });
  return true;
}

}  // namespace TovSim
