// The PJL block in front of the HBPL job: the job's settings as PJL lines,
// written once before the first page, and the end-of-job trailer.
//
// Every line the block holds is exactly one line of at most 255 bytes, line
// feed included. Text that comes from outside the PPD's fixed vocabulary
// (the title, user and host names, job-ticket and PPD code strings) is made
// safe first: control characters become spaces and double quotes become
// apostrophes, so no value can end its line early or leave its quotes; bytes
// that are not well-formed UTF-8 become '?', as the block declares UTF-8;
// long values are cut on a character boundary.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstddef>
#include <cstdio>

#include "ztcolorsetting.h"

constexpr size_t PJL_MAX_LINE = 255;        // bytes, line feed included
constexpr size_t PJL_MAX_COMMENT = 241;     // text of a COMMENT line
constexpr size_t PJL_MAX_TITLE = 235;       // title in the DNAME comment

extern const char PJL_UEL[];                // ESC "%-12345X", no line feed

// Copies at most maxBytes bytes of src into dest (room for maxBytes + 1) as
// well-formed UTF-8: each byte that is not part of a well-formed character
// becomes '?', control characters (C0, DEL, C1) become ' ' and '"' becomes
// '\''; the copy ends before a character that does not fit whole. Returns
// the bytes copied.
size_t CopyPJLSafeText(char* dest, const char* src, size_t maxBytes);

// Line writers. Each returns 0 when it wrote its line, -1 when it wrote
// nothing (missing value, or a comment that is too long).
int WritePJLComment(FILE* fp, const char* text);                     // @PJL COMMENT text
int WritePJLSet(FILE* fp, const char* key, const char* value);       // @PJL SET key=value
int WritePJLSetQuoted(FILE* fp, const char* key, const char* value); // @PJL SET key="value"
int WritePJLJobAttr(FILE* fp, const char* tag, const char* value);   // @PJL SET JOBATTR="@tag=value"
int WritePJLJobAttrNumber(FILE* fp, const char* tag, long value);

// What the job header is built from.
struct PJLJobInfo {
  ppd_file_t* ppd = nullptr;
  int numOptions = 0;
  cups_option_t* options = nullptr;
  const char* user = "";
  const char* title = "";
  int printerCopies = 1;
  const ColorSetting* colorSetting = nullptr;
  const Screen2Setting* screen2Setting = nullptr;
};

// Writes the whole job header, from the UEL to "@PJL ENTER LANGUAGE=HBPL".
// Settings that are missing leave their lines out; nothing here fails the job.
void WritePJLJobHeader(FILE* fp, const PJLJobInfo* job);
// UEL and "@PJL EOJ" after the HBPL job.
void WritePJLTrailer(FILE* fp);

// The media and colour-processing attributes inside the header (each writes
// its group of lines; see pjlmedia.cpp).
void WriteColorDensity(FILE* fp, ppd_file_t* ppd);
void WriteMediaType(FILE* fp, ppd_file_t* ppd);
void WritePreferredMediaType(FILE* fp, ppd_file_t* ppd);
void WriteTray1MediaType(FILE* fp, ppd_file_t* ppd);
void WriteColorProcessing(FILE* fp, ppd_file_t* ppd, const ColorSetting* color, const Screen2Setting* screen2);

// True when the driver attribute keyword (given without its manufacturer
// prefix) exists with exactly the value "True".
bool IsPPDAttrTrue(ppd_file_t* ppd, const char* keyword);
