#include "colour_desc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

Description::Description(const std::string& path) : path_(path) {
  std::ifstream in(path);
  if (!in) throw DescError("cannot read " + path + ": " + strerror(errno));
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    const size_t hash = text.find('#');
    if (hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    DescLine line;
    line.number = number;
    for (std::string w; words >> w;) line.words.push_back(w);
    if (!line.words.empty()) lines_.push_back(std::move(line));
  }
  if (in.bad()) throw DescError("cannot read " + path);
}

std::string Description::Resolve(const std::string& name) const {
  if (!name.empty() && name[0] == '/') return name;
  const size_t slash = path_.rfind('/');
  return slash == std::string::npos ? name : path_.substr(0, slash + 1) + name;
}

void Description::Fail(const DescLine& line, const std::string& what) const {
  throw DescError(path_ + ":" + std::to_string(line.number) + ": " + what);
}

void Description::ExpectWords(const DescLine& line, size_t n) const {
  if (line.words.size() != n)
    Fail(line, "\"" + line.words[0] + "\" takes " + std::to_string(n - 1) + " value(s), found " +
                   std::to_string(line.words.size() - 1));
}

long Description::Integer(const DescLine& line, size_t i, long min, long max) const {
  if (i >= line.words.size()) Fail(line, "missing value");
  const std::string& w = line.words[i];
  char* end = nullptr;
  errno = 0;
  const long v = strtol(w.c_str(), &end, 10);
  if (w.empty() || *end != '\0' || errno == ERANGE) Fail(line, "\"" + w + "\" is not an integer");
  if (v < min || v > max)
    Fail(line, "\"" + w + "\" is outside " + std::to_string(min) + " .. " + std::to_string(max));
  return v;
}

double Description::Number(const DescLine& line, size_t i, double min, double max) const {
  if (i >= line.words.size()) Fail(line, "missing value");
  const std::string& w = line.words[i];
  char* end = nullptr;
  const double v = strtod(w.c_str(), &end);
  if (w.empty() || *end != '\0' || !std::isfinite(v)) Fail(line, "\"" + w + "\" is not a number");
  if (v < min || v > max) {
    char range[64];
    snprintf(range, sizeof range, "%g .. %g", min, max);
    Fail(line, "\"" + w + "\" is outside " + range);
  }
  return v;
}

std::vector<int> ReadGridFile(const std::string& path, size_t count) {
  std::ifstream in(path);
  if (!in) throw DescError("cannot read grid " + path + ": " + strerror(errno));
  std::vector<int> values;
  std::string w;
  while (in >> w) {
    if (w[0] == '#') {
      std::getline(in, w);
      continue;
    }
    char* end = nullptr;
    const long v = strtol(w.c_str(), &end, 10);
    if (*end != '\0' || v < 0 || v > 255) throw DescError(path + ": \"" + w + "\" is not a value 0 .. 255");
    if (values.size() == count) throw DescError(path + ": more than " + std::to_string(count) + " values");
    values.push_back(static_cast<int>(v));
  }
  if (values.size() != count)
    throw DescError(path + ": " + std::to_string(values.size()) + " values, expected " + std::to_string(count));
  return values;
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw DescError("cannot create a file beside " + path + ": " + strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size();
  int e = ok ? 0 : (errno ? errno : EIO);
  if (ok && fchmod(fd, 0644) != 0) ok = false, e = errno;
  if (close(fd) != 0 && ok) ok = false, e = errno;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false, e = errno;
  if (!ok) {
    unlink(temp.c_str());
    throw DescError("cannot write " + path + ": " + strerror(e));
  }
}

void AppendBE32(std::string& s, unsigned long v) {
  s.push_back(static_cast<char>(v >> 24));
  s.push_back(static_cast<char>(v >> 16));
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v));
}
void AppendBE16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v));
}
void PutBE32(std::string& s, size_t at, unsigned long v) {
  s[at] = static_cast<char>(v >> 24);
  s[at + 1] = static_cast<char>(v >> 16);
  s[at + 2] = static_cast<char>(v >> 8);
  s[at + 3] = static_cast<char>(v);
}
