// Runs a built program as a user would: arguments, a folder, standard input,
// and limits set in the child only.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace slipvel::testing {

struct Finished {
  int status = 0;
  std::string out, err;
  int exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

struct Launch {
  std::filesystem::path folder;  // the working folder
  std::string input;             // standard input
  rlim_t file_size_limit = RLIM_INFINITY;
  mode_t umask = 022;
  std::string input_file;  // standard input read from this file of the folder instead
  std::string append_to;   // standard output appended to this file of the folder instead
};

inline Finished run_process(const std::string& program, const std::vector<std::string>& arguments,
                            const Launch& launch) {
  TempDir io;
  write_file(io / "in", launch.input);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in =
        ::open((launch.input_file.empty() ? io / "in" : launch.folder / launch.input_file).c_str(), O_RDONLY);
    const int out = launch.append_to.empty() ? ::open((io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                             : ::open((launch.folder / launch.append_to).c_str(), O_WRONLY | O_APPEND);
    const int err = ::open((io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(launch.folder.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const rlimit limit{launch.file_size_limit, launch.file_size_limit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::umask(launch.umask);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  Finished finished;
  ::waitpid(pid, &finished.status, 0);
  finished.out = read_file(io / "out");
  finished.err = read_file(io / "err");
  return finished;
}

// The names of the files in `folder`, sorted.
inline std::vector<std::string> file_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  if (!std::filesystem::exists(folder)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace slipvel::testing
