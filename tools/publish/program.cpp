#include "tools/publish/program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "app/scoped.h"
#include "tools/publish/platform.h"

extern char** environ;

namespace publish {

int RunProgram(const std::vector<std::string>& argv, std::string& output) {
  output.clear();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
  const SystemFile read_end(ends[0]);
  SystemFile write_end(ends[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);  // nothing waits on a prompt
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  write_end.reset();  // the child holds the only writing end now: its exit ends the reads
  if (spawned != 0) return -1;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(static_cast<int>(read_end.get()), buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    output.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // posix_spawnp reports a program missing from PATH as exit code 127 of the child.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && output.empty()) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace publish
