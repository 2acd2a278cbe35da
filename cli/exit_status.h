// The program's exit statuses, and how a library result code becomes one.
//
// Scripts branch on these, so each kind of failure keeps its own number.
#pragma once

#include <string>

namespace bplink::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,          // an internal error
  kExitBadInput = 2,        // command line, plan file or input file at fault; no device touched
  kExitCannotWrite = 3,     // the output file, the archive or a GDT result file could not be written
  kExitNoDevice = 4,        // nothing answered, or the link (or a destination of send) could not be reached
  kExitLinkFailed = 5,      // the device (or a destination of send) went silent or sent what could not be decoded
  kExitRefused = 6,         // the device refused the request, or does not support it; a destination refused
  kExitWouldLose = 7,       // nothing erased: the device holds readings that are in no archive
  kExitInterrupted = 130,   // stopped by Ctrl-C; what had arrived was written
};

// The table `bplink --help` and the README show.
inline constexpr const char* kExitStatusTable =
    "Exit status:\n"
    "  0    success\n"
    "  1    internal error, or `bplink sim` cannot serve on this system\n"
    "  2    bad input: command line, plan file or input file (no device is touched)\n"
    "  3    the output file, the archive or a GDT result cannot be written (a\n"
    "       download that disagrees with how its readings are filed is not filed)\n"
    "  4    no device found, or the link could not be opened; send: the\n"
    "       destination could not be reached or its certificate is not trusted\n"
    "  5    link failure: the device went silent or sent undecodable data\n"
    "       (what arrived before is still written); send: no acknowledgement\n"
    "  6    the device refused the request or does not support it; send: the\n"
    "       destination refused the result (HTTP error, HL7 AE or AR)\n"
    "  7    nothing erased: the device holds readings that are in no archive\n"
    "       (give --archive to file them first, or --discard)\n"
    "  130  stopped by Ctrl-C (what arrived is written)\n";

// The exit status of a library result code (1 is success).
int ExitForResult(int result);
// The library's words for a result code: "the device did not answer". The
// number itself is left out: next to the exit status it would read as one.
std::string ResultMessage(int result);

}  // namespace bplink::cli
