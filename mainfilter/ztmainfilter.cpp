// ztmainfilter: the one filter CUPS starts for a queue of this driver.
//
// It reads the driver's filter chain and filter directory from the queue's
// PPD, asks each filter's exec condition whether the filter takes part in this
// job, and runs the selected filters as one pipeline:
//
//   runner stdin (or job file) -> filter 0 -> pipe 1 -> filter 1 -> ... -> runner stdout
//
// Every child shares the runner's standard error. The runner waits for the
// children, stops the chain at the first failure and passes SIGTERM on.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "hbploption.h"
#include "ztdebug.h"
#include "zterror.h"
#include "ztio.h"

// ---- Process-wide state (read by the SIGTERM handler) -----------------------

// Entries of ProcessList. While the chain is read: commas + 1; once resolved:
// the number of selected filters.
volatile sig_atomic_t FilterNum = 0;
// Child pid per chain position, 0 once that child is reaped. Null until the
// children are about to be started; the array itself is owned by RunChain.
volatile pid_t* volatile ProcessList = nullptr;
// Set when the runner receives SIGTERM: a failure after a cancel ends with 0.
volatile sig_atomic_t CancelJob = 0;

namespace {

constexpr size_t kAttrBufferSize = 2048;  // chain text, filter directory
constexpr size_t kConditionKeySize = 64;
constexpr const char* kDefaultFilterDir = "/usr/lib/cups/filter";
constexpr size_t kTokenListInitial = 64;
constexpr size_t kStackInitial = 32;

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
struct PPDCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PPDHandle = std::unique_ptr<ppd_file_t, PPDCloser>;

// Forwards a cancel to every recorded child; only sets flags and calls kill().
void sighandler(int) {
  int savedErrno = errno;
  CancelJob = 1;
  volatile pid_t* list = ProcessList;
  if (list) {
    for (int i = 0; i < FilterNum; ++i) {
      if (list[i] > 0) kill(list[i], SIGTERM);
    }
  }
  errno = savedErrno;
}

// ---- Exec-condition evaluator --------------------------------------------------
//
// A filter's condition is the PPD attribute <name>ExecCondition, a postfix
// expression over the job's marked choices, e.g. "$QKTrapping True eq". Only
// a condition that evaluates cleanly to something other than "True" removes
// the filter; a missing or broken condition lets it run.

enum class PSOperator { kNone, kEq, kNe, kAnd, kOr };

struct OperatorName {
  const char* name;
  PSOperator op;
};
// Tried in this order; a token names an operator when it is a non-empty
// leading part of the name ("e", "a", "an" ...).
constexpr OperatorName kOperators[] = {
    {"eq", PSOperator::kEq}, {"ne", PSOperator::kNe}, {"and", PSOperator::kAnd}, {"or", PSOperator::kOr}};

PSOperator OperatorOf(const char* token, const char** name) {
  if (token[0] == '$') return PSOperator::kNone;
  size_t len = strlen(token);
  for (const OperatorName& o : kOperators) {
    if (len <= strlen(o.name) && strncmp(token, o.name, len) == 0) {
      *name = o.name;
      return o.op;
    }
  }
  return PSOperator::kNone;
}

// Tokens point into the text they were cut from; the array is malloc'ed so
// that a failed growth keeps the old one for release.
struct TokenList {
  std::unique_ptr<char*, FreeDeleter> items;
  size_t count = 0;
};

// Splits text in place at spaces (only the space character separates);
// empty tokens are dropped. 0, or -1 after its message.
int CreateTokenList(char* text, TokenList* list) {
  size_t capacity = kTokenListInitial;
  list->items.reset(static_cast<char**>(malloc(capacity * sizeof(char*))));
  if (!list->items) {
    fputs("ERROR: Main Filter - CreateTokenList : malloc failed\n", stderr);
    return -1;
  }
  list->count = 0;
  char* start = text;
  for (char* p = text;; ++p) {
    char c = *p;
    if (c != ' ' && c != '\0') continue;
    *p = '\0';
    if (*start) {
      if (list->count == capacity) {
        capacity *= 2;
        auto* grown = static_cast<char**>(realloc(list->items.get(), capacity * sizeof(char*)));
        if (!grown) {
          fputs("ERROR: Main Filter - CreateTokenList : realloc failed\n", stderr);
          list->items.reset();
          list->count = 0;
          return -1;
        }
        (void)list->items.release();
        list->items.reset(grown);
      }
      list->items.get()[list->count++] = start;
    }
    if (c == '\0') break;
    start = p + 1;
  }
  return 0;
}

}  // namespace

