// Building, copying, moving and destroying a tree shaped like a platform game
// message, against nlohmann::json and a RapidJSON Document with its pool.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include "binding/property.h"
#include "binding/storage.h"

namespace {

// 20 fields per record (10 texts, 10 numbers), 10 records per list; 474
// lists under one root give 100,015 nodes.
constexpr int kFields = 20;
constexpr int kRecords = 10;
constexpr int kNodesPerList = 1 + kRecords * (1 + kFields);

const std::array<const char*, kFields> kNames = {
    "summonerName", "championId", "state", "phase", "typeName", "spell1Id", "name", "spell2Id", "pickMode",
    "selectedSkinId", "gameState", "wardSkinId", "displayName", "cellId", "assignedPosition", "pickTurn",
    "playerType", "summonerId", "championPickIntent", "summonerLevel"};

// Values prepared once so that every peer copies the same bytes.
struct Inputs {
  std::vector<std::string> texts;
  std::vector<std::string> listNames;
  std::vector<std::uint64_t> numbers;

  explicit Inputs(int lists) {
    char buffer[64];
    for (int i = 0; i < 997; ++i) {
      std::snprintf(buffer, sizeof buffer, "player-%04d-%08x", i, static_cast<unsigned>(i * 2654435761u));
      texts.emplace_back(buffer);
    }
    for (int i = 0; i < lists; ++i) listNames.push_back("list" + std::to_string(i));
    for (int i = 0; i < 1009; ++i) numbers.push_back(static_cast<std::uint64_t>(i) * 7919u);
  }
};

int ListsFor(int nodes) { return nodes / kNodesPerList > 0 ? nodes / kNodesPerList : 1; }

const Inputs& InputsFor(int nodes) {
  static const Inputs small(ListsFor(1000));
  static const Inputs large(ListsFor(100000));
  return nodes <= 1000 ? small : large;
}

// `field(record, f)` gives the record's field of the fth name; `sized`
// reserves each record's fields first.
template <typename FieldOf>
void BuildRecords(Vexa::BindingNode& root, const Inputs& in, bool sized, FieldOf field) {
  std::size_t k = 0;
  root.MakeStructure();
  for (const std::string& listName : in.listNames) {
    Vexa::BindingNode& list = root.Field(listName);
    list.MakeCollection();
    list.Reserve(kRecords);
    for (int r = 0; r < kRecords; ++r) {
      Vexa::BindingNode& record = list.At(static_cast<std::uint32_t>(r));
      if (sized) {
        record.MakeStructure();
        record.Reserve(kFields);
      }
      for (int f = 0; f < kFields; ++f, ++k) {
        if (f % 2 == 0) {
          field(record, f).SetString(in.texts[k % in.texts.size()]);
        } else {
          field(record, f).SetUnsigned(in.numbers[k % in.numbers.size()]);
        }
      }
    }
  }
}

void Build(Vexa::BindingNode& root, const Inputs& in) {
  BuildRecords(root, in, false, [](Vexa::BindingNode& record, int f) -> Vexa::BindingNode& {
    return record.Field(kNames[f]);
  });
}

// As a builder of records of one shape would: each name placed where it went
// in the record before.
struct HintedBinding : Vexa::BindingProperty {};

void Build(HintedBinding& root, const Inputs& in) {
  std::array<Vexa::BindingFieldHint, kFields> hints{};
  BuildRecords(root, in, true, [&hints](Vexa::BindingNode& record, int f) -> Vexa::BindingNode& {
    return record.Field(kNames[f], hints[f]);
  });
}

void Build(nlohmann::json& root, const Inputs& in) {
  std::size_t k = 0;
  root = nlohmann::json::object();
  for (const std::string& listName : in.listNames) {
    nlohmann::json& list = root[listName] = nlohmann::json::array();
    for (int r = 0; r < kRecords; ++r) {
      nlohmann::json record = nlohmann::json::object();
      for (int f = 0; f < kFields; ++f, ++k) {
        if (f % 2 == 0) {
          record[kNames[f]] = in.texts[k % in.texts.size()];
        } else {
          record[kNames[f]] = in.numbers[k % in.numbers.size()];
        }
      }
      list.push_back(std::move(record));
    }
  }
}

void Build(rapidjson::Document& root, const Inputs& in) {
  std::size_t k = 0;
  auto& allocator = root.GetAllocator();
  root.SetObject();
  for (const std::string& listName : in.listNames) {
    rapidjson::Value list(rapidjson::kArrayType);
    list.Reserve(kRecords, allocator);
    for (int r = 0; r < kRecords; ++r) {
      rapidjson::Value record(rapidjson::kObjectType);
      for (int f = 0; f < kFields; ++f, ++k) {
        rapidjson::Value value;
        if (f % 2 == 0) {
          const std::string& text = in.texts[k % in.texts.size()];
          value.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
        } else {
          value.SetUint64(in.numbers[k % in.numbers.size()]);
        }
        record.AddMember(rapidjson::StringRef(kNames[f]), value, allocator);
      }
      list.PushBack(record, allocator);
    }
    rapidjson::Value name(listName.data(), static_cast<rapidjson::SizeType>(listName.size()), allocator);
    root.AddMember(name, list, allocator);
  }
}

template <typename Tree>
void BM_BuildAndDestroy(benchmark::State& state) {
  const Inputs& in = InputsFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Tree tree;
    Build(tree, in);
    benchmark::DoNotOptimize(&tree);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(in.listNames.size()) * kNodesPerList);
}

