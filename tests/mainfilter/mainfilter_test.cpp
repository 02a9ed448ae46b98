// The chain runner with real processes: stand-in filters (ztt_copy,
// ztt_fail, ztt_sleep) are linked into a temporary filter directory under the
// names a test chain gives them, and a PPD variant names that chain.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runfilter.h"
#include "ztstreams.h"

extern char** environ;

namespace {

// What the runner writes when a filter program is missing: the cause, then
// the fixed line.
std::string ExecFailure(const std::string& path) {
  return "ERROR: ztmainfilter: cannot run the filter " + path + ": No such file or directory\n" +
         "ERROR: Unable to exec filter " + path + ".\n";
}

// The sample PPD without its chain lines, with the given chain, directory and
// further lines instead (an empty chain or directory leaves the line out).
std::string ChainPPDText(const std::string& chain, const std::string& dir, const std::string& extra = "") {
  std::istringstream in(SamplePPDText());
  std::string text, line;
  while (std::getline(in, line)) {
    if (line.rfind("*QKFilterChain:", 0) == 0 || line.rfind("*QKFilterDir:", 0) == 0 ||
        line.find("ExecCondition:") != std::string::npos)
      continue;
    text += line + "\n";
  }
  if (!chain.empty()) text += "*QKFilterChain: \"" + chain + "\"\n";
  if (!dir.empty()) text += "*QKFilterDir: \"" + dir + "\"\n";
  return text + extra;
}

// Under LeakSanitizer the runner ends with a report of the libcups leaks the
// suppression file names; that report is not one of the runner's messages.
std::string WithoutLeakReport(std::string err) {
  size_t pos = err.find("-----------------------------------------------------\nSuppressions used:");
  if (pos != std::string::npos) err.erase(pos);
  return err;
}

bool WaitForFile(const std::string& path, int seconds = 20) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (access(path.c_str(), F_OK) != 0) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class MainfilterTest : public ::testing::Test {
 protected:
  // Makes `name` in the filter directory start the stand-in `program`.
  void Link(const std::string& name, const std::string& program) {
    ASSERT_EQ(symlink(ProgramPath(program).c_str(), (filters_.path() + "/" + name).c_str()), 0) << name;
  }

  std::string RecordPath(const std::string& name) const { return records_.path() + "/" + name; }
  std::string Record(const std::string& name) const { return ReadFileText(RecordPath(name)); }

  FilterResult Run(const std::string& ppdText, const std::string& input, const std::string& options = "",
                   const std::vector<std::string>& extraArgs = {}) {
    TempFile ppd(ppdText, ".ppd");
    auto argv = FilterArgv("ztmainfilter", options);
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    RunOptions opts;
    opts.ppd = ppd.path();
    opts.extraEnv = {"ZTT_RECORD_DIR=" + records_.path(), "ZTT_MARK=inherited",
                     "ZTT_FAIL_AFTER=" + RecordPath("s.ready")};
    FilterResult r = RunFilter(argv, input, opts);
    r.err = WithoutLeakReport(r.err);
    return r;
  }

  // Starts the runner with the given descriptors as its standard streams.
  pid_t Spawn(const std::string& ppdPath, int in, int out, int err) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("PPD=", 0) != 0) env.emplace_back(*e);
    }
    env.push_back("PPD=" + ppdPath);
    env.push_back("ZTT_RECORD_DIR=" + records_.path());
    auto argv = FilterArgv("ztmainfilter");
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execve(cargv[0], cargv.data(), cenv.data());
      _exit(127);
    }
    return pid;
  }

  // Exit status as RunFilter reports it; -1 (after killing it) on timeout.
  static int WaitStatus(pid_t pid, int seconds = 30) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  TempDir filters_;
  TempDir records_;
};

// ---- Pipeline --------------------------------------------------------------

