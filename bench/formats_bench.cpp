// Reading and writing platform-message-shaped payloads of about 4 KB, 4 MB
// and 40 MB in each wire form, against the peers a reader of this code would
// reach for instead, and against the floors of the libraries our codecs run
// on. Every parse also reports its peak memory per input byte.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include "binding/property.h"
#include "binding/storage.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"

// --- Heap metering: every malloc of the process (ours, the peers', the C
// libraries') passes through here, so a parse's peak is measured the same way
// for all of them. Counting is on only while a peak is measured, so the
// timed loops run at the allocator's own speed.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::atomic<bool> metering{false};
std::atomic<std::int64_t> heapInUse{0};  // net change since metering began
std::atomic<std::int64_t> heapPeak{0};

void Counted(void* block) noexcept {
  if (block == nullptr || !metering.load(std::memory_order_relaxed)) return;
  const std::int64_t now =
      heapInUse.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed) +
      static_cast<std::int64_t>(malloc_usable_size(block));
  std::int64_t peak = heapPeak.load(std::memory_order_relaxed);
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Uncounted(void* block) noexcept {
  if (block != nullptr && metering.load(std::memory_order_relaxed))
    heapInUse.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  void* block = __libc_malloc(size);
  Counted(block);
  return block;
}
void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  Counted(block);
  return block;
}
void* realloc(void* old, std::size_t size) {
  Uncounted(old);
  void* block = __libc_realloc(old, size);
  // A failed realloc keeps the old block.
  Counted(block != nullptr || size == 0 ? block : old);
  return block;
}
void free(void* block) {
  Uncounted(block);
  __libc_free(block);
}
void* memalign(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  Counted(block);
  return block;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* block = memalign(alignment, size);
  if (block == nullptr) return 12;  // ENOMEM
  *out = block;
  return 0;
}
}

namespace {

// Runs `parse` once before the timed loop (so that also warms up the heap and
// the page provider for it) and reports the most memory in use
// at any moment while it ran and its result was alive, per input byte. Our
// trees also hold pages of the page provider, which bypass malloc; a parse
// only ever adds pages, so those its result holds are its peak.
template <typename Parse>
void ReportPeak(benchmark::State& state, std::size_t inputBytes, Parse parse) {
  auto& pages = Vexa::BindingPageProvider::Process();
  heapInUse.store(0);
  heapPeak.store(0);
  const std::size_t pagesBefore = pages.PagesInUse();
  metering.store(true);
  {
    auto result = parse();
    benchmark::DoNotOptimize(&result);
    const std::size_t held = pages.PagesInUse() - pagesBefore;
    const double peak = static_cast<double>(heapPeak.load()) +
                        static_cast<double>(held * Vexa::BindingPageProvider::kPageSize);
    state.counters["peak_B_per_in_B"] = peak / static_cast<double>(inputBytes);
  }
  metering.store(false);
}

// --- Inputs: sessions of four lists of ten player records with about twenty
// fields each (texts, numbers, a flag, a nested list and object), the shape
// of a busy session message. Ten records make about 4 KB.
std::string SampleJson(int records) {
  std::string text = "{\"sessions\":[";
  char buffer[200];
  for (int id = 0; id < records; ++id) {
    const int inList = id % 10, list = id / 10 % 4;
    if (inList == 0) {
      if (list == 0) {
        if (id != 0) text += "]},";  // the previous session's last list
        text += '{';
      }
      std::snprintf(buffer, sizeof buffer, "%s\"list%d\":[", list ? "]," : "", list);
      text += buffer;
    }
    std::snprintf(buffer, sizeof buffer,
                  "%s{\"cellId\":%d,\"championId\":%d,\"summonerId\":%d,\"spell1Id\":4,\"spell2Id\":14,"
                  "\"selectedSkinId\":%d,\"wardSkinId\":-1,\"pickTurn\":%d,",
                  inList ? "," : "", id, 100 + id % 150 * 7, 4000000 + id * 13, (100 + id % 150 * 7) * 1000, id % 5);
    text += buffer;
    std::snprintf(buffer, sizeof buffer,
                  "\"summonerName\":\"player-%06d\",\"assignedPosition\":\"middle\",\"state\":\"in progress\","
                  "\"phase\":\"ban-pick\",\"typeName\":\"pick\",\"pickMode\":\"draft\",",
                  id);
    text += buffer;
    std::snprintf(buffer, sizeof buffer,
                  "\"completed\":%s,\"remainingMs\":%d.5,\"name\":\"record \\\"%d\\\"\",\"current\":[1,2,3],"
                  "\"data\":{\"x\":%d},\"optimisticLock\":%d}",
                  id % 2 ? "true" : "false", 30000 - id % 30000, id, id, id * 3);
    text += buffer;
  }
  text += "]}]}";
  return text;
}

// Block style, as people write YAML by hand; texts double-quoted with JSON's
// escapes, which YAML reads the same way.
void EmitYaml(const nlohmann::json& value, std::size_t indent, std::string& out);

void EmitYamlEntry(const nlohmann::json& value, std::size_t indent, std::string& out) {
  if (value.is_structured() && !value.empty()) {
    out += '\n';
    EmitYaml(value, indent, out);
  } else {
    out += ' ';
    out += value.dump();
    out += '\n';
  }
}

void EmitYaml(const nlohmann::json& value, std::size_t indent, std::string& out) {
  if (value.is_object()) {
    for (const auto& [key, field] : value.items()) {
      out.append(indent, ' ');
      out += key;
      out += ':';
      EmitYamlEntry(field, indent + 2, out);
    }
    return;
  }
  for (const auto& element : value) {
    out.append(indent, ' ');
    out += '-';
    EmitYamlEntry(element, indent + 2, out);
  }
}

struct Inputs {
  std::string json;
  std::vector<std::uint8_t> msgpack;
  std::string yaml;
  Vexa::BindingProperty tree;
  rapidjson::Document document;
  nlohmann::json nlohmann;
};

const Inputs& InputsFor(int records) {
  static std::map<int, Inputs> cache;
  auto [at, added] = cache.try_emplace(records);
  Inputs& in = at->second;
  if (added) {
    in.json = SampleJson(records);
    in.nlohmann = nlohmann::json::parse(in.json);
    in.msgpack = nlohmann::json::to_msgpack(in.nlohmann);
    in.yaml = "---\n";
    EmitYaml(in.nlohmann, 0, in.yaml);
    in.tree = Vexa::ParseJson(in.json);
    in.document.Parse(in.json.c_str());
  }
  return in;
}

const Inputs& In(const benchmark::State& state) { return InputsFor(static_cast<int>(state.range(0))); }

void Bytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// --- JSON

void BM_JsonParse_Ours(benchmark::State& state) {
  const std::string& json = In(state).json;
  ReportPeak(state, json.size(), [&] { return Vexa::ParseJson(json); });
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseJson(json);
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, json.size());
}