// Bytes held per node while one 100k-node tree is alive: heap in use plus the
// page provider's 64 KiB regions (which bypass malloc).
template <typename Tree>
void BM_BytesPerNode(benchmark::State& state) {
  const Inputs& in = InputsFor(100000);
  const double nodes = static_cast<double>(in.listNames.size()) * kNodesPerList;
  double bytes = 0;
  for (auto _ : state) {
    const struct mallinfo2 before = mallinfo2();
    const std::size_t regionsBefore = Vexa::BindingPageProvider::Process().RegionCount();
    {
      Tree tree;
      Build(tree, in);
      const struct mallinfo2 after = mallinfo2();
      const std::size_t regions = Vexa::BindingPageProvider::Process().RegionCount() - regionsBefore;
      bytes = static_cast<double>(after.uordblks - before.uordblks + after.hblkhd - before.hblkhd) +
              static_cast<double>(regions) * 65536.0;
      benchmark::DoNotOptimize(&tree);
    }
  }
  state.counters["bytes_per_node"] = bytes / nodes;
}

void BM_DeepCopy_Binding(benchmark::State& state) {
  Vexa::BindingProperty source;
  Build(source, InputsFor(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    Vexa::BindingProperty copy(source);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_DeepCopy_Nlohmann(benchmark::State& state) {
  nlohmann::json source;
  Build(source, InputsFor(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    nlohmann::json copy(source);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_DeepCopy_RapidJson(benchmark::State& state) {
  rapidjson::Document source;
  Build(source, InputsFor(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    rapidjson::Document copy;
    copy.CopyFrom(source, copy.GetAllocator());
    benchmark::DoNotOptimize(&copy);
  }
}

// Two moves per iteration, so the tree ends where it started; the time must
// not depend on the tree's size.
void BM_RootMove_Binding(benchmark::State& state) {
  Vexa::BindingProperty a;
  Vexa::BindingProperty b;
  Build(a, InputsFor(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    b = std::move(a);
    a = std::move(b);
    benchmark::DoNotOptimize(&a);
  }
}

}  // namespace

BENCHMARK(BM_BuildAndDestroy<Vexa::BindingProperty>)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildAndDestroy<HintedBinding>)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildAndDestroy<nlohmann::json>)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildAndDestroy<rapidjson::Document>)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BytesPerNode<Vexa::BindingProperty>)->Iterations(3);
BENCHMARK(BM_BytesPerNode<nlohmann::json>)->Iterations(3);
BENCHMARK(BM_BytesPerNode<rapidjson::Document>)->Iterations(3);
BENCHMARK(BM_DeepCopy_Binding)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeepCopy_Nlohmann)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeepCopy_RapidJson)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RootMove_Binding)->Arg(1000)->Arg(100000);

BENCHMARK_MAIN();
