// bplink sign RECORDING: the physician's interpretation of an archived
// study signed, from a text file or written in $VISUAL or $EDITOR on a
// terminal, with the signer, the time and the SHA-256 of every input of
// the report; --amend signs a new version of a signed one.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include <cstdlib>
#include <ctime>

#include "child_process.h"
#include "commands/archive_access.h"
#include "commands/archive_open.h"
#include "commands/commands.h"
#include "commands/review_summary.h"
#include "exit_status.h"
#include "terminal.h"

namespace bplink::cli {
namespace {

namespace fs = std::filesystem;

// More is no interpretation but a document of its own.
constexpr std::uintmax_t kMaxInterpretationBytes = 64 * 1024;

struct SignOptions {
  std::optional<std::string> archive;
  std::string station;
  std::int64_t recording = 0;
  std::string file;
  bool amend = false;
  bool show_input = false;
};

// Whether `text` is UTF-8 throughout.
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) return false;
    i += length;
  }
  return true;
}

// The text without the lines an editor's template starts with '#', and
// without blank lines at either end.
std::string WithoutComments(const std::string& text) {
  std::istringstream in(text);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '#') continue;
    kept += line + "\n";
  }
  const auto first = kept.find_first_not_of(" \t\n");
  if (first == std::string::npos) return {};
  return kept.substr(first, kept.find_last_not_of(" \t\n") - first + 1);
}

std::string ReadInterpretation(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw CommandError(kExitBadInput, path + " is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError(kExitBadInput, "cannot read " + path);
  if (fs::file_size(path, ec) > kMaxInterpretationBytes)
    throw CommandError(kExitBadInput, path + ": an interpretation is at most " +
                                          std::to_string(kMaxInterpretationBytes / 1024) + " KiB of text");
  std::ostringstream text;
  text << in.rdbuf();
  if (!IsUtf8(text.str())) throw CommandError(kExitBadInput, path + ": not UTF-8 text; save it as UTF-8");
  return text.str();
}

// The interpretation written in the person's editor, in a file that starts
// with the verdict as comment lines.
std::string FromEditor(const std::string& verdict) {
#if defined(_WIN32)
  (void)verdict;
  throw CommandError(kExitBadInput, "give the interpretation with --file TEXT_FILE");
#else
  const char* editor = std::getenv("VISUAL");
  if (!editor || !*editor) editor = std::getenv("EDITOR");
  if (!editor || !*editor)
    throw CommandError(kExitBadInput, "neither $VISUAL nor $EDITOR names an editor: give --file TEXT_FILE");
  std::error_code ec;
  const fs::path file = fs::temp_directory_path(ec) / ("bplink-sign-" + std::to_string(std::random_device{}()) + "-" +
                                                       std::to_string(std::time(nullptr)) + ".txt");
  {
    std::ofstream out(file, std::ios::binary);
    out << "\n# Write the interpretation above. Lines starting with '#' are left out; an empty text signs nothing.\n"
        << verdict;
    if (!out) throw CommandError(kExitCannotWrite, "cannot write " + file.string() + " for the editor");
  }
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, ec);
  // The editor's value may hold arguments ("code --wait"): the shell splits it.
  const std::string path = file.string();
  const bool ran = RunChild({.argv = {"/bin/sh", "-c", std::string(editor) + " \"$1\"", "sh", path}}) == 0;
  const std::string text = ran ? ReadInterpretation(path) : std::string();
  fs::remove(file, ec);
  if (!ran) throw CommandError(kExitBadInput, std::string("the editor (") + editor + ") did not end well; nothing was signed");
  return WithoutComments(text);
#endif
}

void RunSign(const SignOptions& o) {
  const bool from_terminal = o.file.empty() && !o.show_input;
  if (from_terminal && !StdinIsTerminal())
    throw CommandError(kExitBadInput, "give the interpretation with --file TEXT_FILE (on a terminal, $VISUAL or "
                                      "$EDITOR opens without it)");
  std::string interpretation = o.file.empty() ? std::string() : WithoutComments(ReadInterpretation(o.file));
  const auto archive = OpenArchive(ArchiveLocation(o.archive), archive::OpenMode::kExisting);
  try {
    if (o.show_input) {
      std::cout << archive->SignedContentOf(o.recording) << std::flush;
      return;
    }
    if (from_terminal) {
      std::ostringstream verdict;
      PrintVerdict(archive::ReportableRecording(*archive, o.recording, ProfileNamed("esh2023")), ProfileNamed("esh2023"),
                   verdict, "# ");
      interpretation = FromEditor(verdict.str());
    }
    const archive::SignatureRecord s = archive->Sign(o.recording, interpretation, o.amend, ProgramActor(o.station));
    const report::SignedVersion& v = s.signed_version;
    std::cout << "Signed recording " << o.recording << " (study " << s.study << "): version " << v.version << " ("
              << report::SignedStatus(v) << "), by " << v.signer
              << (v.db_role.empty() ? "" : " (database role " + v.db_role + ")") << " at "
              << report::FormatLocalTime(v.signed_at) << (v.version > 1 ? "; version " + std::to_string(v.version - 1) +
                                                                              " is superseded" : "")
              << ".\nSHA-256 of the report's inputs: " << v.hash << '\n';
  } catch (const archive::ReviewRefused& e) {
    throw CommandError(kExitBadInput, std::string(e.what()) + "; nothing was signed");
  } catch (const archive::NotFound& e) {
    throw CommandError(kExitBadInput, e.what());
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string(e.what()) + "; nothing was signed");
  }
}

}  // namespace

void AddSignCommand(CLI::App& app) {
  auto o = std::make_shared<SignOptions>();
  CLI::App* command = app.add_subcommand(
      "sign", "Sign the physician's interpretation of an archived study, with the hash of every input of its report");
  command->add_option("RECORDING", o->recording, "The recording's number, as bplink history shows it")->required();
  AddArchiveOption(*command, o->archive);
  command->add_option("--station", o->station, "This PC's name in the audit log (default: host name)");
  command->add_option("--file", o->file, "The interpretation, a UTF-8 text file (without it, on a terminal, "
                                         "$VISUAL or $EDITOR opens)");
  command->add_flag("--amend", o->amend, "Sign a new version of a signed study's interpretation (an amendment); "
                                         "the earlier version is kept, superseded");
  command->add_flag("--show-input", o->show_input,
                    "Print the document whose SHA-256 a signature now would hold (every input of the report), "
                    "exactly as hashed, and sign nothing");
  command->callback([o] { RunSign(*o); });
}

}  // namespace bplink::cli
