#include "core/paths.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qv {

bool FileExists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  // Only "*" and "?" are wildcards of a file search; any other character,
  // "[" included, stands for itself.
  if (path.find_first_of("*?") == std::string::npos) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }
  std::string pattern;
  for (char c : path) {
    if (c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  glob_t g{};
  const int rc = glob(pattern.c_str(), GLOB_NOSORT, nullptr, &g);
  bool found = false;
  if (rc == 0) {
    for (size_t i = 0; i < g.gl_pathc && !found; ++i) {
      struct stat st {};
      found = stat(g.gl_pathv[i], &st) == 0 && !S_ISDIR(st.st_mode);
    }
  }
  globfree(&g);
  return found;
}

bool FolderWritable(const std::string& folder) {
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  struct stat st {};
  // Creating a file needs both the right to write in the folder and the
  // right to enter it; a read-only file system answers no as well.
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

bool IsSpecialFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::FILE* OpenRegularFile(const std::string& path, OpenFailure& why) {
  why = OpenFailure::Missing;
  if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
  // Without O_NONBLOCK the open itself waits for a pipe's writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = errno == ENOENT || errno == ENOTDIR ? OpenFailure::Missing : OpenFailure::Denied;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = OpenFailure::NotRegular;
    return nullptr;
  }
  // Reads of a regular file never wait anyway; the flag goes so that the
  // stream sees an ordinary descriptor.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    why = OpenFailure::Denied;
    return nullptr;
  }
  why = OpenFailure::None;
  return f;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string LCase(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    } else if (i + 1 < out.size()) {
      // The accented capitals of French names, in UTF-8: À..Þ (but ×) and Œ.
      const unsigned char next = static_cast<unsigned char>(out[i + 1]);
      if ((c == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97) || (c == 0xC5 && next == 0x92))
        out[++i] = static_cast<char>(next + (c == 0xC3 ? 0x20 : 1));
    }
  }
  return out;
}

size_t InStr(std::string_view s, std::string_view what, size_t start) {
  if (start < 1 || start > s.size()) return 0;
  if (what.empty()) return start;
  const size_t p = s.find(what, start - 1);
  return p == std::string_view::npos ? 0 : p + 1;
}

namespace {
size_t LastSeparator(const std::string& t) {
  for (size_t i = t.size(); i > 0; --i) {
    const char c = t[i - 1];
    if (c == '/') return i;  // 1-based
  }
  return 0;
}
}  // namespace

const std::string& TempFolder() {
  static const std::string folder = [] {
    const char* given = std::getenv("TMPDIR");
    std::string dir = given && *given ? given : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
  }();
  return folder;
}

std::string PathFolder(std::string_view path) {
  const std::string t = Trim(path);
  const size_t p = LastSeparator(t);
  return p ? t.substr(0, p) : std::string();
}

std::string PathName(std::string_view path) {
  const std::string t = Trim(path);
  const size_t p = LastSeparator(t);
  return p ? t.substr(p) : t;
}

std::string FileKind(std::string_view path) {
  const std::string tail = LCase(path.substr(path.size() > 4 ? path.size() - 4 : 0));
  if (tail.empty()) return tail;
  if (tail[0] == '.') return tail.substr(tail.size() > 3 ? tail.size() - 3 : 0);
  return tail.substr(0, 3);
}

}  // namespace qv
