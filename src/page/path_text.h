#pragma once

#include <string>

namespace zorv {

// The image path as the path box shows it: everything strictly between the first and the last
// separator is replaced by "...", placed right after the first separator ("/home/ann/img/boot.bin"
// shows as "/.../boot.bin"; with a single separator "/boot.bin" shows as "/...boot.bin"). A path
// without a separator is shown as it is. Only the text shown changes; the job opens the full path.
std::string shortenImagePath(const std::string& path, char separator = '/');

// The log line that names the file a job reads or writes, in full (made absolute when relative),
// so the user sees which file went to (or came from) the board whatever the path box shows:
// "  Image: /home/ann/img/boot.bin\r\n". Empty when there is no path.
std::string filePathLogLine(const char* label, const std::string& path);

}  // namespace zorv
