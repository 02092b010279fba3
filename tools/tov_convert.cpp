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
#include "formats/sniff.h"

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

// The codec that `--from` names; "auto" recognises the bytes exactly as the
// plug-in recognises a value that arrives without a content type.
Vexa::Codec CodecFor(std::string_view from, std::span<const std::uint8_t> bytes) {
  if (from == "json") return Vexa::Codec::Json;
  if (from == "msgpack") return Vexa::Codec::MessagePack;
  if (from == "yaml") return Vexa::Codec::Yaml;
  return Vexa::SniffCodec(bytes);
}

Vexa::BindingProperty Parse(std::string_view from, std::span<const std::uint8_t> bytes) {
  const Vexa::Codec codec = CodecFor(from, bytes);
  // Nothing at all is no value, as every parser reads it; other
  // unrecognised bytes stay what they are: one string.
  if (codec == Vexa::Codec::Text && bytes.empty()) return {};
  std::size_t consumed = 0;
  Vexa::BindingProperty value = Vexa::ParseWith(codec, bytes, &consumed);
  // A whole input is one value, as a body is.
  if (codec == Vexa::Codec::MessagePack && value.IsValid() && consumed < bytes.size())
    value.SetFailure("Extra MessgePack data found in body");
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
