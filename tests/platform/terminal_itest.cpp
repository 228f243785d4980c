// The terminal plumbing that the program's serial line and the virtual instrument share, on a
// real pseudo-terminal: what one side puts on the line, the other side reads back.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/terminal.h"
#include "support/pty_pair.h"

namespace kba604::platform {
namespace {

bool same(const SerialSettings& a, const SerialSettings& b) {
  return a.baud_rate == b.baud_rate && a.data_bits == b.data_bits && a.parity == b.parity &&
         a.stop_bits == b.stop_bits;
}

TEST(Terminal, EverySettingPutOnOneSideIsReadOnBoth) {
  test::PtyPair pty;
  const int fd = open_terminal(pty.path(), /*non_blocking=*/true);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(is_pseudo_terminal(fd));
  EXPECT_TRUE(is_pseudo_terminal(pty.master()));
  const SerialSettings cases[] = {
      {9600, 8, Parity::None, 1},  {2400, 8, Parity::Even, 2},  {115200, 7, Parity::Odd, 1},
      {19200, 8, Parity::Mark, 1}, {4800, 8, Parity::Space, 2}, {14400, 7, Parity::Even, 2},
      {28800, 8, Parity::None, 1}, {56000, 8, Parity::Odd, 2},  {128000, 7, Parity::None, 1},
  };
  for (const SerialSettings& s : cases) {
    SCOPED_TRACE(s.baud_rate);
    // The program's side marks line errors, the instrument's does not: both read alike.
    for (bool marks : {true, false}) {
      ASSERT_TRUE(apply_terminal_settings(fd, s, /*pseudo_terminal=*/true, marks));
      EXPECT_EQ((pty.settings().c_iflag & PARMRK) != 0, marks);
      SerialSettings program_side, instrument_side;
      ASSERT_TRUE(read_terminal_settings(fd, program_side));
      ASSERT_TRUE(read_terminal_settings(pty.master(), instrument_side));
      EXPECT_TRUE(same(program_side, s)) << program_side.baud_rate << " " << program_side.data_bits
                                         << " " << static_cast<int>(program_side.parity);
      EXPECT_TRUE(same(instrument_side, s));
    }
  }
  // The instrument's side sets the line through the master as well.
  const SerialSettings from_master{4800, 7, Parity::Odd, 2};
  ASSERT_TRUE(apply_terminal_settings(pty.master(), from_master, true, false));
  SerialSettings seen;
  ASSERT_TRUE(read_terminal_settings(fd, seen));
  EXPECT_TRUE(same(seen, from_master));
  ::close(fd);
}

TEST(Terminal, RawModeAndFlushing) {
  test::PtyPair pty;
  const int fd = open_terminal(pty.path(), /*non_blocking=*/true);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  ASSERT_TRUE(apply_terminal_settings(fd, SerialSettings{}, true, true));
  // A carriage return arrives as it was sent, without line editing or echo.
  pty.write("ab\rc");
  pollfd p{fd, POLLIN, 0};
  // Until all four characters have arrived (the terminal hands them over in its own time).
  int queued = 0;
  for (int tries = 0; tries < 2000 && queued < 4; ++tries) {
    if (::ioctl(fd, FIONREAD, &queued) != 0) break;
    if (queued < 4) poll(nullptr, 0, 1);
  }
  ASSERT_EQ(queued, 4);
  // Whatever has arrived is dropped; nothing is left to read.
  ASSERT_TRUE(flush_terminal(fd));
  char buffer[16];
  errno = 0;
  EXPECT_EQ(::read(fd, buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EAGAIN);
  pty.write("x\r\n");
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  std::string got;
  while (got.size() < 3 && poll(&p, 1, 2000) == 1) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, "x\r\n");
  EXPECT_EQ(pty.read(50, '\n'), "");  // no echo back to the device
  ::close(fd);
}

TEST(Terminal, WhatIsNoTerminalSaysSo) {
  errno = 0;
  EXPECT_EQ(open_terminal("/nonexistent/ttyS99", false), -1);
  EXPECT_EQ(errno, ENOENT);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  EXPECT_FALSE(is_pseudo_terminal(pipe_fds[0]));
  SerialSettings s;
  EXPECT_FALSE(read_terminal_settings(pipe_fds[0], s));
  EXPECT_FALSE(apply_terminal_settings(pipe_fds[0], s, false, true));
  EXPECT_NE(errno, 0);  // refused, not "other settings"
  EXPECT_FALSE(flush_terminal(pipe_fds[0]));
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
}

}  // namespace
}  // namespace kba604::platform
