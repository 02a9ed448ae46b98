// A stand-in filter for the chain runner's tests. What it does is fixed at
// build time (ZTT_MODE); its name is the name it was started under (the
// tests start it through links named after chain entries), because argv[0]
// is the runner's own.
//
// When ZTT_RECORD_DIR is set it first writes <dir>/<name> with its argument
// count, arguments and the PPD and ZTT_MARK variables, one per line.
//   copy:  copies its input (argv[6] or stdin) to stdout and appends "[name]"
//   fail:  waits for the file $ZTT_FAIL_AFTER if set, then exits with 3
//   sleep: creates <dir>/<name>.ready (holding its pid) and waits for SIGTERM; on SIGTERM it
//          creates <dir>/<name>.term and ends by that signal
#include <fcntl.h>
#include <signal.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t gTerm = 0;
void OnTerm(int) { gTerm = 1; }

std::string OwnName() {
  const char* path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  std::string s = path ? path : "unknown";
  size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string RecordPath(const std::string& suffix) {
  const char* dir = getenv("ZTT_RECORD_DIR");
  return dir ? std::string(dir) + "/" + OwnName() + suffix : std::string();
}

void WriteFile(const std::string& path, const std::string& text) {
  if (path.empty()) return;
  std::string tmp = path + ".part";
  FILE* f = fopen(tmp.c_str(), "w");
  if (!f) return;
  fputs(text.c_str(), f);
  fclose(f);
  rename(tmp.c_str(), path.c_str());  // readers never see a half-written record
}

void Record(int argc, char* argv[]) {
  std::string text = "argc=" + std::to_string(argc) + "\n";
  for (int i = 1; i < argc; ++i) text += "argv" + std::to_string(i) + "=" + argv[i] + "\n";
  const char* ppd = getenv("PPD");
  const char* mark = getenv("ZTT_MARK");
  text += std::string("PPD=") + (ppd ? ppd : "(unset)") + "\n";
  text += std::string("ZTT_MARK=") + (mark ? mark : "(unset)") + "\n";
  WriteFile(RecordPath(""), text);
}

int Copy(int argc, char* argv[]) {
  int in = argc > 6 ? open(argv[6], O_RDONLY) : 0;
  if (in < 0) return 4;
  char buf[65536];
  for (;;) {
    ssize_t got = read(in, buf, sizeof buf);
    if (got < 0) return 5;
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      ssize_t w = write(1, buf + done, static_cast<size_t>(got - done));
      if (w <= 0) return 6;
      done += w;
    }
  }
  std::string tag = "[" + OwnName() + "]";
  return write(1, tag.data(), tag.size()) == static_cast<ssize_t>(tag.size()) ? 0 : 6;
}

int Fail() {
  if (const char* after = getenv("ZTT_FAIL_AFTER")) {
    for (int i = 0; i < 2000 && access(after, F_OK) != 0; ++i) usleep(10000);
  }
  return 3;
}

int Sleep() {
  alarm(60);  // never outlive a broken test
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigprocmask(SIG_BLOCK, &block, &old);
  signal(SIGTERM, OnTerm);
  WriteFile(RecordPath(".ready"), std::to_string(getpid()) + "\n");
  while (!gTerm) sigsuspend(&old);
  WriteFile(RecordPath(".term"), "term\n");
  signal(SIGTERM, SIG_DFL);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  raise(SIGTERM);
  return 9;
}

}  // namespace

int main(int argc, char* argv[]) {
  Record(argc, argv);
  const std::string mode = ZTT_MODE;
  if (mode == "copy") return Copy(argc, argv);
  if (mode == "fail") return Fail();
  return Sleep();
}
