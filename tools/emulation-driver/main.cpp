// valtrex-emulation-driver: runs a full-screen program on a pseudo-terminal with the terminal's
// decoder and screen model as its terminal, types keys into it and prints the screens it shows.
// Built beside the tools and never installed: it is how the emulation is checked against a
// terminal test program's screens.
//
//   valtrex-emulation-driver [--emulation vt100|ansi] [--quiet-ms N] [--key KEYS]...
//                            -- PROGRAM [ARGUMENT]...
//
// The program runs on the slave of a fresh pseudo-terminal, 80 by 24, with TERM=vt100. Whatever
// it writes goes through the decoder onto an 80 by 24 screen, and the decoder's answers (status,
// identification, line parameters) go back to it. Each time the program has written nothing for
// the quiet time the screen is printed and the next KEYS are typed; after the last a final
// screen is printed and the program ended. In KEYS \r, \n, \e, \t and \\ stand for CR, LF, ESC,
// HT and a backslash, and \R for the Return key as the emulation sends it in its modes now. The
// line parameters reported are the slave's own termios settings.
//
// Each screen prints as a heading with the keys typed before it, the screen's width and the
// cursor (row and column, from 1), then its rows, each "S|text" where S is the row's size
// (. single, W double width, T and B the halves of a double height); a row whose cells have
// attributes is followed by "  |" and a character per cell: . plain, else a hexadecimal digit
// adding 1 bold, 2 underline, 4 blink, 8 reverse.

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "widgets/emulation/TermDecoder.h"
#include "widgets/emulation/TermScreen.h"

namespace {

using widgets::TTermDecoder;
using widgets::TTermScreen;

constexpr const char* kUsage =
    "usage: valtrex-emulation-driver [--emulation vt100|ansi] [--quiet-ms N] [--key KEYS]...\n"
    "                                -- PROGRAM [ARGUMENT]...\n";

// Marks the Return key in a key string: it is sent as the emulation sends it when it is typed.
constexpr char kReturnKey = '\0';

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 'e':
        out += '\x1b';
        break;
      case 't':
        out += '\t';
        break;
      case 'R':
        out += kReturnKey;
        break;
      default:
        out += text[i];
        break;
    }
  }
  return out;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == kReturnKey) {
      out += "\\R";
    } else if (c == '\x1b') {
      out += "\\e";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += "^" + std::string(1, static_cast<char>(c + 0x40));
    } else {
      out += c;
    }
  }
  return out;
}

void PrintScreen(const TTermScreen& s, const std::string& title) {
  std::printf("=== %s: %d columns, cursor %d,%d%s%s\n", title.c_str(), s.Columns(),
              s.CursorRow() + 1, s.CursorColumn() + 1, s.ReverseScreen() ? ", reverse screen" : "",
              s.CursorVisible() ? "" : ", cursor hidden");
  for (int r = 0; r < s.Rows(); ++r) {
    std::printf("%c|%s\n", ".WTB"[s.LineSize(r)], s.LineText(r).c_str());
    std::string marks;
    bool any = false;
    for (int c = 0; c < s.Columns(); ++c) {
      const widgets::TTermAttributes& a = s.Cell(c, r).Attributes;
      const int bits =
          (a.Bold ? 1 : 0) | (a.Underline ? 2 : 0) | (a.Blink ? 4 : 0) | (a.Reverse ? 8 : 0);
      any = any || bits != 0;
      marks += bits == 0 ? '.' : "0123456789abcdef"[bits];
    }
    if (any) {
      while (!marks.empty() && marks.back() == '.') marks.pop_back();
      std::printf("  |%s\n", marks.c_str());
    }
  }
  std::fflush(stdout);
}

int BaudRate(speed_t speed) {
  static constexpr struct {
    speed_t Code;
    int Rate;
  } kRates[] = {{B50, 50},       {B75, 75},        {B110, 110},   {B134, 134},     {B150, 150},
                {B200, 200},     {B300, 300},      {B600, 600},   {B1200, 1200},   {B1800, 1800},
                {B2400, 2400},   {B4800, 4800},    {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
                {B57600, 57600}, {B115200, 115200}};
  for (const auto& r : kRates) {
    if (r.Code == speed) return r.Rate;
  }
  return 0;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  widgets::TTermEmulation emulation = widgets::teVT100;
  int quietMs = 700;
  std::vector<std::string> keys;
  int first = argc;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      first = i + 1;
      break;
    }
    if (i + 1 >= argc) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    const std::string value = argv[++i];
    if (arg == "--emulation") {
      emulation = value == "ansi" ? widgets::teANSI : widgets::teVT100;
    } else if (arg == "--quiet-ms") {
      quietMs = std::atoi(value.c_str());
    } else if (arg == "--key") {
      keys.push_back(Unescape(value));
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (first >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  TTermScreen screen(80, 24, 0);
  TTermDecoder decoder(screen, emulation);
  int master = -1;
  int slave = -1;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = 80;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    std::perror("openpty");
    return 1;
  }
  decoder.OnReply = [master](TTermDecoder&, const std::string& bytes) { WriteAll(master, bytes); };
  decoder.OnLineSettings = [slave](TTermDecoder&) {
    widgets::TTermLineSettings line;
    struct termios t {};
    if (::tcgetattr(slave, &t) == 0) {
      line.BaudRate = BaudRate(cfgetospeed(&t));
      line.DataBits = (t.c_cflag & CSIZE) == CS8 ? 8 : 7;
      line.Parity = !(t.c_cflag & PARENB)
                        ? widgets::tpNone
                        : ((t.c_cflag & PARODD) ? widgets::tpOdd : widgets::tpEven);
    }
    return line;
  };

  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    ::close(master);
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    ::dup2(slave, 2);
    if (slave > 2) ::close(slave);
    ::setenv("TERM", "vt100", 1);
    ::unsetenv("COLUMNS");
    ::unsetenv("LINES");
    ::execvp(argv[first], argv + first);
    std::perror("exec");
    ::_exit(127);
  }

  size_t next = 0;
  int shown = 0;
  bool ended = false;
  std::string last = "start";
  while (!ended) {
    struct pollfd p {
      master, POLLIN, 0
    };
    const int ready = ::poll(&p, 1, quietMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0) {
      char buffer[4096];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) {
        ended = true;  // the program closed the line
      } else {
        decoder.Write(buffer, static_cast<size_t>(n));
      }
      continue;
    }
    // Quiet: the program waits for the operator.
    PrintScreen(screen, "screen " + std::to_string(++shown) + " after " + last);
    if (next == keys.size()) break;
    last = "\"" + Printable(keys[next]) + "\"";
    std::string typed;
    for (const char c : keys[next++]) {
      typed += c == kReturnKey ? decoder.KeyBytes(widgets::tkReturn) : std::string(1, c);
    }
    WriteAll(master, typed);
  }
  if (ended) PrintScreen(screen, "screen " + std::to_string(++shown) + " at the end");
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(slave);
  ::close(master);
  return 0;
}
