#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <string>

#include "cable/recording_port.h"
#include "link/parallel_port_link.h"
#include "ui/about_dialog.h"
#include "ui/jtag_app.h"
#include "ui/main_dialog.h"

namespace zorv::ui::test {
namespace {

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return value;
}

// The caption as a window manager reads it: the window's _NET_WM_NAME property on the X server.
std::string windowManagerName(QWidget& window) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return "(not on X11)";
  xcb_connection_t* connection = x11->connection();
  const auto id = static_cast<xcb_window_t>(window.winId());
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection,
      xcb_get_property(connection, 0, id, atom(connection, "_NET_WM_NAME"), atom(connection, "UTF8_STRING"), 0, 256),
      nullptr);
  std::string name;
  if (reply)
    name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                static_cast<size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  return name;
}

TEST(WindowNamesTest, CaptionsReachTheWindowManagerExactly) {
  NullPort port;
  ParallelPortLink link(port);
  MainDialog window(link);
  window.show();
  EXPECT_EQ(windowManagerName(window), "ZORV Parallel JTAG (v1.0)");
  AboutDialog about(&window);
  about.show();
  EXPECT_EQ(windowManagerName(about), "ZORV Parallel JTAG 정보");
}

// Starts a private X server (it picks a free display itself) and points DISPLAY at it. Its screen
// is as small as the smallest a user may have, 800×600.
pid_t startXServer() {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execl(XVFB_PROGRAM, "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "800x600x24",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string display;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') display += c;
  close(fds[0]);
  if (pid < 0 || display.empty()) return -1;
  setenv("DISPLAY", (":" + display).c_str(), 1);
  return pid;
}

}  // namespace
}  // namespace zorv::ui::test

int main(int argc, char** argv) {
  const pid_t server = zorv::ui::test::startXServer();
  if (server < 0) {
    std::fprintf(stderr, "cannot start %s\n", XVFB_PROGRAM);
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  // No session bus belongs to the private display: without an address, libdbus would try to
  // autolaunch one through it (and leave its allocation behind).
  qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  int result = 1;
  {
    QApplication app(argc, argv);
    zorv::ui::setUpApplication();
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  return result;
}
