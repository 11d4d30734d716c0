#pragma once

#include <string>

namespace zorv {

// The image path as the path box shows it: everything strictly between the first and the last
// separator is replaced by "...", placed right after the first separator ("/home/ann/img/boot.bin"
// shows as "/.../boot.bin"; with a single separator "/boot.bin" shows as "/...boot.bin"). A path
// without a separator is shown as it is. Only the text shown changes; the job opens the full path.
std::string shortenImagePath(const std::string& path, char separator = '/');

}  // namespace zorv
