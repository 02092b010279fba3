// Reading and writing a platform-message-shaped payload in each wire form,
// against the peers a reader of this code would reach for instead, and
// against the floors of the libraries our codecs run on.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include "binding/property.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"

namespace {

// 40 records of 20 fields (texts, numbers, a flag, a nested list) in lists of
// ten: about 1,000 nodes, the size of a busy session message.
std::string SampleJson() {
  std::string text = "{";
  char buffer[160];
  for (int list = 0; list < 4; ++list) {
    std::snprintf(buffer, sizeof buffer, "%s\"list%d\":[", list ? "," : "", list);
    text += buffer;
    for (int r = 0; r < 10; ++r) {
      const int id = list * 10 + r;
      std::snprintf(buffer, sizeof buffer,
                    "%s{\"cellId\":%d,\"championId\":%d,\"summonerId\":%d,\"spell1Id\":4,\"spell2Id\":14,"
                    "\"selectedSkinId\":%d,\"wardSkinId\":-1,\"pickTurn\":%d,",
                    r ? "," : "", id, 100 + id * 7, 4000000 + id * 13, (100 + id * 7) * 1000, id % 5);
      text += buffer;
      std::snprintf(buffer, sizeof buffer,
                    "\"summonerName\":\"player-%04d\",\"assignedPosition\":\"middle\",\"state\":\"in progress\","
                    "\"phase\":\"ban-pick\",\"typeName\":\"pick\",\"pickMode\":\"draft\",",
                    id);
      text += buffer;
      std::snprintf(buffer, sizeof buffer,
                    "\"completed\":%s,\"remainingMs\":%d.5,\"name\":\"record \\\"%d\\\"\",\"current\":[1,2,3],"
                    "\"data\":{\"x\":%d},\"optimisticLock\":%d}",
                    id % 2 ? "true" : "false", 30000 - id, id, id, id * 3);
      text += buffer;
    }
    text += "]";
  }
  text += "}";
  return text;
}

const std::string& Json() {
  static const std::string text = SampleJson();
  return text;
}

const std::vector<std::uint8_t>& MessagePack() {
  static const std::vector<std::uint8_t> bytes = nlohmann::json::to_msgpack(nlohmann::json::parse(Json()));
  return bytes;
}

const std::string& Yaml() {
  static const std::string text = [] {
    YAML::Emitter out;
    out << YAML::Load(Json());
    return std::string("---\n") + out.c_str() + "\n";
  }();
  return text;
}

void Bytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// --- JSON

void BM_JsonParse_Ours(benchmark::State& state) {
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseJson(Json());
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, Json().size());
}

void BM_JsonParse_RapidJsonDom(benchmark::State& state) {
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse<rapidjson::kParseIterativeFlag>(Json().c_str());
    benchmark::DoNotOptimize(&document);
  }
  Bytes(state, Json().size());
}

// The floor: the same reader, flags and input into a handler that does nothing.
void BM_JsonParse_RapidJsonSaxNull(benchmark::State& state) {
  for (auto _ : state) {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(Json().c_str());
    benchmark::DoNotOptimize(
        reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(stream, handler));
  }
  Bytes(state, Json().size());
}

void BM_JsonParse_Nlohmann(benchmark::State& state) {
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(Json());
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, Json().size());
}

void BM_JsonWrite_Ours(benchmark::State& state) {
  const Vexa::BindingProperty value = Vexa::ParseJson(Json());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = Vexa::ToJson(value);
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  Bytes(state, size);
}

void BM_JsonWrite_RapidJson(benchmark::State& state) {
  rapidjson::Document document;
  document.Parse(Json().c_str());
  std::size_t size = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    size = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  Bytes(state, size);
}

void BM_JsonWrite_Nlohmann(benchmark::State& state) {
  const nlohmann::json value = nlohmann::json::parse(Json());
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = value.dump();
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  Bytes(state, size);
}

// --- MessagePack

void BM_MessagePackParse_Ours(benchmark::State& state) {
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseMessagePack(MessagePack());
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, MessagePack().size());
}

void BM_MessagePackParse_MsgpackCxx(benchmark::State& state) {
  const auto* data = reinterpret_cast<const char*>(MessagePack().data());
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(data, MessagePack().size());
    benchmark::DoNotOptimize(&handle);
  }
  Bytes(state, MessagePack().size());
}

void BM_MessagePackParse_Nlohmann(benchmark::State& state) {
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::from_msgpack(MessagePack());
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, MessagePack().size());
}

// --- YAML

void BM_YamlParse_Ours(benchmark::State& state) {
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseYaml(Yaml());
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, Yaml().size());
}

// The floor: libyaml's events alone, created and deleted.
void BM_YamlParse_LibyamlEvents(benchmark::State& state) {
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(Yaml().data()), Yaml().size());
    yaml_event_t event;
    bool more = true;
    while (more && yaml_parser_parse(&parser, &event)) {
      more = event.type != YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
  }
  Bytes(state, Yaml().size());
}

void BM_YamlParse_YamlCpp(benchmark::State& state) {
  for (auto _ : state) {
    YAML::Node node = YAML::Load(Yaml());
    benchmark::DoNotOptimize(&node);
  }
  Bytes(state, Yaml().size());
}

}  // namespace

BENCHMARK(BM_JsonParse_Ours);
BENCHMARK(BM_JsonParse_RapidJsonDom);
BENCHMARK(BM_JsonParse_RapidJsonSaxNull);
BENCHMARK(BM_JsonParse_Nlohmann);
BENCHMARK(BM_JsonWrite_Ours);
BENCHMARK(BM_JsonWrite_RapidJson);
BENCHMARK(BM_JsonWrite_Nlohmann);
BENCHMARK(BM_MessagePackParse_Ours);
BENCHMARK(BM_MessagePackParse_MsgpackCxx);
BENCHMARK(BM_MessagePackParse_Nlohmann);
BENCHMARK(BM_YamlParse_Ours);
BENCHMARK(BM_YamlParse_LibyamlEvents);
BENCHMARK(BM_YamlParse_YamlCpp);

BENCHMARK_MAIN();
