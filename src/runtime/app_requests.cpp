// Requests to the core: the request record, the failure texts, and the body
// of the response, streamed or whole.
#include <algorithm>

#include "runtime/app_module.h"

namespace Vexa {
namespace {

constexpr std::uint32_t kStreamChunk = 4096;
// An announced size is only a hint: it may not make one response reserve
// more than this up front.
constexpr std::uint32_t kMaxStreamReservation = 1u << 20;

}  // namespace

AppModule::Result<void> AppModule::SendRequest(RemotingMethod method, std::string_view url,
                                               std::vector<HostValue>& args, RemotingResponse& response,
                                               const std::string& conversionError) {
  if (!conversionError.empty()) {
    return Failure::Named(400, "Request not sent: Error converting parameters for {method} {url}: {error}",
                          MethodName(method), url, conversionError);
  }
  std::vector<HostNamedValue> named(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) named[i] = HostNamedValue{nullptr, args[i]};
  const std::string urlText(url);
  RemotingRequest request{};
  request.method = MethodCode(method);
  request.url = urlText.c_str();
  request.args = named.data();
  request.argCount = static_cast<std::uint32_t>(named.size());
  request.requestWord = coreHandle_;
  Request(&response, &request);
  if (response.error) {
    return Failure::Named(response.status, "Error response for {method} {url}: {error}", MethodName(method), url,
                          response.error);
  }
  return {};
}

AppModule::Result<BindingProperty> AppModule::ResponseBody(RemotingMethod method, std::string_view url,
                                                           RemotingResponse& response) {
  if (response.streamRead) {
    std::string text;
    const std::uint32_t hint = response.streamSizeHint;  // a packed field: read by value
    text.reserve(std::min(hint, kMaxStreamReservation));
    std::string error;
    char buffer[kStreamChunk];
    for (;;) {
      std::uint32_t count = kStreamChunk;
      std::uint8_t more = 0;
      if (!response.streamRead(response.stream, buffer, &count, &more)) {
        error = "Stream read error";
        break;
      }
      text.append(buffer, std::min(count, kStreamChunk));
      if (count >= kStreamChunk) continue;
      if (!more) break;
      Yield();  // the rest comes later: let the core work meanwhile
    }
    if (response.streamClose) response.streamClose(response.stream);
    BindingProperty body;
    if (error.empty()) {
      body = ParseJson(text);
      if (!body.IsValid()) error = std::string(body.FailureMessage());
    }
    if (!error.empty()) {
      return Failure::Named(0, "Error reading streamed response for {method} {url}: {error}", MethodName(method), url,
                            error);
    }
    return body;
  }
  BindingProperty body;
  std::string error;
  if (!HostValueToBinding(response.body, body, "<result>", error)) {
    return Failure::Named(0, "Error converting response for {method} {url}: {error}", MethodName(method), url, error);
  }
  return body;
}

}  // namespace Vexa
