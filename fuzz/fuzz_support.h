// What the in-process harnesses share: the sample printer model set up for
// the filters, inputs handed over as memory files that the filters open by
// name, and the capture of what a filter writes on standard output and in
// its messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Writes (once per process) a copy of the sample PPD whose data-file path
// points at the source tree's data folder, and sets PPD to it.
void ZTFuzzSetUpPPD();

// An input held in an anonymous memory file; Path() names it for open().
class ZTFuzzInput {
 public:
  ZTFuzzInput();
  ~ZTFuzzInput();
  ZTFuzzInput(const ZTFuzzInput&) = delete;
  ZTFuzzInput& operator=(const ZTFuzzInput&) = delete;
  void Set(const uint8_t* data, size_t size);
  const char* Path() const { return path_; }

 private:
  int fd_;
  char path_[64];
};

// Standard output goes to a memory file for the whole process. Begin empties
// it, End flushes stdout and returns what was written since Begin.
void ZTFuzzBeginStdout();
std::string ZTFuzzEndStdout();

// The stream the wrapped filters take for stderr (fuzz_capture.h). Begin
// empties it, End returns the messages written since Begin.
extern FILE* zt_fuzz_stderr;
void ZTFuzzBeginMessages();
std::string ZTFuzzEndMessages();

// True when some line of the messages begins with "ERROR: ".
bool ZTFuzzHasErrorLine(const std::string& messages);

// Writes what went wrong, with the messages and the output's size, and aborts.
[[noreturn]] void ZTFuzzFail(const char* what, const std::string& messages);
