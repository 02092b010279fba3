#include "binding/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "binding/failure.h"
#include "binding/registration.h"

namespace Vexa {
namespace RegistryTest {

enum class Phase : std::int32_t { Planning = 0, Ban = 1, Pick = 7 };

struct Inner {
  std::int32_t x = 0;
};

struct Base {
  std::string baseName;
};

struct Outer : Base {
  bool flag = false;
  std::int8_t i8 = 0;
  std::uint16_t u16 = 0;
  std::int64_t big = 0;
  float ratio = 0;
  double value = 0;
  std::string name;
  std::optional<std::int32_t> maybe;
  Phase phase = Phase::Planning;
  Inner inner;
  std::vector<std::string> names;
  std::vector<Inner> inners;
  std::vector<std::uint8_t> bytes;
  std::map<std::string, std::vector<std::string>> groups;
  std::optional<std::vector<Phase>> phases;
};

struct Unregistered {};

std::ptrdiff_t MeasuredOffset(const Outer& o, const void* member) {
  return static_cast<const unsigned char*>(member) - reinterpret_cast<const unsigned char*>(&o);
}

TEST(BindingTypeCode, Names) {
  const char* expected[] = {"",       "bool",   "int8",   "uint8", "int16", "uint16", "int32",
                            "uint32", "int64",  "uint64", "float", "double", "string", "object",
                            "blob",   "vector", "enum",   "struct", "callback", "map", ""};
  for (std::uint32_t code = 0; code < std::size(expected); ++code) {
    EXPECT_STREQ(BindingTypeCodeName(static_cast<BindingTypeCode>(code)), expected[code]) << code;
  }
  EXPECT_STREQ(BindingTypeCodeName(static_cast<BindingTypeCode>(0xFFFFFFFF)), "");
}

TEST(TypeIdentity, IdsAndNames) {
  const TypeIdentity& inner = TypeIdentity::Of<Inner>();
  EXPECT_EQ(&inner, &TypeIdentity::Of<const Inner&>());
  EXPECT_NE(inner.Id(), TypeIdentity::Of<Outer>().Id());
  EXPECT_NE(inner.Id(), TypeIdentity::kPlaceholderId);
  static_assert(TypeIdentity::IdOf<Inner>() != TypeIdentity::IdOf<Outer>(), "ids are build-time constants");
  EXPECT_EQ(inner.Id(), TypeIdentity::IdOf<Inner>());

  char expected[16];
  std::snprintf(expected, sizeof expected, "#%08X", static_cast<unsigned>(inner.Id()));
  EXPECT_STREQ(inner.Name(), expected);
  EXPECT_STREQ(TypeIdentity::Placeholder().Name(), "#00000000");
  EXPECT_EQ(TypeIdentity::Placeholder().Id(), 0u);

  // Types named in log messages carry the compiler's own signature text.
  EXPECT_STREQ(TypeIdentity::Of<bool>().Name(), StaticType::Name<bool>());
  EXPECT_NE(std::strstr(TypeIdentity::Of<BindingProperty>().Name(), "Vexa::BindingProperty"), nullptr);
  EXPECT_NE(std::strstr(StaticType::Name<MaybeType<Failure, void>>(), "Vexa::MaybeType<Vexa::Failure, void>"),
            nullptr);
  EXPECT_NE(std::strstr(StaticType::Name<Inner>(), "StaticType::Name"), nullptr);
}

TEST(BindingRegistry, FirstRegistrationWinsAndLaterBuildersAreInert) {
  BindingRegistry registry;
  BindingTypeBuilder first = registry.RegisterType(4, "S", TypeIdentity::Of<Inner>(), false);
  ASSERT_FALSE(first.IsInert());
  first.AddField("a", "", 0, TypeIdentity::Of<int>(), {BindingTypeCode::Int32}, {}, 0, nullptr, false)
      .SetDescription("first")
      .AddTag("$builtin")
      .AddTag("help")
      .AddTag("")
      .AddTag("");

  BindingTypeBuilder second = registry.RegisterType(8, "S", TypeIdentity::Of<Outer>(), true);
  EXPECT_TRUE(second.IsInert());
  EXPECT_EQ(second.Descriptor(), nullptr);
  second.AddField("b", "", 4, TypeIdentity::Of<int>(), {BindingTypeCode::Int32}, {}, 0, nullptr, false)
      .AddEnumerator("E", 1, "")
      .SetDescription("second")
      .SetNamespace("ns")
      .AddTag("x");

  const BindingTypeDescriptor* s = registry.FindTypeByName("S");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s, registry.FindType(TypeIdentity::Of<Inner>()));
  EXPECT_EQ(registry.FindType(TypeIdentity::Of<Outer>()), nullptr);
  EXPECT_EQ(s->nativeSize, 4u);
  EXPECT_FALSE(s->isEnum);
  EXPECT_EQ(s->description, "first");
  EXPECT_EQ(s->nameSpace, "");
  EXPECT_EQ(s->tags, (std::vector<std::string>{"$builtin", "help"}));
  ASSERT_EQ(s->fields.size(), 1u);
  EXPECT_EQ(s->fields[0].name, "a");
  EXPECT_EQ(s->fields[0].nameHash, Fnv1a32("a"));
  EXPECT_EQ(s->fields[0].owner, s);
  EXPECT_TRUE(s->enumerators.empty());
  EXPECT_EQ(first.LastOffset(), 0u);

