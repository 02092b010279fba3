// tov-convert run as a user would: bytes in, JSON or the parser's message
// out, and an exit status that tells which.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct Outcome {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class TovConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tov-convert-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const char* name) const { return dir_ + "/" + name; }

  void Write(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // Runs the tool with `input` on standard input (or as FILE when
  // `asFile`), without a shell between.
  Outcome Run(std::vector<std::string> args, const std::string& input, bool asFile = false) const {
    const std::string in = Path("in"), out = Path("out"), err = Path("err");
    Write(in, input);
    if (asFile) args.push_back(in);
    const pid_t child = fork();
    if (child == 0) {
      std::freopen(in.c_str(), "rb", stdin);
      std::freopen(out.c_str(), "wb", stdout);
      std::freopen(err.c_str(), "wb", stderr);
      std::vector<char*> argv{const_cast<char*>(TOV_CONVERT_PATH)};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(TOV_CONVERT_PATH, argv.data());
      _exit(127);
    }
    int raw = 0;
    waitpid(child, &raw, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
  }

  std::string dir_;
};

TEST_F(TovConvert, ConvertsEachFormatOrPrintsTheParsersMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{}, R"({"b":[1,-2,1.5],"a":"x"})", 0, "{\"a\":\"x\",\"b\":[1,-2,1.5]}\n", ""},
      {{"--indent"}, R"({"a":[1]})", 0, "{\n    \"a\": [\n        1\n    ]\n}\n", ""},
      {{"--from", "json"}, "1 2", 1, "",
       "Error: The document root must not be followed by other values. at offset 2.\n"},
      {{"--from=json"}, "[1]\0[2"s, 0, "[1]\n", ""},
      {{}, "", 0, "", ""},
      {{"--from", "json"}, " \n", 0, "", ""},
      // Sniffed: a MessagePack map header.
      {{}, "\x81\xA1" "a\x01", 0, "{\"a\":1}\n", ""},
      {{}, "\x91\x01\x02", 1, "", "Extra MessgePack data found in body\n"},
      {{"--from", "msgpack"}, "\xC4\x03" "abc", 0, "\"YWJj\"\n", ""},
      {{"--from", "msgpack"}, "\xC1", 1, "", "Invalid MessagePack data at position 1.\n"},
      {{"--from", "msgpack"}, "\xCD\x01", 1, "", "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.\n"},
      // Sniffed: a YAML document marker.
      {{}, "---\na: [1, x]\n", 0, "{\"a\":[1,\"x\"]}\n", ""},
      {{"--from", "yaml"}, "a: 1\r\nb: yes\r\n", 0, "{\"a\":1,\"b\":true}\n", ""},
      {{"--from", "yaml"}, "b: *x\n", 1, "", "Undefined alias encountered: \"x\". At line: 1 col: 4\n"},
      // Nothing recognised: the text itself. Only spaces may come before a
      // marker, as in the plug-in's values.
      {{}, "hello", 0, "\"hello\"\n", ""},
      {{}, "  [1]", 0, "[1]\n", ""},
      {{}, "\t{}", 0, "\"\\t{}\"\n", ""},
      {{}, "\r\n---\n", 0, "\"\\r\\n---\\n\"\n", ""},
      {{"--from", "xml"}, "", 2, "", "tov-convert: unknown format 'xml'\n"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Run(c.args, c.input);
    const std::string label = (c.args.empty() ? "" : c.args[0]) + " " + c.input;
    EXPECT_EQ(outcome.status, c.status) << label;
    EXPECT_EQ(outcome.out, c.out) << label;
    EXPECT_EQ(outcome.err, c.err) << label;
  }
}

TEST_F(TovConvert, ReadsAFileAndRejectsBadArguments) {
  EXPECT_EQ(Run({"--from", "json"}, "[true]", true).out, "[true]\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"--from"}, {"a", "b"}, {Path("missing")}}) {
    const Outcome outcome = Run(args, "");
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_FALSE(outcome.err.empty()) << args[0];
    EXPECT_TRUE(outcome.out.empty()) << args[0];
  }
}

TEST_F(TovConvert, SurvivesHostileInputs) {
  std::string deep(1000000, '[');
  deep += std::string(1000000, ']');
  const Outcome deepJson = Run({}, deep);
  EXPECT_EQ(deepJson.status, 0);
  EXPECT_EQ(deepJson.out, deep + "\n");

  // A million nested one-element arrays, then a declared count of 2^32 - 1
  // with nothing behind it.
  const Outcome deepPack = Run({"--from", "msgpack"}, std::string(1000000, '\x91') + "\xDD\xFF\xFF\xFF\xFF");
  EXPECT_EQ(deepPack.status, 0) << deepPack.err;

  std::string laughs = "a0: &a0 [x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < 10; ++i) {
    laughs += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int j = 0; j < 9; ++j) laughs += (j ? ", *a" : "*a") + std::to_string(i - 1);
    laughs += "]\n";
  }
  const Outcome bomb = Run({"--from", "yaml"}, laughs);
  EXPECT_EQ(bomb.status, 1);
  EXPECT_NE(bomb.err.find("At line: "), std::string::npos) << bomb.err;

  // Random bytes in every mode: an answer or a message, never a crash.
  std::mt19937 random(7);
  for (const char* from : {"auto", "json", "msgpack", "yaml"}) {
    for (int round = 0; round < 25; ++round) {
      std::string bytes(random() % 64, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      const Outcome outcome = Run({"--from", from}, bytes);
      EXPECT_TRUE(outcome.status == 0 || outcome.status == 1) << from << " " << outcome.status;
      EXPECT_EQ(outcome.status == 0, outcome.err.empty()) << from;
    }
  }
}

}  // namespace
