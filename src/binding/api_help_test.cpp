#include "binding/api_help.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/conversion.h"
#include "binding/registration.h"

namespace Vexa {
namespace ApiHelpTest {

enum class Letter : std::int32_t { Minus = -1, Zero = 0, One = 1, Two = 2 };

struct Inner {
  std::int32_t x = 0;
};

struct Outer {
  std::vector<Inner> inners;
  std::vector<std::vector<std::string>> grid;
  std::optional<Letter> letter;
  std::map<std::string, std::int64_t> counts;
};

using C = BindingTypeCode;

std::map<std::string, std::string> Texts(const BindingNode& section) {
  std::map<std::string, std::string> texts;
  for (const auto& [name, value] : section.Fields()) texts.emplace(name, value.GetString());
  return texts;
}

class ApiHelp : public ::testing::Test {
 public:
  ApiHelp() {
    RegisterBuiltinTypes(registry);
    // Registered out of value order, and with names whose order differs
    // from the values', so each listing shows which order it follows.
    RegisterEnum<Letter>(registry, "Letter")
        .Value("Two", Letter::Two)
        .Value("Zero", Letter::Zero, "nothing")
        .Value("One", Letter::One)
        .Value("Minus", Letter::Minus)
        .Tags("x", "y");
    RegisterStruct<Inner>(registry, "Inner").Field("x", &Inner::x).Tags("t");
    RegisterStruct<Outer>(registry, "Outer")
        .Field("inners", &Outer::inners, "{raw} list")
        .Field("grid", &Outer::grid)
        .Field("letter", &Outer::letter)
        .Field("counts", &Outer::counts)
        .Description("Outer {type}");
    registry.RegisterEvent("OnThing", TypeIdentifierFor<Inner>(registry), "-{go}", {"e"});

    fetch.name = "Fetch";
    fetch.nameSpace = "ns";
    fetch.description = "-x {y}";
    fetch.help = "Use {carefully}.";
    fetch.arguments = {{"id", 0, "The {id}", true, {C::Int32}},
                       {"names", 0, "", false, TypeIdentifierFor<std::vector<std::string>>(registry)}};
    fetch.returnType = TypeIdentifierFor<std::vector<Inner>>(registry);
    fetch.tags = {"a", "b"};
    fetch.threadSafe = true;

    start.name = "Start";
    start.arguments = {{"letter", 0, "Which", false, TypeIdentifierFor<Letter>(registry)}};
    start.returnType = TypeIdentifierFor<Inner>(registry);
    start.async = true;

    notify.name = "Notify";
    notify.arguments = {{"payload", 0, "", false, {C::Object}}};

    ping.name = "ping";

    for (const BindingFunctionDescriptor* f : {&fetch, &start, &notify, &ping}) registry.RegisterFunction(*f);
  }