TEST_F(MainfilterTest, RunsTheChainInOrderAndPassesAllData) {
  Link("a", "ztt_copy");
  Link("b", "ztt_copy");
  Link("c", "ztt_copy");
  std::string input = PatternBytes(3 * 1024 * 1024 + 17, 7);  // more than any pipe holds
  FilterResult r = Run(ChainPPDText("a,b,c", filters_.path()), input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), input.size() + 9);
  EXPECT_TRUE(r.out == input + "[a][b][c]");
}

TEST_F(MainfilterTest, OneFilterUsesTheRunnersOwnStreams) {
  Link("a", "ztt_copy");
  FilterResult r = Run(ChainPPDText("a", filters_.path()), "page data");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "page data[a]");
}

// The job's arguments and environment reach every child; the job file only
// the first, which reads it instead of standard input.
TEST_F(MainfilterTest, EveryChildGetsTheJobArgumentsOnlyTheFirstTheFile) {
  Link("a", "ztt_copy");
  Link("b", "ztt_copy");
  TempFile ppd(ChainPPDText("a,b", filters_.path()), ".ppd");
  TempFile job("file data");
  RunOptions opts;
  opts.ppd = ppd.path();
  opts.extraEnv = {"ZTT_RECORD_DIR=" + records_.path(), "ZTT_MARK=inherited"};
  FilterResult r = RunFilter(FilterArgv("ztmainfilter", "QKSkip=True", "2"), "stdin", opts);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "stdin[a][b]");
  const std::string args = "argv1=1\nargv2=tester\nargv3=test job\nargv4=2\nargv5=QKSkip=True\n";
  const std::string env = "PPD=" + ppd.path() + "\nZTT_MARK=inherited\n";
  EXPECT_EQ(Record("a"), "argc=6\n" + args + env);
  EXPECT_EQ(Record("b"), "argc=6\n" + args + env);

  auto argv = FilterArgv("ztmainfilter", "QKSkip=True", "2");
  argv.push_back(job.path());
  r = RunFilter(argv, "stdin", opts);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "file data[a][b]");
  EXPECT_EQ(Record("a"), "argc=7\n" + args + "argv6=" + job.path() + "\n" + env);
  EXPECT_EQ(Record("b"), "argc=6\n" + args + env);
}