// Evaluates the tokens against the marked choices of ppd. 1 when the result
// is "True" or the expression cannot be evaluated, 0 otherwise. The stack
// holds references only (tokens, choice names, the two constants).
int EvalPSStack(char** tokens, size_t count, ppd_file_t* ppd) {
  if (!tokens || !ppd || count == 0) {
    fputs("ERROR: Main Filter - evalPSStack : Invalid arguments\n", stderr);
    return 1;
  }
  size_t capacity = kStackInitial;
  std::unique_ptr<const char*, FreeDeleter> stack(static_cast<const char**>(malloc(capacity * sizeof(const char*))));
  if (!stack) {
    fputs("ERROR: Main Filter - evalPSStack : malloc failed\n", stderr);
    return 1;
  }
  size_t size = 0;
  for (size_t i = 0; i < count; ++i) {
    if (size == capacity) {
      capacity *= 2;
      auto* grown = static_cast<const char**>(realloc(stack.get(), capacity * sizeof(const char*)));
      if (!grown) {
        fputs("ERROR: Main Filter - evalPSStack : realloc failed\n", stderr);
        return 1;
      }
      (void)stack.release();
      stack.reset(grown);
    }
    const char** s = stack.get();
    const char* token = tokens[i];
    if (token[0] == '$') {
      // An option without a marked choice makes the filter run, silently.
      ppd_choice_t* choice = ppdFindMarkedChoice(ppd, token + 1);
      if (!choice) return 1;
      s[size++] = choice->choice;
      continue;
    }
    const char* opName = nullptr;
    PSOperator op = OperatorOf(token, &opName);
    if (op == PSOperator::kNone) {
      s[size++] = token;
      continue;
    }
    if (size < 2) {
      fprintf(stderr, "ERROR: Main Filter - evalPSStack : too short stack for %s operator\n", opName);
      return 1;
    }
    const char* a = s[size - 2];
    const char* b = s[size - 1];
    bool result = false;
    switch (op) {
      case PSOperator::kEq: result = strcmp(a, b) == 0; break;
      case PSOperator::kNe: result = strcmp(a, b) != 0; break;
      case PSOperator::kAnd: result = strcmp(a, "True") == 0 && strcmp(b, "True") == 0; break;
      case PSOperator::kOr: result = strcmp(a, "True") == 0 || strcmp(b, "True") == 0; break;
      case PSOperator::kNone: break;
    }
    s[size - 2] = result ? "True" : "False";
    --size;
  }
  if (size != 1) {
    fputs("ERROR: Main Filter - evalPSStack : stack contains more than 2 objects\n", stderr);
    return 1;
  }
  return strcmp(stack.get()[0], "True") == 0 ? 1 : 0;
}

// Copies the condition text, splits it and evaluates it. 1 run, 0 skip.
int EvalPSInvocation(ppd_attr_t* attr, ppd_file_t* ppd) {
  const char* value = attr ? attr->value : nullptr;
  if (!value || !*value) {
    fputs("ERROR: evalPSInvocation : Bad argument\n", stderr);
    value = "";
  }
  std::unique_ptr<char, FreeDeleter> text(strdup(value));
  if (!text) {
    fputs("ERROR: evalPSInvocation : malloc failed\n", stderr);
    return 1;
  }
  TokenList tokens;
  if (CreateTokenList(text.get(), &tokens) != 0) {
    fputs("ERROR: Main Filter - EvalPSInvocation : CreateTokenList failed\n", stderr);
    return 1;
  }
  return EvalPSStack(tokens.items.get(), tokens.count, ppd);
}