rapidjson::Document ParseDocument(const std::string& json) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag>(json.c_str());
  return document;
}

void BM_JsonParse_RapidJsonDom(benchmark::State& state) {
  const std::string& json = In(state).json;
  ReportPeak(state, json.size(), [&] { return ParseDocument(json); });
  for (auto _ : state) {
    rapidjson::Document document = ParseDocument(json);
    benchmark::DoNotOptimize(&document);
  }
  Bytes(state, json.size());
}

// The floor: the same reader, flags and input into a handler that does nothing.
void BM_JsonParse_RapidJsonSaxNull(benchmark::State& state) {
  const std::string& json = In(state).json;
  for (auto _ : state) {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(json.c_str());
    benchmark::DoNotOptimize(reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler));
  }
  Bytes(state, json.size());
}

void BM_JsonParse_Nlohmann(benchmark::State& state) {
  const std::string& json = In(state).json;
  ReportPeak(state, json.size(), [&] { return nlohmann::json::parse(json); });
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::parse(json);
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, json.size());
}

// state.range(1): 0 compact, 1 indented.
void BM_JsonWrite_Ours(benchmark::State& state) {
  const Vexa::BindingProperty& tree = In(state).tree;
  const std::string_view lineBreak = state.range(1) ? "\n" : "";
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = Vexa::ToJson(tree, nullptr, lineBreak);
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  Bytes(state, size);
}

template <typename Writer>
std::size_t WriteDocument(const rapidjson::Document& document) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  document.Accept(writer);
  benchmark::DoNotOptimize(buffer.GetString());
  return buffer.GetSize();
}

void BM_JsonWrite_RapidJson(benchmark::State& state) {
  const rapidjson::Document& document = In(state).document;
  std::size_t size = 0;
  for (auto _ : state) {
    size = state.range(1) ? WriteDocument<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(document)
                          : WriteDocument<rapidjson::Writer<rapidjson::StringBuffer>>(document);
  }
  Bytes(state, size);
}

