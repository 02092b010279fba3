#include "replay/trace_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include <rapidjson/error/en.h>

#include "core/core.h"

namespace TovReplay {
namespace {

struct KindName {
  const char* name;
  Kind kind;
};
constexpr KindName kKinds[] = {{"request", Kind::Request}, {"event", Kind::Event},   {"log", Kind::Log},
                               {"answer", Kind::Answer},   {"push", Kind::Push},     {"reply", Kind::Reply},
                               {"call", Kind::Call},       {"clock", Kind::Clock},   {"shutdown", Kind::Shutdown},
                               {"end", Kind::End}};

// Bytes pass through untouched (a streamed chunk may end inside a character),
// and depth costs no stack.
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNanAndInfFlag | rapidjson::kParseFullPrecisionFlag;

bool IsString(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsString();
}

bool IsNumber(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsNumber() && std::isfinite(object[key].GetDouble());
}

// "" when the fields of a line that is played back are usable, else why not.
std::string CheckInput(Kind kind, const rapidjson::Value& line) {
  switch (kind) {
    case Kind::Push:
      if (!IsString(line, "name") || !line.HasMember("payload")) return "a push needs a \"name\" and a \"payload\"";
      return "";
    case Kind::Reply: {
      if (!line.HasMember("status") || !line["status"].IsInt()) return "a reply needs a whole-number \"status\"";
      int forms = 0;
      for (const char* key : {"body", "bodyText", "error", "chunks"}) forms += line.HasMember(key) ? 1 : 0;
      if (forms != 1) return "a reply needs one of \"body\", \"bodyText\", \"error\" and \"chunks\"";
      if ((line.HasMember("bodyText") && !line["bodyText"].IsString()) ||
          (line.HasMember("error") && !line["error"].IsString()))
        return "a reply's \"bodyText\" and \"error\" are texts";
      if (line.HasMember("chunks")) {
        if (!line["chunks"].IsArray()) return "a reply's \"chunks\" are a list of texts";
        for (const rapidjson::Value& chunk : line["chunks"].GetArray())
          if (!chunk.IsString()) return "a reply's \"chunks\" are a list of texts";
        if (!line.HasMember("sizeHint") || !line["sizeHint"].IsUint() || !line.HasMember("failsAtEnd") ||
            !line["failsAtEnd"].IsBool())
          return "a streamed reply needs a \"sizeHint\" and \"failsAtEnd\"";
      }
      return "";
    }
    case Kind::Call:
      if (!IsString(line, "method") || TovHost::MethodCode(line["method"].GetString()) == 0)
        return "a call needs a known \"method\"";
      if (!IsString(line, "path") || !IsString(line, "body") || !IsString(line, "contentType"))
        return "a call needs a \"path\", a \"body\" and a \"contentType\", each a text";
      if (line.HasMember("headers")) {
        if (!line["headers"].IsArray()) return "a call's \"headers\" are a list of [name, value]";
        for (const rapidjson::Value& header : line["headers"].GetArray())
          if (!header.IsArray() || header.Size() != 2 || !header[0].IsString() || !header[1].IsString())
            return "a call's \"headers\" are a list of [name, value]";
      }
      return "";
    case Kind::Clock: {
      int forms = 0;
      for (const char* key : {"at", "jump", "wallShift"}) {
        if (!line.HasMember(key)) continue;
        if (!IsNumber(line, key)) return std::string("a clock's \"") + key + "\" is a finite number";
        ++forms;
      }
      if (forms != 1) return "a clock line needs one of \"at\", \"jump\" and \"wallShift\"";
      if (line.HasMember("jump") && line["jump"].GetDouble() < 0) return "a clock cannot jump back";
      return "";
    }
    default:
      return "";
  }
}

std::string At(size_t number, const std::string& why) { return "line " + std::to_string(number) + ": " + why; }

}  // namespace

bool IsOutput(Kind kind) {
  return kind == Kind::Request || kind == Kind::Event || kind == Kind::Log || kind == Kind::Answer;
}

bool ParseTrace(const std::string& text, std::vector<TraceLine>* lines, std::string* error) {
  lines->clear();
  double last = 0;
  bool exactNext = false;  // a clock "at" gave the next input's time
  double exact = 0;
  size_t start = 0;
  for (size_t number = 1; start < text.size(); ++number) {
    const size_t end = text.find('\n', start);
    const bool broken = end == std::string::npos;  // the last line has no line break
    TraceLine line;
    line.number = number;
    line.text = text.substr(start, broken ? std::string::npos : end - start);
    start = broken ? text.size() : end + 1;
    if (line.text.empty()) {
      *error = At(number, "empty");
      return false;
    }
    rapidjson::Document document;
    document.Parse<kParseFlags>(line.text.data(), line.text.size());
    if (document.HasParseError()) {
      *error = At(number, std::string("not JSON: ") + rapidjson::GetParseError_En(document.GetParseError()) +
                              " (at character " + std::to_string(document.GetErrorOffset() + 1) + ")" +
                              (broken ? "; the trace was cut short" : ""));
      return false;
    }
    if (!document.IsObject()) {
      *error = At(number, "not a JSON object");
      return false;
    }
    if (!IsNumber(document, "t") || document["t"].GetDouble() < 0) {
      *error = At(number, "no \"t\", a time in seconds");
      return false;
    }
    if (document["t"].GetDouble() < last) {
      *error = At(number, "its time goes back");
      return false;
    }
    last = document["t"].GetDouble();
    const KindName* kind = nullptr;
    for (const KindName& known : kKinds)
      if (IsString(document, "kind") && std::strcmp(document["kind"].GetString(), known.name) == 0) kind = &known;
    if (!kind) {
      *error = At(number, "no \"kind\" of a trace line");
      return false;
    }
    line.kind = kind->kind;
    if (const std::string why = CheckInput(line.kind, document); !why.empty()) {
      *error = At(number, why);
      return false;
    }
    if (!lines->empty() && lines->back().kind == Kind::End) {
      *error = At(number, "a line after the \"end\" line");
      return false;
    }
    line.time = last;
    if (line.kind == Kind::Clock && document.HasMember("at")) {
      exactNext = true;
      exact = document["at"].GetDouble();
      line.time = exact;
    } else if (!IsOutput(line.kind) && exactNext) {
      line.time = exact;
      exactNext = false;
    }
    if (!IsOutput(line.kind)) line.fields = std::move(document);
    lines->push_back(std::move(line));
  }
  if (lines->empty()) {
    *error = "the trace is empty";
    return false;
  }
  if (lines->back().kind != Kind::End) {
    *error = At(lines->size(), "the trace ends here without its \"end\" line: it was cut short, or its run did not finish");
    return false;
  }
  return true;
}

bool ReadTrace(const std::string& path, std::vector<TraceLine>* lines, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the trace " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (!ParseTrace(content.str(), lines, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace TovReplay
