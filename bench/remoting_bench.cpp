// Dispatch of one request against matching its path alone, and the cost of
// matching as paths grow.
#include <benchmark/benchmark.h>

#include <optional>
#include <regex>
#include <string>

#include "remoting/remoting.h"

namespace {

using namespace Vexa;

constexpr const char* kTemplate = "/tov-vover-orevid-aredez/v1/session/{group}/items/{item}";
constexpr const char* kPath = "/tov-vover-orevid-aredez/v1/session/12/items/sword";
constexpr const char* kUrl = "/tov-vover-orevid-aredez/v1/session/12/items/sword?count=3&note=hello%20there&sorted";

void BM_DispatchTwoPathParametersAndQuery(benchmark::State& state) {
  BindingRegistry registry;
  Remoting remoting(registry);
  RouteInfo& route = remoting
                         .AddRoute(RemotingMethod::Get, kTemplate,
                                   [](std::int64_t group, std::string item, std::optional<std::int64_t> count,
                                      std::optional<std::string> note, bool sorted) {
                                     return group + static_cast<std::int64_t>(item.size()) + count.value_or(0) +
                                            static_cast<std::int64_t>(note ? note->size() : 0) + sorted;
                                   })
                         .PathArgument("group")
                         .PathArgument("item")
                         .Argument("count")
                         .Argument("note")
                         .Argument("sorted")
                         .Route();
  RemotingRequest request{};
  request.method = 2;
  request.url = kUrl;
  for (auto _ : state) {
    RemotingResponse response{};
    Remoting::Dispatch(&route, &response, &request);
    benchmark::DoNotOptimize(response.body.u.int64);
    response.release(&response);
  }
}
BENCHMARK(BM_DispatchTwoPathParametersAndQuery);

void BM_StdRegexMatchOfThePath(benchmark::State& state) {
  const std::regex regex(PathTemplateToRegex(kTemplate).text, std::regex::ECMAScript);
  std::cmatch match;
  for (auto _ : state) benchmark::DoNotOptimize(std::regex_match(kPath, match, regex));
}
BENCHMARK(BM_StdRegexMatchOfThePath);

void BM_OurMatchOfThePath(benchmark::State& state) {
  const PathMatcher matcher(kTemplate);
  std::vector<std::string_view> captures;
  for (auto _ : state) benchmark::DoNotOptimize(matcher.Match(kPath, captures));
}
BENCHMARK(BM_OurMatchOfThePath);

void BM_LiteralCompareFloor(benchmark::State& state) {
  const std::string expected = kPath, given = kPath;
  for (auto _ : state) {
    benchmark::DoNotOptimize(expected == given);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LiteralCompareFloor);

void BM_MatchByPathLength(benchmark::State& state) {
  const PathMatcher matcher("/trades/{id}/items/{+rest}");
  const std::string path = "/trades/" + std::string(static_cast<std::size_t>(state.range(0)), 'x') + "/items/a/b";
  std::vector<std::string_view> captures;
  for (auto _ : state) benchmark::DoNotOptimize(matcher.Match(path, captures));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * path.size()));
}
BENCHMARK(BM_MatchByPathLength)->RangeMultiplier(8)->Range(10, 1 << 20);

}  // namespace

BENCHMARK_MAIN();
