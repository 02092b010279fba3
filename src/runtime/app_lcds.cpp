// Calls to the legacy platform's services and the messages it pushes.
#include "binding/message_format.h"
#include "logging/logger.h"
#include "runtime/app_module.h"

namespace Vexa {

const std::string* AppModule::LcdsClassOf(std::uint32_t typeId) const {
  const auto it = lcdsClassByTypeId_.find(typeId);
  return it == lcdsClassByTypeId_.end() ? nullptr : &it->second;
}

void AppModule::AnnotateLcds(BindingNode& root, const TypeIdentifier& rootType) const {
  // The platform needs the class of every object, however deep; walked with
  // an explicit stack so a deep value cannot exhaust the call stack.
  std::vector<std::pair<BindingNode*, TypeIdentifier>> stack{{&root, rootType}};
  while (!stack.empty()) {
    auto [node, type] = stack.back();
    stack.pop_back();
    const TypeIdentifier element{type.elementCode, BindingTypeCode::None, type.descriptor};
    switch (type.code) {
      case BindingTypeCode::Vector:
        for (BindingNode& item : node->Elements()) stack.emplace_back(&item, element);
        break;
      case BindingTypeCode::Map:
        for (auto field : node->Fields()) stack.emplace_back(&field.value, element);
        break;
      case BindingTypeCode::Struct: {
        if (!type.descriptor || node->GetKind() != BindingKind::Structure) break;
        if (const std::string* className = LcdsClassOf(type.descriptor->id))
          node->Field("__class").SetString(*className);
        for (const BindingFieldDescriptor& field : type.descriptor->fields) {
          if (!node->HasField(field.name)) continue;
          TypeIdentifier fieldType = field.type;
          stack.emplace_back(&node->Field(field.name), fieldType);
        }
        break;
      }
      default:
        break;
    }
  }
}

AppModule::Result<BindingProperty> AppModule::ConvertLcdsArguments(std::vector<BindingProperty> values,
                                                                   std::vector<TypeIdentifier> types) const {
  BindingProperty arguments;
  arguments.MakeCollection();
  arguments.Reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i].IsValid())
      return Failure::Named(0, "Couldn't convert LCDS call parameters: {error}", values[i].FailureMessage());
    BindingNode& argument = arguments.At(static_cast<std::uint32_t>(i));
    argument = std::move(values[i]);
    AnnotateLcds(argument, types[i]);
  }
  return arguments;
}

AppModule::Result<void> AppModule::CallLcds(const std::string& destination, const std::string& method,
                                            BindingProperty arguments, const TypeIdentity& resultType,
                                            RemotingResponse& response, DeliveredValue& body) {
  static constexpr std::string_view kUrl = "/tov-login/v1/session/invoke";
  Result<void> sent = RawRequest(RemotingMethod::Post, kUrl, response, destination, method, arguments);
  if (!sent) return sent;
  const auto unconvertible = [&](std::string_view error) {
    return Failure::Named(0, "Error converting response for {method} {url}: {error}", MethodName(RemotingMethod::Post),
                          kUrl, error);
  };
  PluginLcdsResponse answer;
  BindingProperty result;
  if (response.streamRead) {
    Result<BindingProperty> tree = ResponseBody(RemotingMethod::Post, kUrl, response);
    if (!tree) return std::move(tree).Error();
    answer = FromBinding<PluginLcdsResponse>(result, tree.Value(), "<result>", *registry_);
    if (!result.IsValid()) return unconvertible(result.FailureMessage());
    body = DeliveredValue(std::move(answer.body));
  } else {
    // The body is read straight from the core's answer by whoever converts it.
    std::string error;
    if (!HostValueConvertible(response.body, "<result>", error)) return unconvertible(error);
    const HostValueInput value(response.body);
    StructFromBinding(result, value, "<result>", &answer, registry_->FindType(TypeIdentity::Of<PluginLcdsResponse>()),
                      *registry_, "body");
    if (!result.IsValid()) return unconvertible(result.FailureMessage());
    body = DeliveredValue(value.Find("body"));
  }
  const std::string* expected = LcdsClassOf(resultType.Id());
  if (expected && *expected != answer.typeName) {
    return Failure::Named(0, "Expected '{expected}' as LCDS response for {destination}.{method}, but got '{actual}'",
                          *expected, destination, method, answer.typeName);
  }
  return {};
}

void AppModule::DroppedLcds(const char* typeName, const BindingNode& body) const {
  // The body is the platform's, of any size: the line shows its start.
  Logging::Log(Logging::kWarn, Logging::kGroupDbg, "%s: Couldn't convert LCDS DTO %s to C++ from %.1000s",
               shortName_.c_str(), typeName, ToJson(body).c_str());
}

void AppModule::AddLcdsHandler(const std::string& className, LcdsHandler handler) {
  lcdsHandlers_[className] = std::move(handler);
  const std::string name = LcdsEventName(className);
  // A second subscription to the class replaces the handler only.
  if (eventHandlers_.count(name)) return;
  AddEventHandler<PluginLcdsEvent>(name, 1, [this](PluginLcdsEvent& event) { DispatchLcds(event); });
}

void AppModule::DispatchLcds(PluginLcdsEvent& event) {
  if (!lcdsHandlers_.count(event.typeName)) return;
  // Never handled inside the core's delivery: on a later turn, in order.
  const std::string label = Format("Event: OnLcdsEvent (%1)", event.typeName.c_str());
  Schedule(label,
           [this, message = std::move(event)]() mutable {
             const auto it = lcdsHandlers_.find(message.typeName);
             if (it == lcdsHandlers_.end()) return;
             const LcdsHandler handler = it->second;
             (*handler)(message);
           },
           MonotonicNanos());
}

}  // namespace Vexa