// Whether the filter `name` takes part in the job: its condition is evaluated
// on a PPD instance of its own with the defaults and the job's options
// marked. 1 run, 0 skip; every failure lets the filter run.
int checkIfExecFilter(const char* name, const char* options) {
  const char* ppdPath = getenv("PPD");
  if (!ppdPath) {
    fputs("DEBUG: Main Filter - checkIfExecFilter : Bad argument\n", stderr);
    return 1;
  }
  char key[kConditionKeySize];
  if (snprintf(key, sizeof key, "%sExecCondition", name) <= 0) {
    fputs("ERROR: Main Filter - checkIfExecFilter : sprintf failed\n", stderr);
    return 1;
  }
  ZTPPDSetting setting;
  setting.ppd = ppdOpenFile(ppdPath);
  if (!setting.ppd) {
    fputs("ERROR: Main Filter - checkIfExecFilter : PPD can't open\n", stderr);
    return 1;
  }
  ppdMarkDefaults(setting.ppd);
  setting.numOptions = cupsParseOptions(options ? options : "", 0, &setting.options);
  if (setting.numOptions > 0) cupsMarkOptions(setting.ppd, setting.numOptions, setting.options);
  ppd_attr_t* attr = ppdFindAttr(setting.ppd, key, nullptr);
  if (!attr) return 1;
  return EvalPSInvocation(attr, setting.ppd);
}

