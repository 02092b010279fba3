// tov-convert: reads one payload as JSON, MessagePack or YAML with the
// plug-in's own parsers and writes it back as JSON, so that a payload can be
// inspected by hand exactly as the plug-in would see it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/property.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/sniff.h"
#include "formats/yaml.h"

namespace {

constexpr int kParseFailed = 1;
constexpr int kUsageError = 2;

constexpr const char kUsage[] =
    "usage: tov-convert [--from json|msgpack|yaml|auto] [--indent] [FILE]\n"
    "Reads FILE (or standard input), parses it and writes it as JSON.\n";

struct Options {
  std::string_view from = "auto";
  bool indent = false;
  const char* file = nullptr;
};

// Returns false, with a message printed, when the arguments make no sense.
bool ParseArguments(int argc, char** argv, Options& options) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!endOfOptions && argument == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && argument == "--indent") {
      options.indent = true;
    } else if (!endOfOptions && (argument == "--from" || argument.starts_with("--from="))) {
      if (argument == "--from") {
        if (++i == argc) {
          std::fputs("tov-convert: --from needs a format\n", stderr);
          return false;
        }
        options.from = argv[i];
      } else {
        options.from = argument.substr(7);
      }
      if (options.from != "json" && options.from != "msgpack" && options.from != "yaml" && options.from != "auto") {
        std::fprintf(stderr, "tov-convert: unknown format '%.*s'\n", static_cast<int>(options.from.size()),
                     options.from.data());
        return false;
      }
    } else if (!endOfOptions && (argument == "--help" || argument == "-h")) {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (!endOfOptions && argument.size() > 1 && argument[0] == '-') {
      std::fprintf(stderr, "tov-convert: unknown option '%s'\n%s", argv[i], kUsage);
      return false;
    } else if (options.file == nullptr) {
      options.file = argv[i];
    } else {
      std::fprintf(stderr, "tov-convert: only one FILE may be given\n%s", kUsage);
      return false;
    }
  }
  return true;
}

// The whole input as bytes of its exact length; NULs included.
bool ReadAll(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = path ? std::fopen(path, "rb") : stdin;
  if (file == nullptr) {
    std::fprintf(stderr, "tov-convert: cannot open '%s': %s\n", path, std::strerror(errno));
    return false;
  }
  std::uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) != 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool ok = !std::ferror(file);
  if (!ok) std::fprintf(stderr, "tov-convert: cannot read '%s'\n", path ? path : "standard input");
  if (path) std::fclose(file);
  return ok;
}

// Text forms are read up to their first NUL, as the plug-in reads bodies.
std::string_view AsText(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.substr(0, text.find('\0'));
}

Vexa::BindingProperty Parse(std::string_view from, std::span<const std::uint8_t> bytes) {
  Vexa::SniffedFormat format = Vexa::SniffedFormat::Json;
  if (from == "auto") {
    format = Vexa::SniffFormat(bytes);
  } else if (from == "msgpack") {
    format = Vexa::SniffedFormat::MessagePack;
  } else if (from == "yaml") {
    format = Vexa::SniffedFormat::Yaml;
  }
  switch (format) {
    case Vexa::SniffedFormat::MessagePack: {
      std::size_t consumed = 0;
      Vexa::BindingProperty value = Vexa::ParseMessagePack(bytes, &consumed);
      if (value.IsValid() && consumed < bytes.size()) value.SetFailure("Extra MessgePack data found in body");
      return value;
    }
    case Vexa::SniffedFormat::Json: return Vexa::ParseJson(AsText(bytes));
    case Vexa::SniffedFormat::Yaml: return Vexa::ParseYaml(AsText(bytes));
    case Vexa::SniffedFormat::Text: break;
  }
  // Unrecognised text stays what it is: one string. Nothing at all is no
  // value, as every parser reads it.
  Vexa::BindingProperty value;
  if (!bytes.empty()) value.SetString(AsText(bytes));
  return value;
}

int Run(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) return kUsageError;
  std::vector<std::uint8_t> bytes;
  if (!ReadAll(options.file, bytes)) return kUsageError;

  const Vexa::BindingProperty value = Parse(options.from, bytes);
  if (!value.IsValid()) {
    const std::string_view message = value.FailureMessage();
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    return kParseFailed;
  }
  std::string json = Vexa::ToJson(value, nullptr, options.indent ? "\n" : "");
  if (!json.empty()) json += '\n';
  if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() || std::fflush(stdout) != 0) {
    std::fputs("tov-convert: cannot write the output\n", stderr);
    return kUsageError;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    // Only memory exhaustion gets here; the parsers report everything else.
    std::fprintf(stderr, "tov-convert: %s\n", error.what());
    return kParseFailed;
  }
}
