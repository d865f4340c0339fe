#include "common/outputs.hpp"

#include "common/atomic_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

namespace slipvel::apps {
namespace {

namespace fs = std::filesystem;

// What a path leads to: an existing file by its device and inode (through
// every link), or the name a missing one would get.
struct Target {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  fs::path name;  // absolute, links in its folders resolved
  int error = 0;  // why it could not be looked at (a loop of links, ...), 0 if it could
  fs::path link;  // where a link to a missing file leads; empty for any other path
};

Target target_of(const std::string& path, bool output) {
  Target t;
  struct stat info {};
  const bool found =
      path == "-" ? ::fstat(output ? STDOUT_FILENO : STDIN_FILENO, &info) == 0 : ::stat(path.c_str(), &info) == 0;
  if (found) {
    t.exists = true;
    t.device = info.st_dev;
    t.inode = info.st_ino;
    t.mode = info.st_mode;
    return t;
  }
  if (path != "-" && errno != ENOENT) t.error = errno;
  std::error_code ignored;
  t.name = fs::weakly_canonical(fs::absolute(path, ignored), ignored);
  // A link to a file not made yet: the file is made where the link leads.
  if (output && path != "-" && fs::is_symlink(path, ignored)) t.name = t.link = followed(fs::absolute(path, ignored));
  return t;
}

bool same(const Target& a, const Target& b) {
  if (a.exists != b.exists) return false;
  return a.exists ? a.device == b.device && a.inode == b.inode : a.name == b.name;
}

// /dev/null takes any number of outputs.
bool discards(const Target& t) {
  static const Target null = target_of("/dev/null", true);
  return t.exists && S_ISCHR(t.mode) && same(t, null);
}

std::string given(const NamedPath& p) { return p.option + " " + (p.path == "-" ? "- (standard output)" : p.path); }

std::string shown_input(const std::string& path) { return path == "-" ? "- (standard input)" : path; }

// Why an output cannot be written where it is, found before anything is; "" if none.
std::string unwritable(const NamedPath& out, const Target& t) {
  if (t.error != 0) return given(out) + ": " + std::strerror(t.error);
  if (t.exists) return S_ISDIR(t.mode) ? given(out) + ": is a folder, not a file" : "";
  const fs::path folder = t.name.parent_path();
  std::error_code ignored;
  const std::string named = t.link.empty() ? given(out) : given(out) + " (a link to " + t.link.string() + ")";
  if (!fs::is_directory(folder, ignored)) return named + ": no folder " + folder.string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return given(out) + ": the folder " + folder.string() + " is not writable";
  return "";
}

}  // namespace

std::vector<std::string> input_problems(const std::vector<NamedPath>& inputs) {
  std::vector<std::string> problems;
  std::vector<std::pair<const NamedPath*, Target>> read;
  for (const NamedPath& input : inputs) {
    if (input.path.empty()) continue;
    const Target target = target_of(input.path, false);
    for (const auto& [earlier, other] : read) {
      if (target.exists && same(target, other)) {
        problems.push_back(earlier->option + " " + shown_input(earlier->path) + " and " + input.option + " " +
                           shown_input(input.path) + " read the same file: each input needs its own");
      }
    }
    read.emplace_back(&input, target);
  }
  return problems;
}

std::vector<std::string> output_problems(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& inputs) {
  std::vector<std::pair<const NamedPath*, Target>> out, in;
  for (const NamedPath& o : outputs) {
    if (!o.path.empty()) out.emplace_back(&o, target_of(o.path, true));
  }
  for (const NamedPath& i : inputs) {
    if (!i.path.empty()) in.emplace_back(&i, target_of(i.path, false));
  }
  std::vector<std::string> problems;
  for (std::size_t a = 0; a < out.size(); ++a) {
    const auto& [option, target] = out[a];
    if (std::string why = unwritable(*option, target); !why.empty()) problems.push_back(std::move(why));
    for (std::size_t b = a + 1; b < out.size(); ++b) {
      if (same(target, out[b].second) && !discards(target)) {
        problems.push_back(option->option + " and " + out[b].first->option + " name the same file " +
                           out[b].first->path);
      }
    }
    // Only a regular file can be overwritten; a terminal or a pipe read and written is two streams.
    for (const auto& [input, read] : in) {
      if (read.exists && S_ISREG(read.mode) && same(target, read)) {
        problems.push_back(given(*option) + " would overwrite the input " +
                           (input->option.empty() ? "" : input->option + " ") + shown_input(input->path));
      }
    }
  }
  return problems;
}

std::vector<std::string> folder_problems(const NamedPath& folder, const std::vector<std::string>& names,
                                         const std::vector<NamedPath>& inputs) {
  std::error_code ignored;
  const fs::path path = folder.path;
  if (fs::is_symlink(path, ignored) && !fs::exists(path, ignored)) {
    return {folder.option + " " + folder.path + ": a symbolic link to a missing folder (" + folder.option +
            " needs a folder)"};
  }
  if (fs::exists(path, ignored) && !fs::is_directory(path, ignored)) {
    return {folder.option + " " + folder.path + ": is a file, not a folder"};
  }
  const fs::path where = fs::weakly_canonical(fs::absolute(path, ignored), ignored);
  const std::set<std::string> written(names.begin(), names.end());
  std::vector<std::string> problems;
  for (const NamedPath& input : inputs) {
    if (input.path.empty()) continue;
    const Target read = target_of(input.path, false);
    if (!read.exists || !S_ISREG(read.mode)) continue;
    for (const std::string& name : written) {
      struct stat info {};
      if (::stat((where / name).c_str(), &info) == 0 && info.st_dev == read.device && info.st_ino == read.inode) {
        problems.push_back(folder.option + " " + folder.path + ": its " + name + " would overwrite the input " +
                           input.option + " " + shown_input(input.path));
      }
    }
  }
  return problems;
}

bool is_standard_output(const std::string& path) {
  if (path == "-") return true;
  const Target out = target_of("-", true), file = target_of(path, true);
  return out.exists && same(out, file);
}

}  // namespace slipvel::apps