  // Events keep the first descriptor too; functions are replaced.
  const auto e1 = registry.RegisterEvent("OnCallback", {BindingTypeCode::Object}, "one");
  const auto e2 = registry.RegisterEvent("OnCallback", {BindingTypeCode::String}, "two");
  EXPECT_FALSE(e1.alreadyRegistered);
  EXPECT_TRUE(e2.alreadyRegistered);
  EXPECT_EQ(e1.event, e2.event);
  EXPECT_EQ(e2.event->description, "one");
  EXPECT_EQ(e2.event->payloadType.code, BindingTypeCode::Object);

  BindingFunctionDescriptor f;
  f.name = "GetX";
  f.description = "old";
  registry.RegisterFunction(f);
  f.description = "new";
  registry.RegisterFunction(f);
  ASSERT_NE(registry.FindFunction("GetX"), nullptr);
  EXPECT_EQ(registry.FindFunction("GetX")->description, "new");
  EXPECT_EQ(registry.Functions().size(), 1u);
  EXPECT_EQ(registry.FunctionChanges(), 2u);

  EXPECT_TRUE(registry.UnregisterEvent("OnCallback"));
  EXPECT_FALSE(registry.UnregisterEvent("OnCallback"));
  registry.RegisterEvent("OnOther", {});
  registry.Clear();
  EXPECT_TRUE(registry.Types().empty());
  EXPECT_TRUE(registry.Functions().empty());
  EXPECT_TRUE(registry.Events().empty());
  EXPECT_EQ(registry.FindType(TypeIdentity::Of<Inner>()), nullptr);
}

TEST(BindingRegistry, MissesAndThePlaceholder) {
  BindingRegistry registry;
  RegisterEnum<Phase>(registry, "Phase")
      .Value("Planning", Phase::Planning)
      .Value("Ban", Phase::Ban)
      .Value("Pick", Phase::Pick, "picking")
      .Value("Ban", Phase::Pick);  // replaces the enumerator of that name
  registry.RegisterType(0, "ByNameOnly", TypeIdentity::Placeholder(), false);

  EXPECT_STREQ(registry.EnumeratorName(TypeIdentity::Of<Phase>(), 0), "Planning");
  EXPECT_STREQ(registry.EnumeratorName(TypeIdentity::Of<Phase>(), 7), "Ban");
  EXPECT_EQ(registry.EnumeratorName(TypeIdentity::Of<Phase>(), 1), nullptr);
  EXPECT_EQ(registry.EnumeratorName(TypeIdentity::Of<Phase>(), 99), nullptr);
  EXPECT_EQ(registry.EnumeratorName(TypeIdentity::Of<Unregistered>(), 0), nullptr);
  const BindingTypeDescriptor* phase = registry.FindType(TypeIdentity::Of<Phase>());
  ASSERT_NE(phase, nullptr);
  EXPECT_TRUE(phase->isEnum);
  EXPECT_EQ(phase->nativeSize, 4u);
  EXPECT_TRUE(BindingRegistry::HasEnumerator(*phase, 7));
  EXPECT_FALSE(BindingRegistry::HasEnumerator(*phase, 1));

  EXPECT_EQ(registry.TypeIdentifierOf(TypeIdentity::Of<Phase>()),
            (TypeIdentifier{BindingTypeCode::Enum, BindingTypeCode::None, phase}));
  EXPECT_EQ(registry.TypeIdentifierOf(TypeIdentity::Of<Unregistered>()), TypeIdentifier{});
  EXPECT_EQ(registry.TypeIdentifierOf(TypeIdentity::Placeholder()), TypeIdentifier{});
  EXPECT_NE(registry.FindTypeByName("ByNameOnly"), nullptr);
  EXPECT_EQ(registry.FindType(TypeIdentity::Placeholder()), nullptr);
  // A second name-only type is not blocked by the first.
  registry.RegisterType(0, "AlsoByName", TypeIdentity::Placeholder(), false);
  EXPECT_NE(registry.FindTypeByName("AlsoByName"), nullptr);
}

TEST(Registration, FieldsTakeTypeOffsetAndIdentityFromTheMember) {
  BindingRegistry registry;
  RegisterEnum<Phase>(registry, "Phase").Value("Planning", Phase::Planning);
  RegisterStruct<Inner>(registry, "Inner").Field("x", &Inner::x);
  RegisterStruct<Outer>(registry, "Outer")
      .Field("baseName", &Outer::baseName)
      .Field("flag", &Outer::flag)
      .Field("i8", &Outer::i8)
      .Field("u16", &Outer::u16)
      .Field("big", &Outer::big)
      .Field("ratio", &Outer::ratio)
      .Field("value", &Outer::value)
      .Field("name", &Outer::name)
      .Field("maybe", &Outer::maybe)
      .Field("phase", &Outer::phase)
      .Field("inner", &Outer::inner)
      .Field("names", &Outer::names)
      .Field("inners", &Outer::inners)
      .Field("bytes", &Outer::bytes)
      .Field("groups", &Outer::groups)
      .Field("phases", &Outer::phases)
      .Description("the outer type")
      .Tags("$builtin", "help", "", "");

  const BindingTypeDescriptor* inner = registry.FindType(TypeIdentity::Of<Inner>());
  const BindingTypeDescriptor* phase = registry.FindType(TypeIdentity::Of<Phase>());
  const BindingTypeDescriptor* outer = registry.FindType(TypeIdentity::Of<Outer>());
  ASSERT_TRUE(inner && phase && outer);
  EXPECT_EQ(outer->nativeSize, sizeof(Outer));
  EXPECT_EQ(outer->tags.size(), 2u);

  using C = BindingTypeCode;
  const Outer o;
  struct Expected {
    const char* name;
    const void* member;
    const TypeIdentity* identity;
    TypeIdentifier type;
    TypeIdentifier element;
    bool optional;
  };
  const Expected rows[] = {
      {"baseName", &o.baseName, &TypeIdentity::Of<std::string>(), {C::String}, {}, false},
      {"flag", &o.flag, &TypeIdentity::Of<bool>(), {C::Bool}, {}, false},
      {"i8", &o.i8, &TypeIdentity::Of<std::int8_t>(), {C::Int8}, {}, false},
      {"u16", &o.u16, &TypeIdentity::Of<std::uint16_t>(), {C::UInt16}, {}, false},
      {"big", &o.big, &TypeIdentity::Of<std::int64_t>(), {C::Int64}, {}, false},
      {"ratio", &o.ratio, &TypeIdentity::Of<float>(), {C::Float}, {}, false},
      {"value", &o.value, &TypeIdentity::Of<double>(), {C::Double}, {}, false},
      {"name", &o.name, &TypeIdentity::Of<std::string>(), {C::String}, {}, false},
      {"maybe", &o.maybe, &TypeIdentity::Of<std::optional<std::int32_t>>(), {C::Int32}, {}, true},
      {"phase", &o.phase, &TypeIdentity::Of<Phase>(), {C::Enum, C::None, phase}, {}, false},
      {"inner", &o.inner, &TypeIdentity::Of<Inner>(), {C::Struct, C::None, inner}, {}, false},
      {"names", &o.names, &TypeIdentity::Of<std::vector<std::string>>(), {C::Vector, C::String}, {C::String}, false},
      {"inners", &o.inners, &TypeIdentity::Of<std::vector<Inner>>(), {C::Vector, C::Struct, inner},
       {C::Struct, C::None, inner}, false},
      {"bytes", &o.bytes, &TypeIdentity::Of<std::vector<std::uint8_t>>(), {C::Blob}, {}, false},
      {"groups", &o.groups, &TypeIdentity::Of<std::map<std::string, std::vector<std::string>>>(),
       {C::Map, C::Vector}, {C::Vector, C::String}, false},
      {"phases", &o.phases, &TypeIdentity::Of<std::optional<std::vector<Phase>>>(), {C::Vector, C::Enum, phase},
       {C::Enum, C::None, phase}, true},
  };
  ASSERT_EQ(outer->fields.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const BindingFieldDescriptor& field = outer->fields[i];
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(field.name, rows[i].name);
    EXPECT_EQ(field.offset, static_cast<std::uint32_t>(MeasuredOffset(o, rows[i].member)));
    EXPECT_EQ(field.identity, rows[i].identity);
    EXPECT_EQ(field.type, rows[i].type);
    EXPECT_EQ(field.elementType, rows[i].element);
    EXPECT_EQ(field.optional, rows[i].optional);
    EXPECT_EQ(field.flags, 0u);
    EXPECT_EQ(field.owner, outer);
  }

  // Registering the same list again changes nothing.
  RegisterStruct<Outer>(registry, "Outer").Field("extra", &Outer::flag).Description("again");
  EXPECT_EQ(outer->fields.size(), std::size(rows));
  EXPECT_EQ(outer->description, "the outer type");
}

TEST(BindingRegistry, ConcurrentRegistrationOfOneNameHasOneWinner) {
  BindingRegistry registry;
  std::atomic<int> winners{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::string name("T");
        name += std::to_string(i);
        if (!registry.RegisterType(4, name, TypeIdentity::Placeholder(), false).IsInert()) ++winners;
        registry.FindTypeByName(name);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(winners.load(), 200);
  EXPECT_EQ(registry.Types().size(), 200u);
}

}  // namespace RegistryTest
}  // namespace Vexa
