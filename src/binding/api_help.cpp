#include "binding/api_help.h"

#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>

#include "binding/conversion.h"
#include "binding/registration.h"

namespace Vexa {

void RegisterBuiltinTypes(BindingRegistry& registry) {
  constexpr const char* kBuiltin = "$builtin";
  constexpr const char* kHelp = "help";
  constexpr const char* kAsync = "async";

  RegisterEnum<BindingHelpFormat>(registry, "BindingHelpFormat")
      .Value("Full", BindingHelpFormat::Full, "Native help format")
      .Value("Epytext", BindingHelpFormat::Epytext, "Python epytext format")
      .Description("Help format for binding functions and types.")
      .Tags(kBuiltin, kHelp);

  // Each nested help type comes before the types that use it, so that their
  // fields find its descriptor.
  RegisterStruct<BindingFullTypeIdentifier>(registry, "BindingFullTypeIdentifier")
      .Field("type", &BindingFullTypeIdentifier::type)
      .Field("elementType", &BindingFullTypeIdentifier::elementType)
      .Description("Describes the type of a value.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullArgumentHelp>(registry, "BindingFullArgumentHelp")
      .Field("name", &BindingFullArgumentHelp::name)
      .Field("description", &BindingFullArgumentHelp::description)
      .Field("type", &BindingFullArgumentHelp::type)
      .Field("optional", &BindingFullArgumentHelp::optional)
      .Description("Describes a function parameter.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullFunctionHelp>(registry, "BindingFullFunctionHelp")
      .Field("name", &BindingFullFunctionHelp::name)
      .Field("nameSpace", &BindingFullFunctionHelp::nameSpace)
      .Field("arguments", &BindingFullFunctionHelp::arguments)
      .Field("returns", &BindingFullFunctionHelp::returns)
      .Field("description", &BindingFullFunctionHelp::description)
      .Field("help", &BindingFullFunctionHelp::help)
      .Field("threadSafe", &BindingFullFunctionHelp::threadSafe)
      .Field("async", &BindingFullFunctionHelp::async)
      .Field("tags", &BindingFullFunctionHelp::tags)
      .Description("Describes a function.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullEnumValueHelp>(registry, "BindingFullEnumValueHelp")
      .Field("name", &BindingFullEnumValueHelp::name)
      .Field("description", &BindingFullEnumValueHelp::description)
      .Field("value", &BindingFullEnumValueHelp::value)
      .Description("Describes an enumerator.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullFieldHelp>(registry, "BindingFullFieldHelp")
      .Field("name", &BindingFullFieldHelp::name)
      .Field("description", &BindingFullFieldHelp::description)
      .Field("offset", &BindingFullFieldHelp::offset)
      .Field("type", &BindingFullFieldHelp::type)
      .Field("optional", &BindingFullFieldHelp::optional)
      .Description("Describes a member of a struct.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullTypeHelp>(registry, "BindingFullTypeHelp")
      .Field("name", &BindingFullTypeHelp::name)
      .Field("nameSpace", &BindingFullTypeHelp::nameSpace)
      .Field("size", &BindingFullTypeHelp::size)
      .Field("description", &BindingFullTypeHelp::description)
      .Field("tags", &BindingFullTypeHelp::tags)
      .Field("fields", &BindingFullTypeHelp::fields)
      .Field("values", &BindingFullTypeHelp::values)
      .Description("Describes a struct or enum type.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullEventHelp>(registry, "BindingFullEventHelp")
      .Field("name", &BindingFullEventHelp::name)
      .Field("nameSpace", &BindingFullEventHelp::nameSpace)
      .Field("type", &BindingFullEventHelp::type)
      .Field("description", &BindingFullEventHelp::description)
      .Field("tags", &BindingFullEventHelp::tags)
      .Description("Describes an event.")
      .Tags(kBuiltin, kHelp);
  RegisterStruct<BindingFullApiHelp>(registry, "BindingFullApiHelp")
      .Field("functions", &BindingFullApiHelp::functions)
      .Field("types", &BindingFullApiHelp::types)
      .Field("events", &BindingFullApiHelp::events)
      .Description("Describes the exposed native API.")
      .Tags(kBuiltin, kHelp);

  RegisterEnum<BindingAsyncState>(registry, "BindingAsyncState")
      .Value("None", BindingAsyncState::None, "Invalid state")
      .Value("Running", BindingAsyncState::Running, "The operation is in flight")
      .Value("Cancelling", BindingAsyncState::Cancelling, "A request to cancel the operation has been made")
      .Value("Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled")
      .Value("Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully")
      .Value("Failed", BindingAsyncState::Failed, "The operation encountered an error")
      .Description("Possible states of an asynchronous operation.")
      .Tags(kBuiltin, kAsync);
  RegisterStruct<BindingGenericAsyncEvent>(registry, "BindingGenericAsyncEvent")
      .Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token")
      .Field("data", &BindingGenericAsyncEvent::data, "Event data")
      .Description("Represents generic data for an asynchronous event.")
      .Tags(kBuiltin, kAsync);
  RegisterStruct<BindingAsyncFailureEvent>(registry, "BindingAsyncFailureEvent")
      .Field("asyncToken", &BindingAsyncFailureEvent::asyncToken, "Asynchronous operation token")
      .Field("error", &BindingAsyncFailureEvent::error, "Error message")
      .Description("Represents a failed asynchronous operation.")
      .Tags(kBuiltin, kAsync);
  RegisterStruct<BindingAsyncCancelEvent>(registry, "BindingAsyncCancelEvent")
      .Field("asyncToken", &BindingAsyncCancelEvent::asyncToken, "Asynchronous operation token")
      .Description("Represents a cancelled asynchronous operation.")
      .Tags(kBuiltin, kAsync);

  RegisterStruct<BindingGenericEvent>(registry, "BindingGenericEvent")
      .Field("data", &BindingGenericEvent::data, "Event data")
      .Description("Represents generic data for an event.")
      .Tags(kBuiltin);
  RegisterStruct<BindingCallbackEvent>(registry, "BindingCallbackEvent")
      .Field("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .Field("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .Description("Represents the parameters of a call to a provided callback.")
      .Tags(kBuiltin);

  (void)registry.RegisterEvent("OnCallback", TypeIdentifierFor<BindingCallbackEvent>(registry),
                               "Fired when a callback is invoked.", {kBuiltin});
}

// ---- Type texts ------------------------------------------------------------

namespace {

bool IsContainer(BindingTypeCode code) { return code == BindingTypeCode::Vector || code == BindingTypeCode::Map; }
bool IsNamedType(BindingTypeCode code) { return code == BindingTypeCode::Enum || code == BindingTypeCode::Struct; }

// The container's element as an identifier of its own; the container keeps
// only the element's code, so any deeper nesting is not known here.
TypeIdentifier ElementOf(const TypeIdentifier& type) { return {type.elementCode, BindingTypeCode::None, type.descriptor}; }

std::string TypeText(const TypeIdentifier& type) {
  if (IsNamedType(type.code)) return type.descriptor ? type.descriptor->name : BindingTypeCodeName(type.code);
  return BindingTypeCodeName(type.code);
}

std::string EpytextContainer(BindingTypeCode code, const std::string& element) {
  return (code == BindingTypeCode::Vector ? "list[" : "dict[") + element + "]";
}

// A field also records its element's whole identifier, which keeps one more
// level of nesting than the field's own type: a vector of vectors of text is
// "list[list[string]]" rather than "list[list[]]".
std::string FieldEpytextType(const BindingFieldDescriptor& field) {
  if (IsContainer(field.type.code) && field.elementType.code != BindingTypeCode::None)
    return EpytextContainer(field.type.code, EpytextType(field.elementType));
  return EpytextType(field.type);
}

std::string JoinedTags(const std::vector<std::string>& tags) {
  std::string joined;
  for (const std::string& tag : tags) {
    if (!joined.empty()) joined += ',';
    joined += tag;
  }
  return joined;
}

void AppendParagraph(std::string& text, std::string_view paragraph) {
  if (paragraph.empty()) return;
  text += EscapeEpytext(paragraph);
  text += "\r\n\r\n";
}

void AppendTags(std::string& text, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  text += "@tags: ";
  text += JoinedTags(tags);
  text += "\r\n";
}

}  // namespace

BindingFullTypeIdentifier TypeIdentifierText(const TypeIdentifier& type) {
  BindingFullTypeIdentifier text;
  text.type = TypeText(type);
  if (IsContainer(type.code)) text.elementType = TypeText(ElementOf(type));
  return text;
}

std::string EpytextType(const TypeIdentifier& type) {
  switch (type.code) {
    case BindingTypeCode::Blob: return "bytearray";
    case BindingTypeCode::Vector:
    case BindingTypeCode::Map: return EpytextContainer(type.code, EpytextType(ElementOf(type)));
    case BindingTypeCode::Enum:
    case BindingTypeCode::Struct: return "L{" + (type.descriptor ? type.descriptor->name : std::string()) + "}";
    default: return BindingTypeCodeName(type.code);
  }
}

std::string EscapeEpytext(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  if (!text.empty() && text.front() == '-') {
    escaped += "E{-}";
    text.remove_prefix(1);
  }
  for (const char c : text) {
    if (c == '{')
      escaped += "E{lb}";
    else if (c == '}')
      escaped += "E{rb}";
    else
      escaped += c;
  }
  return escaped;
}

// ---- Full help ---------------------------------------------------------------

BindingFullFunctionHelp FunctionHelp(const BindingFunctionDescriptor& function) {
  BindingFullFunctionHelp help;
  help.name = function.name;
  help.nameSpace = function.nameSpace;
  help.arguments.reserve(function.arguments.size());
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    help.arguments.push_back({argument.name, argument.description, TypeIdentifierText(argument.type), argument.optional});
  }
  help.returns = TypeIdentifierText(function.returnType);
  help.description = function.description;
  help.help = function.help;
  help.threadSafe = function.threadSafe;
  // Only a registered type has a name to give; the operation's result type
  // is what a caller waits for.
  if (function.async && IsNamedType(function.returnType.code) && function.returnType.descriptor)
    help.async = function.returnType.descriptor->name;
  help.tags = function.tags;
  return help;
}

BindingFullTypeHelp TypeHelp(const BindingTypeDescriptor& type) {
  BindingFullTypeHelp help;
  help.name = type.name;
  help.nameSpace = type.nameSpace;
  help.size = type.nativeSize;
  help.description = type.description;
  help.tags = type.tags;
  help.fields.reserve(type.fields.size());
  for (const BindingFieldDescriptor& field : type.fields) {
    help.fields.push_back({field.name, field.description, field.offset, TypeIdentifierText(field.type), field.optional});
  }
  help.values.reserve(type.enumerators.size());
  for (const auto& [name, enumerator] : type.enumerators) {
    help.values.push_back({enumerator.name, enumerator.description, enumerator.value});
  }
  return help;
}

BindingFullEventHelp EventHelp(const BindingEventDescriptor& event) {
  BindingFullEventHelp help;
  help.name = event.name;
  help.type = TypeIdentifierText(event.payloadType);
  help.description = event.description;
  help.tags = event.tags;
  return help;
}

// ---- Epytext -----------------------------------------------------------------

std::string FunctionEpytext(const BindingFunctionDescriptor& function) {
  std::string text;
  AppendParagraph(text, function.description);
  AppendParagraph(text, function.help);
  for (const BindingArgumentDescriptor& argument : function.arguments) {
    if (!argument.description.empty()) {
      text += "@param " + argument.name + ": ";
      if (argument.optional) text += "(optional) ";
      text += EscapeEpytext(argument.description);
      text += "\r\n";
    }
    text += "@type " + argument.name + ": " + EpytextType(argument.type) + "\r\n";
  }
  if (function.returnType.code != BindingTypeCode::None) text += "@rtype: " + EpytextType(function.returnType) + "\r\n";
  AppendTags(text, function.tags);
  if (function.threadSafe) text += "@threadsafe: true\r\n";
  if (function.async) text += "@async: " + EpytextType(function.returnType) + "\r\n";
  return text;
}

std::string StructEpytext(const BindingTypeDescriptor& type) {
  std::string text;
  AppendParagraph(text, type.description);
  for (const BindingFieldDescriptor& field : type.fields) {
    text += "@ivar " + field.name + ": " + field.description + "\r\n";
    text += "@type " + field.name + ": " + FieldEpytextType(field) + "\r\n";
  }
  AppendTags(text, type.tags);
  return text;
}

std::string EnumEpytext(const BindingTypeDescriptor& type) {
  std::vector<const BindingEnumerator*> byValue;
  byValue.reserve(type.enumerators.size());
  for (const auto& [name, enumerator] : type.enumerators) byValue.push_back(&enumerator);
  // Stable, so enumerators sharing a value stay in name order.
  std::ranges::stable_sort(byValue, {}, &BindingEnumerator::value);

  std::string text;
  AppendParagraph(text, type.description);
  for (const BindingEnumerator* enumerator : byValue) {
    text += "@cvar " + enumerator->name + ": (" + std::to_string(enumerator->value) + ")";
    if (!enumerator->description.empty()) text += " " + enumerator->description;
    text += "\r\n";
  }
  AppendTags(text, type.tags);
  text += "@size: " + std::to_string(type.nativeSize) + "\r\n";
  return text;
}

std::string EventEpytext(const BindingEventDescriptor& event) {
  std::string text;
  AppendParagraph(text, event.description);
  AppendTags(text, event.tags);
  return text;
}

// ---- The whole API -----------------------------------------------------------

namespace {

template <typename Item>
void SortByName(std::vector<Item>& items) {
  std::ranges::sort(items, {}, [](const Item& item) -> const std::string& {
    if constexpr (std::is_pointer_v<Item>)
      return item->name;
    else
      return item.name;
  });
}

// Each item is converted on its own, so one that cannot be converted leaves
// out only itself.
template <typename Help>
void AppendConverted(BindingNode& list, const Help& help, const BindingTypeDescriptor* helpType,
                     const BindingRegistry& registry) {
  if (helpType == nullptr) return;
  BindingProperty converted;
  StructToBinding(converted, converted, &help, helpType, registry);
  if (!converted.IsValid()) return;
  list.At(list.Size()) = std::move(converted);
}

}  // namespace

void DescribeApi(BindingNode& out, const BindingRegistry& registry, BindingHelpFormat format) {
  std::vector<BindingFunctionDescriptor> functions = registry.Functions();
  std::vector<const BindingTypeDescriptor*> types = registry.Types();
  std::vector<BindingEventDescriptor> events = registry.Events();
  SortByName(functions);
  SortByName(types);
  SortByName(events);

  out.Reset();
  out.MakeStructure();
  // Each section is filled before the next is added, so no reference into
  // the tree is held across a change elsewhere in it.
  switch (format) {
    case BindingHelpFormat::Full: {
      const BindingTypeDescriptor* functionHelp = registry.FindType(TypeIdentity::Of<BindingFullFunctionHelp>());
      const BindingTypeDescriptor* typeHelp = registry.FindType(TypeIdentity::Of<BindingFullTypeHelp>());
      const BindingTypeDescriptor* eventHelp = registry.FindType(TypeIdentity::Of<BindingFullEventHelp>());
      BindingNode& functionList = out.Field("functions");
      functionList.MakeCollection();
      for (const BindingFunctionDescriptor& function : functions)
        AppendConverted(functionList, FunctionHelp(function), functionHelp, registry);
      BindingNode& typeList = out.Field("types");
      typeList.MakeCollection();
      for (const BindingTypeDescriptor* type : types) AppendConverted(typeList, TypeHelp(*type), typeHelp, registry);
      BindingNode& eventList = out.Field("events");
      eventList.MakeCollection();
      for (const BindingEventDescriptor& event : events)
        AppendConverted(eventList, EventHelp(event), eventHelp, registry);
      break;
    }
    case BindingHelpFormat::Epytext: {
      BindingNode& functionTexts = out.Field("functions");
      functionTexts.MakeStructure();
      for (const BindingFunctionDescriptor& function : functions)
        functionTexts.Field(function.name).SetString(FunctionEpytext(function));
      BindingNode& typeTexts = out.Field("types");
      typeTexts.MakeStructure();
      for (const BindingTypeDescriptor* type : types)
        typeTexts.Field(type->name).SetString(type->isEnum ? EnumEpytext(*type) : StructEpytext(*type));
      BindingNode& eventTexts = out.Field("events");
      eventTexts.MakeStructure();
      for (const BindingEventDescriptor& event : events) eventTexts.Field(event.name).SetString(EventEpytext(event));
      break;
    }
    default:
      out.Field("functions");
      out.Field("types");
      out.Field("events");
      break;
  }
}

}  // namespace Vexa
