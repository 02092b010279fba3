// Request paths, queries, headers and bodies against a few routes of every
// parameter kind: the input is "METHOD\nURL\nCONTENT-TYPE\nHEADER\nBODY".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/remoting.h"

namespace {

using namespace Vexa;

struct Item {
  std::int64_t id = 0;
  std::vector<std::string> tags;
  std::optional<bool> on;
};

struct Routes {
  BindingRegistry registry;
  Remoting remoting{registry};
  std::vector<RouteInfo*> routes;
  Routes() {
    RegisterStruct<Item>(registry, "Item").Field("id", &Item::id).Field("tags", &Item::tags).Field("on", &Item::on);
    routes.push_back(&remoting
                          .AddRoute(RemotingMethod::Patch, "/v1/items/{id}",
                                    [](std::int64_t id, Item item, std::optional<std::vector<std::int64_t>> list,
                                       bool flag, std::optional<std::string> note) {
                                      return id + item.id + (list ? 1 : 0) + flag + (note ? 1 : 0);
                                    })
                          .PathArgument("id")
                          .BodyArgument("item")
                          .Argument("list")
                          .Argument("flag")
                          .Argument("note")
                          .Route());
    routes.push_back(&remoting
                          .AddRoute(RemotingMethod::Get, "/v1/files/{+path}.{ext}",
                                    [](std::string path, std::string ext, std::optional<BindingProperty> any) {
                                      return path + ext + (any ? "!" : "");
                                    })
                          .PathArgument("path")
                          .PathArgument("ext")
                          .Argument("any")
                          .Route());
    routes.push_back(&remoting.AddRoute(RemotingMethod::None, "/v1/page{#frag}", [](std::string frag) { return frag; })
                          .PathArgument("frag")
                          .Route());
  }
};

std::string_view Line(std::string_view& input) {
  const std::size_t end = input.find('\n');
  const std::string_view line = input.substr(0, end);
  input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Routes routes;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string method(Line(input)), url(Line(input)), contentType(Line(input)), header(Line(input));
  const std::string body(input);
  const std::size_t colon = header.find(':');
  const std::string headerName = header.substr(0, colon), headerValue = colon == std::string::npos ? "" : header.substr(colon + 1);
  const HostHeader headers[] = {{headerName.c_str(), headerValue.c_str()}};
  RemotingRequest request{};
  request.method = method.empty() ? 0 : static_cast<std::uint8_t>(method[0]) % 10;
  request.url = url.c_str();
  request.contentType = contentType.c_str();
  request.headers = headers;
  request.headerCount = 1;
  request.body = body.empty() ? nullptr : body.data();
  request.bodyLength = static_cast<std::uint32_t>(body.size());
  for (RouteInfo* route : routes.routes) {
    RemotingResponse response{};
    Remoting::Dispatch(route, &response, &request);
    if (response.release) response.release(&response);
  }
  return 0;
}
