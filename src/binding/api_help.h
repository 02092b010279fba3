// The plug-in's description of its own API: every registered function, type
// and event, either as structured data made of the registered help types
// below (so it travels as a BindingProperty like any other value) or as
// epytext documentation. Also the built-in types every plug-in carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/property.h"
#include "binding/registry.h"

namespace Vexa {

enum class BindingHelpFormat : std::int32_t { Full = 1, Epytext = 2 };

struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;  // the return type's name when asynchronous
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

enum class BindingAsyncState : std::int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

struct BindingGenericAsyncEvent {
  std::uint32_t asyncToken = 0;
  BindingProperty data;
};

struct BindingAsyncFailureEvent {
  std::uint32_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  std::uint32_t asyncToken = 0;
};

struct BindingGenericEvent {
  BindingProperty data;
};

struct BindingCallbackEvent {
  std::uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

// The help, async and event types and the "OnCallback" event. Safe to call
// again: the first registration of every name is kept.
void RegisterBuiltinTypes(BindingRegistry& registry);

// A Structure with "functions", "types" and "events", each in byte-wise name
// order: Collections of the converted help structs for Full (an item whose
// help type is not registered is left out), Structures from name to epytext
// for Epytext. Any other format leaves the three fields Empty.
void DescribeApi(BindingNode& out, const BindingRegistry& registry, BindingHelpFormat format);

// A container's element is shown by its type text only, so a vector of
// vectors reads as elementType "vector".
BindingFullTypeIdentifier TypeIdentifierText(const TypeIdentifier& type);
// "list[L{S}]" for a vector of the struct S; empty for codes epytext has no
// word for.
std::string EpytextType(const TypeIdentifier& type);
// Keeps text from being read as markup: a leading "-", "{" and "}".
std::string EscapeEpytext(std::string_view text);

BindingFullFunctionHelp FunctionHelp(const BindingFunctionDescriptor& function);
BindingFullTypeHelp TypeHelp(const BindingTypeDescriptor& type);
BindingFullEventHelp EventHelp(const BindingEventDescriptor& event);

// Every line ends with "\r\n".
std::string FunctionEpytext(const BindingFunctionDescriptor& function);
std::string StructEpytext(const BindingTypeDescriptor& type);
std::string EnumEpytext(const BindingTypeDescriptor& type);
std::string EventEpytext(const BindingEventDescriptor& event);

}  // namespace Vexa