void BM_JsonWrite_Nlohmann(benchmark::State& state) {
  const nlohmann::json& value = In(state).nlohmann;
  const int indent = state.range(1) ? 4 : -1;
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = value.dump(indent);
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  Bytes(state, size);
}

// --- MessagePack

void BM_MessagePackParse_Ours(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = In(state).msgpack;
  ReportPeak(state, bytes.size(), [&] { return Vexa::ParseMessagePack(bytes); });
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseMessagePack(bytes);
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, bytes.size());
}

void BM_MessagePackParse_MsgpackCxx(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = In(state).msgpack;
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  ReportPeak(state, bytes.size(), [&] { return msgpack::unpack(data, bytes.size()); });
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(data, bytes.size());
    benchmark::DoNotOptimize(&handle);
  }
  Bytes(state, bytes.size());
}

void BM_MessagePackParse_Nlohmann(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = In(state).msgpack;
  ReportPeak(state, bytes.size(), [&] { return nlohmann::json::from_msgpack(bytes); });
  for (auto _ : state) {
    nlohmann::json value = nlohmann::json::from_msgpack(bytes);
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, bytes.size());
}

// --- YAML

void BM_YamlParse_Ours(benchmark::State& state) {
  const std::string& yaml = In(state).yaml;
  ReportPeak(state, yaml.size(), [&] { return Vexa::ParseYaml(yaml); });
  for (auto _ : state) {
    Vexa::BindingProperty value = Vexa::ParseYaml(yaml);
    benchmark::DoNotOptimize(&value);
  }
  Bytes(state, yaml.size());
}

// The floor: libyaml's events alone, created and deleted.
int ReadYamlEvents(const std::string& yaml) {
  yaml_parser_t parser;
  yaml_parser_initialize(&parser);
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(yaml.data()), yaml.size());
  yaml_event_t event;
  bool more = true;
  int events = 0;
  while (more && yaml_parser_parse(&parser, &event)) {
    more = event.type != YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
    ++events;
  }
  yaml_parser_delete(&parser);
  return events;
}

void BM_YamlParse_LibyamlEvents(benchmark::State& state) {
  const std::string& yaml = In(state).yaml;
  ReportPeak(state, yaml.size(), [&] { return ReadYamlEvents(yaml); });
  for (auto _ : state) benchmark::DoNotOptimize(ReadYamlEvents(yaml));
  Bytes(state, yaml.size());
}

void BM_YamlParse_YamlCpp(benchmark::State& state) {
  const std::string& yaml = In(state).yaml;
  ReportPeak(state, yaml.size(), [&] { return YAML::Load(yaml); });
  for (auto _ : state) {
    YAML::Node node = YAML::Load(yaml);
    benchmark::DoNotOptimize(&node);
  }
  Bytes(state, yaml.size());
}

// Records per input: about 4 KB, 4 MB and 40 MB of JSON.
constexpr int kSmall = 10, kMedium = 11000, kLarge = 110000;

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgName("records")->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
}

void WriteSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"records", "indented"})->Unit(benchmark::kMicrosecond);
  for (const int records : {kSmall, kMedium, kLarge})
    for (const int indented : {0, 1}) b->Args({records, indented});
}

}  // namespace

BENCHMARK(BM_JsonParse_Ours)->Apply(Sizes);
BENCHMARK(BM_JsonParse_RapidJsonDom)->Apply(Sizes);
BENCHMARK(BM_JsonParse_RapidJsonSaxNull)->Apply(Sizes);
BENCHMARK(BM_JsonParse_Nlohmann)->Apply(Sizes);
BENCHMARK(BM_JsonWrite_Ours)->Apply(WriteSizes);
BENCHMARK(BM_JsonWrite_RapidJson)->Apply(WriteSizes);
BENCHMARK(BM_JsonWrite_Nlohmann)->Apply(WriteSizes);
BENCHMARK(BM_MessagePackParse_Ours)->Apply(Sizes);
BENCHMARK(BM_MessagePackParse_MsgpackCxx)->Apply(Sizes);
BENCHMARK(BM_MessagePackParse_Nlohmann)->Apply(Sizes);
BENCHMARK(BM_YamlParse_Ours)->Apply(Sizes);
BENCHMARK(BM_YamlParse_LibyamlEvents)->Apply(Sizes);
BENCHMARK(BM_YamlParse_YamlCpp)->Apply(Sizes);

BENCHMARK_MAIN();
