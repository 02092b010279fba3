// The core's side of a call into the plug-in: pick the function record for
// a method and path, and hand the request to its dispatch entry.
#include <cstring>
#include <string_view>

#include "core/core.h"

namespace TovHost {
namespace {

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  for (std::size_t i = 0; i <= path.size();) {
    const std::size_t end = std::min(path.find('/', i), path.size());
    segments.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  return segments;
}

// -1 when the template does not fit, else how many segments matched literally.
int Fit(std::string_view pathTemplate, std::string_view path) {
  const auto wanted = Segments(pathTemplate), given = Segments(path);
  int literal = 0;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const std::string_view w = wanted[i];
    if (w.starts_with("{+") && w.ends_with("}")) return i < given.size() ? literal : -1;
    if (i >= given.size()) return -1;
    if (w.starts_with("{") && w.ends_with("}")) continue;
    if (w != given[i]) return -1;
    ++literal;
  }
  return wanted.size() == given.size() ? literal : -1;
}

}  // namespace

uint32_t MethodCode(const std::string& name) {
  for (uint32_t code = 1; code <= 7; ++code)
    if (name == MethodName(code)) return code;
  return 0;
}

const PluginFunctionRecord* Core::Route(uint32_t method, const std::string& url) const {
  if (!pluginApi_) return nullptr;
  const std::string_view path = std::string_view(url).substr(0, url.find('?'));
  const PluginFunctionRecord* best = nullptr;
  int bestFit = -1;
  for (uint32_t i = 0; i < pluginApi_->functionCount; ++i) {
    const PluginFunctionRecord& record = pluginApi_->functions[i];
    if (record.method != 0 && record.method != method) continue;
    const int fit = Fit(record.pathTemplate ? record.pathTemplate : "", path);
    if (fit > bestFit) best = &record, bestFit = fit;
  }
  return best;
}

Core::CallResult Core::Call(uint32_t method, const std::string& url, const std::string& body,
                            const std::string& contentType,
                            const std::vector<std::pair<std::string, std::string>>& headers) {
  if (onCall) onCall(method, url, body, contentType, headers);
  CallResult result;
  const PluginFunctionRecord* record = Route(method, url);
  if (!record || !record->dispatch) {
    result.status = 404;
    result.error = std::string("No plug-in function for ") + MethodName(method) + " " + url;
    return result;
  }
  result.routed = true;
  std::vector<HostHeader> hostHeaders;
  for (const auto& [name, value] : headers) hostHeaders.push_back({name.c_str(), value.c_str()});
  RemotingRequest request{};
  request.method = method;
  request.url = url.c_str();
  request.headers = hostHeaders.empty() ? nullptr : hostHeaders.data();
  request.headerCount = static_cast<uint32_t>(hostHeaders.size());
  request.body = body.empty() ? nullptr : body.data();
  request.bodyLength = static_cast<uint32_t>(body.size());
  request.contentType = body.empty() ? nullptr : contentType.c_str();
  request.requestWord = handle_;
  RemotingResponse response{};
  record->dispatch(record->description.context, &response, &request);
  result.status = response.status;
  if (response.error) result.error = response.error;
  if (response.contentType) result.contentType = response.contentType;
  for (uint32_t i = 0; response.headers && i < response.headerCount; ++i) {
    const HostHeader& header = response.headers[i];
    result.headers.emplace_back(header.name ? header.name : "", header.value ? header.value : "");
  }
  if (response.streamRead) {
    char buffer[4096];
    for (int reads = 0; reads < 1 << 20; ++reads) {  // a stream that never ends is cut off
      uint32_t count = sizeof buffer;
      uint8_t more = 0;
      if (!response.streamRead(response.stream, buffer, &count, &more)) break;
      result.bodyJson.append(buffer, std::min<uint32_t>(count, sizeof buffer));
      if (!more) break;
    }
    if (response.streamClose) response.streamClose(response.stream);
  } else if (!response.error) {
    result.bodyJson = HostValueToJson(response.body);
  }
  if (response.release) response.release(&response);
  return result;
}

}  // namespace TovHost
