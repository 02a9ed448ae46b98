#include "runfilter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

std::string ProgramPath(const std::string& name) { return std::string(ZT_BIN_DIR) + "/" + name; }
std::string DataPath(const std::string& name) { return std::string(ZT_DATA_DIR) + "/" + name; }

std::vector<std::string> FilterArgv(const std::string& program, const std::string& options,
                                    const std::string& copies) {
  return {ProgramPath(program), "1", "tester", "test job", copies, options};
}

FilterResult RunFilter(const std::vector<std::string>& argv, const std::string& input, const RunOptions& opts) {
  FilterResult result;
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "PPD=", 4) != 0) env.emplace_back(*e);
  }
  if (!opts.ppd.empty()) env.push_back("PPD=" + opts.ppd);
  for (const auto& e : opts.extraEnv) env.push_back(e);
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    signal(SIGPIPE, SIG_DFL);
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (opts.closeStdoutEarly) {
    close(outPipe[0]);
    outPipe[0] = -1;
  }
  fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  // SIGPIPE from a child that stops reading must not end the test.
  struct sigaction ign {}, old {};
  ign.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ign, &old);

  size_t written = 0;
  int inFd = inPipe[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opts.timeoutSeconds);
  char buf[65536];
  while (outPipe[0] >= 0 || errPipe[0] >= 0) {
    struct pollfd fds[3];
    int n = 0;
    int idxIn = -1, idxOut = -1, idxErr = -1;
    if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; idxIn = n++; }
    if (outPipe[0] >= 0) { fds[n] = {outPipe[0], POLLIN, 0}; idxOut = n++; }
    if (errPipe[0] >= 0) { fds[n] = {errPipe[0], POLLIN, 0}; idxErr = n++; }
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    int r = poll(fds, n, left);
    if (r < 0 && errno == EINTR) continue;
    if (idxIn >= 0 && fds[idxIn].revents) {
      ssize_t w = write(inFd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
    for (int which = 0; which < 2; ++which) {
      int idx = which ? idxErr : idxOut;
      int& fd = which ? errPipe[0] : outPipe[0];
      if (idx >= 0 && fds[idx].revents) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
          (which ? result.err : result.out).append(buf, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          close(fd);
          fd = -1;
        }
      }
    }
  }
  if (inFd >= 0) close(inFd);
  if (outPipe[0] >= 0) close(outPipe[0]);
  if (errPipe[0] >= 0) close(errPipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  sigaction(SIGPIPE, &old, nullptr);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

TempFile::TempFile(const std::string& contents, const std::string& suffix) {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/zttest-XXXXXX" + suffix;
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) throw std::runtime_error("mkstemps failed");
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t w = write(fd, contents.data() + done, contents.size() - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  close(fd);
  path_ = name.data();
}

TempFile::~TempFile() { unlink(path_.c_str()); }

std::string TempFile::Read() const { return ReadFileText(path_); }

TempDir::TempDir() {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/zttestdir-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string SamplePPDText(const std::vector<std::pair<std::string, std::string>>& replace,
                          const std::string& extra) {
  std::string text = ReadFileText(DataPath("korva-zt.ppd"));
  for (const auto& [from, to] : replace) {
    size_t pos = text.find(from);
    if (pos == std::string::npos) throw std::runtime_error("sample PPD has no '" + from + "'");
    text.replace(pos, from.size(), to);
  }
  return text + extra;
}

std::string RebrandPPDText(const std::string& korvaText, const std::string& manufacturer, const std::string& prefix) {
  std::string text = std::regex_replace(korvaText, std::regex(R"((\*Default|\*|\$)QK)"), "$1" + prefix);
  const std::string from = "*Manufacturer: \"Korva\"";
  const size_t pos = text.find(from);
  if (pos == std::string::npos) throw std::runtime_error("PPD has no Korva manufacturer");
  return text.replace(pos, from.size(), "*Manufacturer: \"" + manufacturer + "\"");
}
