// Small path and comparison routines used throughout the program.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qv {

// The larger (smaller) of a and b; b when they are equal.
inline double MaxOf(double a, double b) { return a > b ? a : b; }
inline double MinOf(double a, double b) { return a < b ? a : b; }

// True when a file search finds at least one file matching the path
// (wildcards allowed); false for an empty path.
bool FileExists(const std::string& path);

// True when `folder` is a folder in which this user may create files (an
// empty name stands for no folder, not the current one).
bool FolderWritable(const std::string& folder);

// True when the path names, once links are followed, something that exists
// but is not a regular file: a folder, a pipe, a socket, a device.
bool IsSpecialFile(const std::string& path);

// What a file that is not a regular file is told, after its path.
inline constexpr const char* kNotRegularFile = "n'est pas un fichier ordinaire";

// Why OpenRegularFile gave no file.
enum class OpenFailure { None, Missing, Denied, NotRegular };

// Opens an existing regular file for binary reading. Anything else is
// refused without waiting: a pipe opened for reading would block until a
// writer comes, a device might never end. The test is made on the opened
// file, so a name swapped meanwhile cannot slip a pipe in. Returns null,
// with the reason in `why`, when there is no such regular file.
std::FILE* OpenRegularFile(const std::string& path, OpenFailure& why);

// The temporary folder of this program run, with a trailing "/": TMPDIR
// when set and not empty, otherwise /tmp. It is read once, at the first call,
// so the stacking files, the masters' staging and what the programs report
// all name the same folder even if the environment changes meanwhile.
const std::string& TempFolder();

// Text up to and including the last "/" of the trimmed path; empty when
// there is none. Only "/" separates folders here: ":" and "\" are
// ordinary characters of a name (time stamps in archive names hold ":").
std::string PathFolder(std::string_view path);
// Text after that separator; the whole trimmed path when there is none.
std::string PathName(std::string_view path);

// Blanks (spaces only) removed at both ends.
std::string Trim(std::string_view s);
// ASCII lower case (accented letters of the single-byte code page pass unchanged).
std::string LCase(std::string_view s);
// 1-based position of `what` in `s` from position `start`, 0 when absent;
// an empty `what` is found at `start` when s is not empty.
size_t InStr(std::string_view s, std::string_view what, size_t start = 1);

// The file kind by extension: the last four characters lower-cased; if the
// first of them is "." the last three, otherwise the first three.
std::string FileKind(std::string_view path);

}  // namespace qv