namespace {

// ---- Reading the chain ----------------------------------------------------------

// Directory and name joined with exactly one "/" unless the directory already
// ends in one or the name begins with one.
std::string JoinFilterPath(const char* dir, const std::string& name) {
  std::string path = dir;
  size_t len = path.size();
  if (!(len > 0 && path[len - 1] == '/') && name[0] != '/') path += '/';
  return path + name;
}

// Walks the comma-separated chain text: spaces are dropped wherever they
// stand, each non-empty name whose condition holds becomes a path. Empty
// entries (",,", a trailing comma, only spaces) are skipped. Returns the
// number of names seen (selected or not).
size_t ResolveChain(const char* chain, const char* dir, const char* options, std::vector<std::string>* paths) {
  int commas = 0;
  for (const char* p = chain; *p; ++p) commas += (*p == ',');
  FilterNum = commas + 1;
  paths->reserve(static_cast<size_t>(commas) + 1);

  size_t names = 0;
  std::string name;
  for (const char* p = chain;; ++p) {
    char c = *p;
    if (c == ' ') continue;
    if (c != ',' && c != '\0') {
      name += c;
      continue;
    }
    if (!name.empty()) {
      ++names;
      if (checkIfExecFilter(name.c_str(), options)) paths->push_back(JoinFilterPath(dir, name));
      name.clear();
    }
    if (c == '\0') break;
  }
  return names;
}

// Opens the chain PPD, reads the chain and the directory and resolves the
// filters of this job into paths. 0, or 1 after its message.
int GetFilterList(const char* ppdPath, const char* options, std::vector<std::string>* paths) {
  PPDHandle ppd(ppdOpenFile(ppdPath));
  if (!ppd) {
    fputs("ERROR: PPD file can't open!\n", stderr);
    return 1;
  }
  char chain[kAttrBufferSize];
  char dir[kAttrBufferSize];
  if (VI_CopyAttribute(ppd.get(), "FilterChain", chain, sizeof chain) != 0) {
    fputs("ERROR: GetFilterList - FilterChain is not specified in the PPD file!\n", stderr);
    return 1;
  }
  if (VI_CopyAttribute(ppd.get(), "FilterDir", dir, sizeof dir) != 0) {
    snprintf(dir, sizeof dir, "%s", kDefaultFilterDir);
  }
  // A chain that names no filter at all cannot print anything: treat it as
  // missing rather than ending the job successfully with no output.
  if (ResolveChain(chain, dir, options, paths) == 0) {
    fputs("ERROR: GetFilterList - FilterChain is not specified in the PPD file!\n", stderr);
    return 1;
  }
  FilterNum = static_cast<sig_atomic_t>(paths->size());
  return 0;
}

// ---- Running the chain ----------------------------------------------------------

using PipeTable = std::vector<std::array<int, 2>>;  // {read end, write end} per position

void ClosePipeTable(const PipeTable& table) {
  for (const auto& entry : table) {
    for (int fd : entry) {
      if (fd >= 0) close(fd);
    }
  }
}

// The cause of a filter that cannot be started, then the fixed line.
void ReportExecFailure(const char* path, int err) {
  std::string what = std::string("cannot run the filter ") + path;
  ZTPrintCause("ztmainfilter", what.c_str(), err);
  fprintf(stderr, "ERROR: Unable to exec filter %s.\n", path);
}

// In the child at position i of n: wire the standard streams, drop every
// other descriptor of the table and exec the filter. Never returns.
[[noreturn]] void RunChild(size_t i, const PipeTable& table, const char* path, char* const* childArgv,
                           const sigset_t* mask) {
  signal(SIGTERM, SIG_DFL);  // the runner's handler must not act for a child
  sigprocmask(SIG_SETMASK, mask, nullptr);
  ztdebugstr(3, "DEBUG: This is a child process %d.\n", static_cast<int>(getpid()));
  size_t n = table.size();
  int in = table[i][0];
  int out = table[(i + 1) % n][1];
  if ((in != 0 && dup2(in, 0) < 0) || (out != 1 && dup2(out, 1) < 0)) {
    int err = errno;
    ReportExecFailure(path, err);
    _exit(err);
  }
  for (const auto& entry : table) {
    if (entry[0] != 0) close(entry[0]);
    if (entry[1] != 1) close(entry[1]);
  }
  ztdebugstr(1, "DEBUG: execute filter %s (%d)\n", path, static_cast<int>(getpid()));
  execv(path, childArgv);
  int err = errno;
  ReportExecFailure(path, err);
  _exit(err);
}

// Marks the reaped child in ProcessList; false when the pid is not ours.
bool ClearProcess(pid_t pid, int n) {
  for (int i = 0; i < n; ++i) {
    if (ProcessList[i] == pid) {
      ProcessList[i] = 0;
      return true;
    }
  }
  return false;
}

void TermRecordedChildren(int n) {
  for (int i = 0; i < n; ++i) {
    if (ProcessList[i] > 0) {
      ztdebugstr(1, "Killing process %d...\n", i);
      kill(ProcessList[i], SIGTERM);
    }
  }
}

// Waits until every child has ended or one fails. 0 when all ended with 0;
// on the first failure the others get SIGTERM and the result is 1 (0 when
// the job was cancelled).
int WaitChain(int n) {
  int left = n;
  while (left > 0) {
    int status = 0;
    pid_t pid = wait(&status);
    if (pid < 0) {
      if (errno == EINTR) continue;
      return CancelJob ? 0 : 1;
    }
    ztdebugstr(3, "Process %d exited\n", static_cast<int>(pid));
    if (!ClearProcess(pid, n)) continue;  // not a filter of this chain
    --left;
    bool failed = WIFEXITED(status) ? WEXITSTATUS(status) != 0 : WIFSIGNALED(status);
    if (failed) {
      ztdebugstr(1, "Error happened (%d). Exit status=%d Signal=%d\n", static_cast<int>(pid),
                 WIFEXITED(status) ? WEXITSTATUS(status) : 0, WIFSIGNALED(status) ? WTERMSIG(status) : 0);
      TermRecordedChildren(n);
      return CancelJob ? 0 : 1;
    }
  }
  return 0;
}

// Starts the selected filters as one pipeline and waits for them.
int RunChain(const std::vector<std::string>& paths, int argc, char* argv[]) {
  const size_t n = paths.size();
  const int count = static_cast<int>(n);

  // Argument lists are built before any fork: the child only wires and execs.
  std::vector<std::vector<char*>> childArgv(n);
  for (size_t i = 0; i < n; ++i) {
    childArgv[i].assign(argv, argv + 6);
    if (i == 0 && argc == 7) childArgv[i].push_back(argv[6]);
    childArgv[i].push_back(nullptr);
  }

  PipeTable table(n, {-1, -1});
  table[0] = {0, 1};
  for (size_t k = 1; k < n; ++k) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      ZTPrintCause("ztmainfilter", "cannot create a pipe", errno);
      table[0] = {-1, -1};  // the runner's own streams are not ours to close here
      ClosePipeTable(table);
      return 1;
    }
    table[k] = {fds[0], fds[1]};
    // Larger pipes let each filter hand over a whole chunk of lines per
    // wake-up of its neighbour; where the system refuses, the default stays.
    ZTGrowPipe(fds[1], ZT_PIPE_BYTES);
  }

  std::unique_ptr<pid_t[]> processes(new (std::nothrow) pid_t[n]());
  if (!processes) {
    table[0] = {-1, -1};
    ClosePipeTable(table);
    return 1;
  }
  ProcessList = processes.get();

  // SIGTERM waits while children are forked, so that a cancel reaches every
  // child that exists once it is delivered.
  sigset_t term, oldMask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &oldMask);
  bool forkFailed = false;
  for (size_t i = 0; i < n; ++i) {
    pid_t pid = fork();
    if (pid < 0) {
      ZTPrintCause("ztmainfilter", "cannot start a filter", errno);
      forkFailed = true;
      break;
    }
    if (pid == 0) RunChild(i, table, paths[i].c_str(), childArgv[i].data(), &oldMask);
    ProcessList[i] = pid;
  }
  // The runner keeps no reference to any pipe nor to its own stdin/stdout.
  ClosePipeTable(table);
  sigprocmask(SIG_SETMASK, &oldMask, nullptr);

  int result;
  if (forkFailed) {
    // Children already started must not run on into the job: stop and reap them.
    TermRecordedChildren(count);
    for (int i = 0; i < count; ++i) {
      pid_t pid = ProcessList[i];
      if (pid <= 0) continue;
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      ProcessList[i] = 0;
    }
    result = 1;
  } else {
    result = WaitChain(count);
  }
  ProcessList = nullptr;
  return result;
}

int RunMain(int argc, char* argv[]) {
  if (argc < 6 || argc > 7) {
    fputs("ERROR: ztmainfilter job-id user title copies options [file]\n", stderr);
    return 1;
  }
  const char* ppdPath = getenv("PPD");
  if (!ppdPath) {
    fputs("ERROR: The environmental variable PPD not specified!\n", stderr);
    return 1;
  }
  FilterNum = 0;

  std::vector<std::string> paths;
  if (GetFilterList(ppdPath, argv[5], &paths) != 0) return 1;
  ztdebugstr(2, "DEBUG: Filter Number: %d\n", static_cast<int>(FilterNum));

  // No filter selected: nothing runs and the input is left unread.
  int result = paths.empty() ? 0 : RunChain(paths, argc, argv);
  ztdebugstr(1, "DEBUG: End ztmainfilter\n");
  return result;
}

}  // namespace

int main(int argc, char* argv[]) {
  ztdebugstr(1, "DEBUG: Start ztmainfilter\n");
  setbuf(stderr, nullptr);
  signal(SIGTERM, sighandler);
  try {
    return RunMain(argc, argv);
  } catch (const std::bad_alloc&) {
    // Allocation failures of the chain's paths and lists end the run quietly.
    return 1;
  }
}
