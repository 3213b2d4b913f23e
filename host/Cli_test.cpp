// The command line as parsed before any plug-in is asked anything: what is a
// usage error, and what it says. The options-versus-paths rules are run end
// to end in tests/CommandLine_test.cpp.
#include "host/Cli.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tv::host {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "tarrovel");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char *outText = nullptr, *errText = nullptr;
  size_t outSize = 0, errSize = 0;
  FILE *out = open_memstream(&outText, &outSize);
  FILE *err = open_memstream(&errText, &errSize);
  Outcome o;
  o.status = RunCli(int(args.size()), argv.data(), out, err);
  fclose(out);
  fclose(err);
  o.out.assign(outText, outSize);
  o.err.assign(errText, errSize);
  free(outText);
  free(errText);
  return o;
}

TEST(CliTest, UsageErrorsSayWhatIsWrongAndExitWith2) {
  const struct {
    std::vector<std::string> args;
    const char *says;
  } cases[] = {
      {{}, ""},
      {{"zap", "x"}, "unknown command 'zap'"},
      {{"--yes", "run", "2001", "x"}, "unknown command '--yes'"},  // options follow the command
      {{"menu"}, "menu needs at least one PATH"},
      {{"menu", "--json", "--"}, "menu needs at least one PATH"},
      {{"menu", "--yes", "x"}, "unknown option '--yes' for menu"},
      {{"run"}, "run needs an ITEM and at least one PATH"},
      {{"run", "--yes", "-v"}, "run needs an ITEM and at least one PATH"},
      {{"run", "2001"}, "run needs at least one PATH"},
      {{"run", "--json", "2001", "x"}, "unknown option '--json' for run"},
      {{"run", "-x", "2001", "x"}, "unknown option '-x' for run"},
      {{"run", "", "x"}, "the item to run is empty"},
  };
  for (const auto &c : cases) {
    std::string shown;
    for (const std::string &a : c.args) shown += " [" + a + "]";
    Outcome o = Cli(c.args);
    EXPECT_EQ(o.status, kExitUsage) << shown;
    EXPECT_EQ(o.out, "") << shown;
    const std::string expected =
        (c.says[0] != 0 ? "tarrovel: " + std::string(c.says) + "\n" : std::string()) + "Try 'tarrovel --help'.\n";
    EXPECT_EQ(o.err, expected) << shown;
  }
}

TEST(CliTest, HelpAndVersionGoToStandardOutput) {
  for (const char *help : {"--help", "-h"}) {
    Outcome o = Cli({help});
    EXPECT_EQ(o.status, kExitOK);
    EXPECT_EQ(o.out.rfind("usage: tarrovel menu [--json] [--] PATH...\n", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("tarrovel run [--yes] [-v] [--gui] [--] ITEM PATH..."), std::string::npos);
    EXPECT_EQ(o.err, "");
  }
  Outcome o = Cli({"--version"});
  EXPECT_EQ(o.status, kExitOK);
  EXPECT_EQ(o.out.rfind("tarrovel ", 0), 0u) << o.out;
  EXPECT_EQ(o.out.back(), '\n');
  EXPECT_EQ(o.err, "");
}

}  // namespace
}  // namespace tv::host
