// The records through which the core learns the plug-in's functions, types
// and events. Built once from the registry and kept, with every text and
// list they point at, for the plug-in's life.
#include <deque>

#include "remoting/remoting.h"

namespace Vexa {

struct Remoting::ExportStorage {
  std::deque<std::string> texts;
  std::deque<std::vector<const char*>> textArrays;
  std::deque<std::vector<PluginArgumentDescription>> arguments;
  std::deque<std::vector<PluginArgumentLocationEntry>> locations;
  std::deque<std::vector<PluginTextListEntry>> textLists;
  std::deque<std::vector<PluginMemberDescription>> members;
  std::vector<PluginFunctionRecord> functions;
  std::vector<PluginTypeDescription> types;
  std::vector<PluginEventDescription> events;
  ApiDescription description{};

  const char* Text(std::string_view text) { return texts.emplace_back(text).c_str(); }
  const char* const* Texts(const std::vector<std::string>& list) {
    auto& array = textArrays.emplace_back();
    for (const std::string& text : list) array.push_back(Text(text));
    return array.empty() ? nullptr : array.data();
  }
  const char* TypeName(const TypeIdentifier& type) { return Text(type.descriptor ? type.descriptor->name : ""); }
};

Remoting::Remoting(BindingRegistry& registry) : registry_(registry) {}
Remoting::~Remoting() = default;

const ApiDescription* Remoting::Export() {
  std::lock_guard lock(mutex_);
  if (export_) return &export_->description;
  auto storage = std::make_unique<ExportStorage>();
  ExportStorage& s = *storage;
  s.functions.reserve(order_.size());
  for (RouteInfo* route : order_) {
    const BindingFunctionDescriptor& function = *route->function;
    PluginFunctionRecord record{};
    PluginFunctionDescription& d = record.description;
    d.nameSpace = s.Text(function.nameSpace);
    d.argumentCount = static_cast<std::uint32_t>(function.arguments.size());
    d.context = route;
    d.name = s.Text(function.name);
    d.description = s.Text(function.description);
    d.help = s.Text(function.help);
    auto& arguments = s.arguments.emplace_back();
    auto& locations = s.locations.emplace_back(function.arguments.size());
    for (std::size_t i = 0; i < function.arguments.size(); ++i) {
      const BindingArgumentDescriptor& argument = function.arguments[i];
      const auto location = static_cast<std::uint32_t>(i < route->locations.size() ? route->locations[i]
                                                                                  : ArgumentLocation::Any);
      const std::uint32_t exported = location >= 1 && location <= 5 ? location : 0;
      arguments.push_back({s.Text(argument.name), s.Text(argument.description),
                           static_cast<std::uint8_t>(argument.type.code),
                           static_cast<std::uint8_t>(argument.type.elementCode),
                           static_cast<std::uint8_t>(argument.optional), static_cast<std::uint8_t>(exported)});
      locations[i] = {i + 1 < locations.size() ? &locations[i + 1] : nullptr, exported};
    }
    d.arguments = arguments.empty() ? nullptr : arguments.data();
    d.returnTypeCode = static_cast<std::uint32_t>(function.returnType.code);
    d.returnElementTypeCode = static_cast<std::uint32_t>(function.returnType.elementCode);
    d.returnTypeName = s.TypeName(function.returnType);
    d.tags = s.Texts(function.tags);
    d.tagCount = static_cast<std::uint32_t>(function.tags.size());
    d.threadSafe = function.threadSafe;
    d.isAsync = function.async;
    record.dispatch = &Remoting::Dispatch;
    record.locations = locations.empty() ? nullptr : locations.data();
    record.pathTemplate = s.Text(route->pathTemplate);
    const auto method = static_cast<std::uint32_t>(route->method);
    record.method = method >= 1 && method <= 8 ? method : 0;
    record.flag = route->flag;
    auto& lists = s.textLists.emplace_back(route->textLists.size());
    for (std::size_t i = 0; i < lists.size(); ++i) {
      lists[i] = {i + 1 < lists.size() ? &lists[i + 1] : nullptr, s.Texts(route->textLists[i]),
                  static_cast<std::uint32_t>(route->textLists[i].size())};
    }
    record.textLists = lists.empty() ? nullptr : lists.data();
    record.textListCount = static_cast<std::uint32_t>(lists.size());
    record.customMethod = s.Text(route->customMethod);
    s.functions.push_back(record);
  }
  for (const BindingTypeDescriptor* type : registry_.Types()) {
    auto& members = s.members.emplace_back();
    if (type->isEnum) {
      for (const auto& [name, enumerator] : type->enumerators)
        members.push_back({s.Text(name), s.Text(enumerator.description), 0, 0, s.Text(""), enumerator.value, 0});
    } else {
      for (const BindingFieldDescriptor& field : type->fields) {
        members.push_back({s.Text(field.name), s.Text(field.description), static_cast<std::uint32_t>(field.type.code),
                           static_cast<std::uint32_t>(field.type.elementCode), s.TypeName(field.type),
                           static_cast<std::int32_t>(field.offset), static_cast<std::uint8_t>(field.optional)});
      }
    }
    s.types.push_back({s.Text(type->name), s.Text(type->nameSpace), s.Text(type->description), type->nativeSize,
                       static_cast<std::uint8_t>(type->isEnum), members.empty() ? nullptr : members.data(),
                       static_cast<std::uint32_t>(members.size())});
  }
  for (const BindingEventDescriptor& event : registry_.Events()) {
    s.events.push_back({s.Text(event.name), s.Text(event.description),
                        static_cast<std::uint32_t>(event.payloadType.code), s.TypeName(event.payloadType)});
  }
  s.description = ApiDescription{s.functions.empty() ? nullptr : s.functions.data(),
                                 static_cast<std::uint32_t>(s.functions.size()),
                                 s.types.empty() ? nullptr : s.types.data(), static_cast<std::uint32_t>(s.types.size()),
                                 s.events.empty() ? nullptr : s.events.data(),
                                 static_cast<std::uint32_t>(s.events.size())};
  export_ = std::move(storage);
  return &export_->description;
}

}  // namespace Vexa