TEST_F(MainfilterTest, SpacesInsideEntriesAreDropped) {
  Link("a", "ztt_copy");
  Link("bc", "ztt_copy");
  FilterResult r = Run(ChainPPDText(" a , b c ", filters_.path()), "x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "x[a][bc]");
}

TEST_F(MainfilterTest, EmptyEntriesAreSkipped) {
  Link("a", "ztt_copy");
  Link("b", "ztt_copy");
  FilterResult r = Run(ChainPPDText(",a,, ,b,", filters_.path()), "x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "x[a][b]");
}

TEST_F(MainfilterTest, AChainWithoutNamesIsAnError) {
  for (const char* chain : {"   ", ",", " , ,"}) {
    FilterResult r = Run(ChainPPDText(chain, filters_.path()), "x");
    EXPECT_EQ(r.status, 1) << chain;
    EXPECT_EQ(r.err, "ERROR: GetFilterList - FilterChain is not specified in the PPD file!\n") << chain;
    EXPECT_EQ(r.out, "") << chain;
  }
}

TEST_F(MainfilterTest, DirectoryAndNameAreJoinedWithOneSlash) {
  struct Case {
    std::string dir, chain, path;
  } cases[] = {
      {"/nonexistent-zt", "x", "/nonexistent-zt/x"},
      {"/nonexistent-zt/", "x", "/nonexistent-zt/x"},
      {"/nonexistent-zt", "/x", "/nonexistent-zt/x"},
      {"/nonexistent-zt/", "/x", "/nonexistent-zt//x"},
      {"", "zt-no-such-filter", "/usr/lib/cups/filter/zt-no-such-filter"},  // no QKFilterDir
  };
  for (const auto& c : cases) {
    FilterResult r = Run(ChainPPDText(c.chain, c.dir), "x");
    EXPECT_EQ(r.status, 1) << c.dir << " + " << c.chain;
    EXPECT_EQ(r.err, ExecFailure(c.path)) << c.dir << " + " << c.chain;
  }
  Link("a", "ztt_copy");
  FilterResult r = Run(ChainPPDText("/a", filters_.path() + "/"), "x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x[a]");
}

TEST_F(MainfilterTest, NoSelectedFilterEndsWithZeroWithoutReadingInput) {
  Link("a", "ztt_copy");
  Link("b", "ztt_copy");
  TempFile ppd(ChainPPDText("a,b", filters_.path(), "*aExecCondition: \"False\"\n*bExecCondition: \"x y eq\"\n"),
               ".ppd");
  TempFile input("job data that nobody reads");
  TempFile out, err;
  int in = open(input.path().c_str(), O_RDONLY);
  int outFd = open(out.path().c_str(), O_WRONLY);
  int errFd = open(err.path().c_str(), O_WRONLY);
  ASSERT_GE(in, 0);
  pid_t pid = Spawn(ppd.path(), in, outFd, errFd);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitStatus(pid), 0);
  EXPECT_EQ(lseek(in, 0, SEEK_CUR), 0);  // the shared file offset has not moved
  close(in);
  close(outFd);
  close(errFd);
  EXPECT_EQ(out.Read(), "");
  EXPECT_EQ(err.Read(), "");
}

// ---- Failures and cancel -----------------------------------------------------

TEST_F(MainfilterTest, FirstFailureStopsTheOtherFilters) {
  Link("s", "ztt_sleep");
  Link("f", "ztt_fail");  // fails once s is waiting (ZTT_FAIL_AFTER)
  FilterResult r = Run(ChainPPDText("s,f", filters_.path()), "x");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(WaitForFile(RecordPath("s.term"))) << "the sleeping filter got no SIGTERM";
}

TEST_F(MainfilterTest, ExecFailureFailsTheChain) {
  Link("a", "ztt_copy");
  FilterResult r = Run(ChainPPDText("a,missing", filters_.path()), "x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, ExecFailure(filters_.path() + "/missing"));
}

TEST_F(MainfilterTest, CancelIsPassedToEveryChildAndEndsWithZero) {
  Link("a", "ztt_copy");  // ends with 0 at once: the runner must go on waiting
  Link("s1", "ztt_sleep");
  Link("s2", "ztt_sleep");
  TempFile ppd(ChainPPDText("a,s1,s2", filters_.path()), ".ppd");
  TempFile out, err;
  int in = open("/dev/null", O_RDONLY);
  int outFd = open(out.path().c_str(), O_WRONLY);
  int errFd = open(err.path().c_str(), O_WRONLY);
  pid_t pid = Spawn(ppd.path(), in, outFd, errFd);
  close(in);
  close(outFd);
  close(errFd);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(RecordPath("s1.ready")));
  ASSERT_TRUE(WaitForFile(RecordPath("s2.ready")));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the runner stopped while filters were running";
  kill(pid, SIGTERM);
  // The children end by the forwarded signal: a failure, but after a cancel.
  EXPECT_EQ(WaitStatus(pid), 0);
  EXPECT_TRUE(WaitForFile(RecordPath("s1.term")));
  EXPECT_TRUE(WaitForFile(RecordPath("s2.term")));
  EXPECT_EQ(err.Read(), "");
}

// ---- Start-up failures ---------------------------------------------------------

struct StartupCase {
  const char* name;
  std::string ppdText;  // empty: PPD unset; "missing": a path that does not exist
  int argc;             // entries in argv
  std::string err;
};
void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class MainfilterStartup : public ::testing::TestWithParam<StartupCase> {};

TEST_P(MainfilterStartup, ReportsAndEndsWithOne) {
  const StartupCase& c = GetParam();
  std::unique_ptr<TempFile> ppd;
  RunOptions opts;
  if (c.ppdText == "missing") {
    opts.ppd = "/nonexistent-zt/model.ppd";
  } else if (!c.ppdText.empty()) {
    ppd = std::make_unique<TempFile>(c.ppdText, ".ppd");
    opts.ppd = ppd->path();
  }
  auto argv = FilterArgv("ztmainfilter");
  argv.resize(static_cast<size_t>(c.argc), "extra");
  FilterResult r = RunFilter(argv, "x", opts);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.out, "");
}

