// Reading the text descriptions of the model-data builders: lines of words
// separated by blanks, '#' starting a comment. Every error names the file
// and line and is thrown as DescError; the builders' main turns it into one
// "ERROR:" line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct DescError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DescLine {
  int number = 0;
  std::vector<std::string> words;
};

class Description {
 public:
  // Reads the whole file; throws DescError when it cannot be read.
  explicit Description(const std::string& path);
  const std::string& path() const { return path_; }
  const std::vector<DescLine>& lines() const { return lines_; }

  // A path named in the description, relative to the description's folder.
  std::string Resolve(const std::string& name) const;

  [[noreturn]] void Fail(const DescLine& line, const std::string& what) const;
  // Checks that the line has exactly n words.
  void ExpectWords(const DescLine& line, size_t n) const;
  // Word i as an integer in [min, max] / a finite number in [min, max].
  long Integer(const DescLine& line, size_t i, long min, long max) const;
  double Number(const DescLine& line, size_t i, double min, double max) const;

 private:
  std::string path_;
  std::vector<DescLine> lines_;
};

// Reads whitespace-separated integers of a grid file: exactly `count`
// numbers, each in [0, 255]. Throws DescError.
std::vector<int> ReadGridFile(const std::string& path, size_t count);

// Writes bytes to path through a temporary file in the same folder that is
// renamed over path at the end, so a failed run leaves neither a partial
// output nor a temporary file. Throws DescError.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

// Appends big-endian numbers.
void AppendBE32(std::string& s, unsigned long v);
void AppendBE16(std::string& s, unsigned v);
void PutBE32(std::string& s, size_t at, unsigned long v);
