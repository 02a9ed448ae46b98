// Runs a program of the driver as CUPS would run a filter: argv, bytes on
// standard input, the PPD path in the environment; collects exit status,
// standard output and standard error.
#pragma once

#include <string>
#include <vector>

struct FilterResult {
  int status = -1;        // exit status, or 128 + signal number when killed
  std::string out;        // standard output
  std::string err;        // standard error
};

// Path of a built program ("ztskipblank" -> <build>/bin/ztskipblank).
std::string ProgramPath(const std::string& name);
// Path of a file of the sample model (data/).
std::string DataPath(const std::string& name);

struct RunOptions {
  std::string ppd;                          // value of PPD; empty: unset
  std::vector<std::string> extraEnv;        // "NAME=value" entries added to the environment
  int timeoutSeconds = 120;                 // the child is killed after this
  bool closeStdoutEarly = false;            // read nothing: the child sees a closed pipe
};

// argv[0] is the program path. Standard input receives `input` then EOF.
FilterResult RunFilter(const std::vector<std::string>& argv, const std::string& input, const RunOptions& opts = {});

// The usual six-argument command line: program 1 user title copies options.
std::vector<std::string> FilterArgv(const std::string& program, const std::string& options = "",
                                    const std::string& copies = "1");

// A temporary file removed when the object goes away.
class TempFile {
 public:
  explicit TempFile(const std::string& contents = "", const std::string& suffix = "");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::string Read() const;

 private:
  std::string path_;
};

// A temporary directory removed (recursively) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The text of a file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// The sample PPD with `extra` appended and each (from, to) pair of `replace`
// substituted once, written to a temporary file.
std::string SamplePPDText(const std::vector<std::pair<std::string, std::string>>& replace = {},
                          const std::string& extra = "");
// A Korva PPD text made into one of another manufacturer: the "Manufacturer"
// value replaced and every driver keyword ("*QK...", "*DefaultQK...", "$QK..."
// in the run conditions) given that manufacturer's prefix. Choice names and
// the keys inside a choice's code keep their spelling.
std::string RebrandPPDText(const std::string& korvaText, const std::string& manufacturer, const std::string& prefix);