  BindingRegistry registry;
  BindingFunctionDescriptor fetch, start, notify, ping;
};

TEST(EscapeEpytext, MarkupCharacters) {
  const struct {
    const char* text;
    const char* escaped;
  } rows[] = {
      {"-x {y}", "E{-}x E{lb}yE{rb}"},
      {"--a-", "E{-}-a-"},  // only the very first minus
      {" -a", " -a"},
      {"}{", "E{rb}E{lb}"},
      {"E{lb}", "EE{lb}lbE{rb}"},
  };
  for (const auto& row : rows) EXPECT_EQ(EscapeEpytext(row.text), row.escaped) << row.text;
}

TEST_F(ApiHelp, TypeTexts) {
  const BindingTypeDescriptor* inner = registry.FindTypeByName("Inner");
  const BindingTypeDescriptor* letter = registry.FindTypeByName("Letter");
  const struct {
    TypeIdentifier type;
    const char* full;
    const char* element;
    const char* epytext;
  } rows[] = {
      {{C::None}, "", "", ""},
      {{static_cast<C>(99)}, "", "", ""},
      {{C::Blob}, "blob", "", "bytearray"},
      {{C::Callback}, "callback", "", "callback"},
      {{C::Struct, C::None, inner}, "Inner", "", "L{Inner}"},
      {{C::Struct}, "struct", "", "L{}"},
      {{C::Vector, C::String}, "vector", "string", "list[string]"},
      {{C::Vector, C::Struct, inner}, "vector", "Inner", "list[L{Inner}]"},
      {{C::Vector, C::Enum}, "vector", "enum", "list[L{}]"},
      {{C::Map, C::Enum, letter}, "map", "Letter", "dict[L{Letter}]"},
      // A bare identifier keeps only the element's code.
      {{C::Vector, C::Vector}, "vector", "vector", "list[list[]]"},
  };
  for (const auto& row : rows) {
    const BindingFullTypeIdentifier text = TypeIdentifierText(row.type);
    EXPECT_EQ(std::tie(text.type, text.elementType), std::tuple(row.full, row.element)) << row.epytext;
    EXPECT_EQ(EpytextType(row.type), row.epytext);
  }
}

TEST_F(ApiHelp, EpytextOfEachKind) {
  const struct {
    const char* what;
    std::string text;
    const char* expected;
  } rows[] = {
      {"function with everything", FunctionEpytext(fetch),
       "E{-}x E{lb}yE{rb}\r\n\r\n"
       "Use E{lb}carefullyE{rb}.\r\n\r\n"
       "@param id: (optional) The E{lb}idE{rb}\r\n"
       "@type id: int32\r\n@type names: list[string]\r\n"
       "@rtype: list[L{Inner}]\r\n@tags: a,b\r\n@threadsafe: true\r\n"},
      {"asynchronous function", FunctionEpytext(start),
       "@param letter: Which\r\n@type letter: L{Letter}\r\n@rtype: L{Inner}\r\n@async: L{Inner}\r\n"},
      {"no return type", FunctionEpytext(notify), "@type payload: object\r\n"},
      {"empty function", FunctionEpytext(ping), ""},
      // Field descriptions go out as written; the nested vector keeps its
      // element through the field's element identifier.
      {"struct", StructEpytext(*registry.FindTypeByName("Outer")),
       "Outer E{lb}typeE{rb}\r\n\r\n"
       "@ivar inners: {raw} list\r\n@type inners: list[L{Inner}]\r\n"
       "@ivar grid: \r\n@type grid: list[list[string]]\r\n"
       "@ivar letter: \r\n@type letter: L{Letter}\r\n"
       "@ivar counts: \r\n@type counts: dict[int64]\r\n"},
      {"struct with tags", StructEpytext(*registry.FindTypeByName("Inner")),
       "@ivar x: \r\n@type x: int32\r\n@tags: t\r\n"},
      {"enum by value, signed", EnumEpytext(*registry.FindTypeByName("Letter")),
       "@cvar Minus: (-1)\r\n@cvar Zero: (0) nothing\r\n@cvar One: (1)\r\n@cvar Two: (2)\r\n"
       "@tags: x,y\r\n@size: 4\r\n"},
      {"event", EventEpytext(*registry.FindEvent("OnThing")), "E{-}E{lb}goE{rb}\r\n\r\n@tags: e\r\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.text, row.expected) << row.what;
}

TEST_F(ApiHelp, BothFormatsListEveryItemByName) {
  BindingProperty api, texts;
  api.SetString("stale");
  DescribeApi(api, registry, BindingHelpFormat::Full);
  DescribeApi(texts, registry, BindingHelpFormat::Epytext);
  BindingProperty result;
  const auto help = FromBinding<BindingFullApiHelp>(result, api, "<value>", registry);
  ASSERT_TRUE(result.IsValid()) << result.FailureMessage();

  auto names = [](const auto& items) {
    std::vector<std::string> list;
    for (const auto& item : items) list.push_back(item.name);
    return list;
  };
  // Byte-wise: capitals before lower case.
  EXPECT_EQ(names(help.functions), (std::vector<std::string>{"Fetch", "Notify", "Start", "ping"}));
  EXPECT_EQ(names(help.events), (std::vector<std::string>{"OnCallback", "OnThing"}));
  const std::vector<std::string> typeNames = names(help.types);
  EXPECT_EQ(typeNames.size(), registry.Types().size());
  EXPECT_TRUE(std::ranges::is_sorted(typeNames));
  auto keys = [&](const char* section) {
    std::vector<std::string> list;
    for (const auto& [name, text] : Texts(texts.Find(section))) list.push_back(name);
    return list;
  };
  EXPECT_EQ(keys("functions"), names(help.functions));
  EXPECT_EQ(keys("types"), typeNames);
  EXPECT_EQ(keys("events"), names(help.events));
  EXPECT_EQ(Texts(texts.Find("types")).at("Letter"), EnumEpytext(*registry.FindTypeByName("Letter")));

  const BindingFullFunctionHelp& f = help.functions[0];
  EXPECT_EQ(f.description, "-x {y}");  // escaping belongs to epytext only
  EXPECT_EQ(std::tie(f.nameSpace, f.help, f.threadSafe, f.async), std::tuple("ns", "Use {carefully}.", true, ""));
  ASSERT_EQ(f.arguments.size(), 2u);
  EXPECT_EQ(std::tie(f.arguments[0].description, f.arguments[0].optional, f.arguments[0].type.type),
            std::tuple("The {id}", true, "int32"));
  EXPECT_EQ(std::tie(f.arguments[1].type.type, f.arguments[1].type.elementType), std::tuple("vector", "string"));
  EXPECT_EQ(std::tie(f.returns.type, f.returns.elementType), std::tuple("vector", "Inner"));
  EXPECT_EQ(help.functions[2].async, "Inner");

  const auto type = [&](const char* name) -> const BindingFullTypeHelp& {
    return help.types[std::ranges::find(typeNames, name) - typeNames.begin()];
  };
  const BindingFullTypeHelp& outer = type("Outer");
  EXPECT_EQ(outer.size, sizeof(Outer));
  const Outer o;
  const auto offset = [&](const void* member) {
    return std::uint32_t(static_cast<const unsigned char*>(member) - reinterpret_cast<const unsigned char*>(&o));
  };
  const std::tuple<std::uint32_t, const char*, const char*, bool> fields[] = {
      {offset(&o.inners), "vector", "Inner", false},
      {offset(&o.grid), "vector", "vector", false},
      {offset(&o.letter), "Letter", "", true},
      {offset(&o.counts), "map", "int64", false},
  };
  ASSERT_EQ(outer.fields.size(), std::size(fields));
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    const BindingFullFieldHelp& field = outer.fields[i];
    EXPECT_EQ(std::tie(field.offset, field.type.type, field.type.elementType, field.optional), fields[i]) << i;
  }

  // Enumerators in name order here, unlike epytext.
  const BindingFullTypeHelp& letter = type("Letter");
  std::vector<std::pair<std::string, std::int32_t>> values;
  for (const BindingFullEnumValueHelp& value : letter.values) values.emplace_back(value.name, value.value);
  EXPECT_EQ(values, (std::vector<std::pair<std::string, std::int32_t>>{
                        {"Minus", -1}, {"One", 1}, {"Two", 2}, {"Zero", 0}}));
  EXPECT_EQ(std::tie(help.events[1].type.type, help.events[1].description), std::tuple("Inner", "-{go}"));
}

TEST(DescribeApi, FullWithoutHelpTypesAppendsNothing) {
  BindingRegistry registry;
  BindingFunctionDescriptor f;
  f.name = "F";
  registry.RegisterFunction(f);
  RegisterStruct<Inner>(registry, "Inner").Field("x", &Inner::x);
  registry.RegisterEvent("OnX", {});

  BindingProperty api;
  DescribeApi(api, registry, BindingHelpFormat::Full);
  for (const char* section : {"functions", "types", "events"}) {
    EXPECT_EQ(api.Find(section).GetKind(), BindingKind::Collection) << section;
    EXPECT_EQ(api.Find(section).Size(), 0u) << section;
  }
}

TEST(RegisterBuiltinTypes, TypesTextsAndASecondCall) {
  BindingRegistry registry;
  RegisterBuiltinTypes(registry);

  EXPECT_EQ(registry.Types().size(), 15u);

  BindingProperty before;
  DescribeApi(before, registry, BindingHelpFormat::Epytext);
  const auto types = Texts(before.Find("types"));
  const std::pair<const char*, const char*> texts[] = {
      {"BindingHelpFormat",
       "Help format for binding functions and types.\r\n\r\n"
       "@cvar Full: (1) Native help format\r\n"
       "@cvar Epytext: (2) Python epytext format\r\n"
       "@tags: $builtin,help\r\n@size: 4\r\n"},
      // Each nested help type was registered first, so every reference names it.
      {"BindingFullApiHelp",
       "Describes the exposed native API.\r\n\r\n"
       "@ivar functions: \r\n@type functions: list[L{BindingFullFunctionHelp}]\r\n"
       "@ivar types: \r\n@type types: list[L{BindingFullTypeHelp}]\r\n"
       "@ivar events: \r\n@type events: list[L{BindingFullEventHelp}]\r\n"
       "@tags: $builtin,help\r\n"},
      {"BindingCallbackEvent",
       "Represents the parameters of a call to a provided callback.\r\n\r\n"
       "@ivar id: ID of the callback being invoked\r\n@type id: uint32\r\n"
       "@ivar parameters: Callback parameters\r\n@type parameters: list[object]\r\n"
       "@tags: $builtin\r\n"},
  };
  for (const auto& [name, text] : texts) EXPECT_EQ(types.at(name), text) << name;
  EXPECT_EQ(Texts(before.Find("events")),
            (std::map<std::string, std::string>{
                {"OnCallback", "Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n"}}));
  const BindingEventDescriptor* onCallback = registry.FindEvent("OnCallback");
  ASSERT_NE(onCallback, nullptr);
  EXPECT_EQ(onCallback->payloadType, registry.TypeIdentifierOf(TypeIdentity::Of<BindingCallbackEvent>()));

  const std::vector<const BindingTypeDescriptor*> descriptors = registry.Types();
  RegisterBuiltinTypes(registry);
  EXPECT_EQ(registry.Types(), descriptors);
  EXPECT_EQ(registry.FindEvent("OnCallback"), onCallback);
  BindingProperty after;
  DescribeApi(after, registry, BindingHelpFormat::Epytext);
  for (const char* section : {"types", "events"})
    EXPECT_EQ(Texts(after.Find(section)), Texts(before.Find(section))) << section;
}

}  // namespace ApiHelpTest
}  // namespace Vexa
