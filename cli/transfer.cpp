#include "transfer.h"

#include <iostream>
#include <mutex>
#include <string>

#include "terminal.h"

namespace bplink::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kPercent = 100;

// Standard error as the bar and whole lines share it.
std::mutex g_stderr;
bool g_bar_drawn = false;  // the bar is on the current line of a terminal

// Back to the start of the line, which is then blank: an escape sequence
// where the terminal takes them, else spaces over the widest bar drawn.
std::string ClearLine() {
  constexpr std::size_t kWidest = kBarWidth + 60;
  return TerminalTakesEscapes() ? "\r\033[K" : "\r" + std::string(kWidest, ' ') + "\r";
}

// Draws the bar when it shows something new, or a line was written over it.
void DrawBar(const ProgressTrack& track) {
  static std::string drawn;
  const int filled = track.Percent() * kBarWidth / kPercent;
  const std::string bar = '[' + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                          std::to_string(track.Percent()) + "%  " + track.Label();
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn && bar == drawn) return;
  std::cerr << ClearLine() << bar << std::flush;
  g_bar_drawn = true;
  drawn = bar;
}

void EraseBar() {
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn) std::cerr << ClearLine() << std::flush;
  g_bar_drawn = false;
}

}  // namespace

void WriteStderrLine(const std::string& line) {
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn) std::cerr << ClearLine();
  g_bar_drawn = false;
  std::cerr << line << '\n' << std::flush;
}

namespace {

// Collects characters until a line is whole, then writes it as one.
class LineBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const std::lock_guard hold(lock_);
    if (traits_type::to_char_type(c) == '\n') {
      WriteStderrLine(line_);
      line_.clear();
    } else {
      line_ += traits_type::to_char_type(c);
    }
    return c;
  }

 private:
  std::mutex lock_;
  std::string line_;
};

}  // namespace

std::ostream& StderrLines() {
  static LineBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer, std::vector<std::string> parts) {
  const bool tty = StderrIsTerminal();
  bool told = false;
  TransferStarts();
  const host::TransferOutcome ended =
      host::RunTransfer(session, transfer, std::move(parts), [&](const ProgressTrack& track) {
        const bool stop = InterruptsDuringTransfer() > 0;
        if (stop && !told) {
          WriteStderrLine("bplink: stopping; what has arrived is kept (Ctrl-C again to quit)");
          told = true;
        }
        if (tty) DrawBar(track);
        return stop;
      });
  TransferOutcome outcome{ended.result, InterruptsDuringTransfer() > 0};
  TransferEnds();
  if (tty) EraseBar();
  return outcome;
}

}  // namespace bplink::cli