const std::string kUsage = "ERROR: ztmainfilter job-id user title copies options [file]\n";
const std::string kNoChain = "ERROR: GetFilterList - FilterChain is not specified in the PPD file!\n";

INSTANTIATE_TEST_SUITE_P(
    Messages, MainfilterStartup,
    ::testing::Values(
        StartupCase{"TooFewArguments", ChainPPDText("a", "/tmp"), 5, kUsage},
        StartupCase{"TooManyArguments", ChainPPDText("a", "/tmp"), 8, kUsage},
        StartupCase{"NoPPDVariable", "", 6, "ERROR: The environmental variable PPD not specified!\n"},
        StartupCase{"PPDMissing", "missing", 6, "ERROR: PPD file can't open!\n"},
        StartupCase{"PPDUnreadable", "not a PPD file\n", 6, "ERROR: PPD file can't open!\n"},
        StartupCase{"NoChain", ChainPPDText("", "/tmp"), 6, kNoChain},
        StartupCase{"UnknownManufacturer", [] {
                      std::string t = ChainPPDText("a", "/tmp");
                      t.replace(t.find("*Manufacturer: \"Korva\""), 22, "*Manufacturer: \"korva\"");
                      return t;
                    }(),
                    6, "ERROR: VI_CopyAttribute: No PPD Prefix.\n" + kNoChain}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

// ---- Exec conditions --------------------------------------------------------------

struct ConditionCase {
  const char* name;
  std::string condition;
  std::string options;
  bool runs;
  std::string err;
};
void PrintTo(const ConditionCase& c, std::ostream* os) { *os << c.name; }

class MainfilterCondition : public MainfilterTest, public ::testing::WithParamInterface<ConditionCase> {};

// Chain a,b with a condition on a only: b always runs and shows the chain ran.
TEST_P(MainfilterCondition, DecidesWhetherTheFilterRuns) {
  const ConditionCase& c = GetParam();
  Link("a", "ztt_copy");
  Link("b", "ztt_copy");
  FilterResult r =
      Run(ChainPPDText("a,b", filters_.path(), "*aExecCondition: \"" + c.condition + "\"\n"), "x", c.options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, c.runs ? "x[a][b]" : "x[b]");
  EXPECT_EQ(r.err, c.err);
}

std::string Repeat(const std::string& token, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += token + " ";
  return s;
}

const std::string kTooShort = "ERROR: Main Filter - evalPSStack : too short stack for ";

INSTANTIATE_TEST_SUITE_P(
    Evaluator, MainfilterCondition,
    ::testing::Values(
        ConditionCase{"ChoiceEqualsDefault", "$QKSkip True eq", "", false, ""},
        ConditionCase{"ChoiceEqualsOption", "$QKSkip True eq", "QKSkip=True", true, ""},
        ConditionCase{"IppOptionIsMarked", "$Duplex DuplexNoTumble eq", "sides=two-sided-long-edge", true, ""},
        ConditionCase{"AndOfTwoChoices", "$QKTrapping True eq $QKColorMode Color eq and", "QKTrapping=True", true,
                      ""},
        ConditionCase{"AndOneFalse", "$QKTrapping True eq $QKColorMode Color eq and",
                      "QKTrapping=True QKColorMode=Black", false, ""},
        ConditionCase{"LoneChoiceTrue", "$QKSkip", "QKSkip=True", true, ""},
        ConditionCase{"LoneChoiceFalse", "$QKSkip", "", false, ""},
        ConditionCase{"UnknownOptionRunsSilently", "$QKNoSuchOption x eq", "", true, ""},
        ConditionCase{"ExtraSpaces", "   $QKSkip    True   eq  ", "QKSkip=True", true, ""},
        ConditionCase{"LiteralFalse", "False", "", false, ""},
        ConditionCase{"LiteralOne", "1", "", false, ""},
        ConditionCase{"LowerCaseTrue", "true", "", false, ""},
        ConditionCase{"EPrefixIsEq", "True True e", "", true, ""},
        ConditionCase{"NPrefixIsNe", "x y n", "", true, ""},
        ConditionCase{"APrefixIsAnd", "True False a", "", false, ""},
        ConditionCase{"OPrefixIsOr", "False True o", "", true, ""},
        ConditionCase{"LongerTokenIsLiteral", "x eqx eq", "", false, ""},
        // 40 values on the stack, 81 tokens: both arrays grow past their first size.
        ConditionCase{"DeepStackFalse", Repeat("x", 40) + Repeat("e", 39), "", false, ""},
        ConditionCase{"DeepStackTrue", Repeat("x", 40) + Repeat("e", 39) + "False e", "", true, ""},
        ConditionCase{"EmptyCondition", "", "", true,
                      "ERROR: evalPSInvocation : Bad argument\n"
                      "ERROR: Main Filter - evalPSStack : Invalid arguments\n"},
        ConditionCase{"OnlySpaces", "   ", "", true, "ERROR: Main Filter - evalPSStack : Invalid arguments\n"},
        ConditionCase{"ThreeLiterals", "x y z", "", true,
                      "ERROR: Main Filter - evalPSStack : stack contains more than 2 objects\n"},
        ConditionCase{"EqFirst", "eq", "", true, kTooShort + "eq operator\n"},
        ConditionCase{"NeOnOne", "x n", "", true, kTooShort + "ne operator\n"},
        ConditionCase{"AndOnOne", "x an", "", true, kTooShort + "and operator\n"},
        ConditionCase{"OrFirst", "o", "", true, kTooShort + "or operator\n"},
        ConditionCase{"TabDoesNotSeparate", "True\tTrue eq", "", true, kTooShort + "eq operator\n"}),
    [](const ::testing::TestParamInfo<ConditionCase>& info) { return std::string(info.param.name); });

// ---- The sample model's chain ------------------------------------------------------

struct SampleCase {
  const char* name;
  std::string options;
  std::string out;
};
void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class MainfilterSampleChain : public MainfilterTest, public ::testing::WithParamInterface<SampleCase> {};

// Every program of the sample chain is a copier here, so the output lists the
// programs that ran, in order.
TEST_P(MainfilterSampleChain, SelectsTheFiltersTheJobNeeds) {
  for (const char* name : {"cupstoztraster", "ztskipblank", "ztcolorconv", "zttrapping", "ztedgeenhance",
                           "ztdigitalfilter", "zttrc", "ztrotate", "ztmivo5", "ztrastertohbpl"})
    Link(name, "ztt_copy");
  std::string text = SamplePPDText({{"*QKFilterDir: \"/usr/lib/cups/filter/korva-zt\"",
                                     "*QKFilterDir: \"" + filters_.path() + "\""}});
  FilterResult r = Run(text, "job", GetParam().options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "job" + GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Options, MainfilterSampleChain,
    ::testing::Values(
        SampleCase{"Defaults", "", "[cupstoztraster][ztcolorconv][ztmivo5][ztrastertohbpl]"},
        SampleCase{"Everything",
                   "QKSkip=True QKTrapping=True QKEdgeEnhance=True QKDigitalFilter=Low QKTonerSaver=True "
                   "Duplex=DuplexNoTumble",
                   "[cupstoztraster][ztskipblank][ztcolorconv][zttrapping][ztedgeenhance][ztdigitalfilter][zttrc]"
                   "[ztrotate][ztmivo5][ztrastertohbpl]"},
        SampleCase{"NoTrappingInMono", "QKTrapping=True QKColorMode=Black",
                   "[cupstoztraster][ztcolorconv][ztmivo5][ztrastertohbpl]"},
        SampleCase{"ThinInkInMono", "QKThinInkPrint=True QKColorMode=Black",
                   "[cupstoztraster][ztcolorconv][zttrc][ztmivo5][ztrastertohbpl]"}),
    [](const ::testing::TestParamInfo<SampleCase>& info) { return std::string(info.param.name); });

}  // namespace
