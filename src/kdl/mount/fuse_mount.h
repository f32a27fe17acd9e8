// Mounting a collection through FUSE (libfuse 3), read-only, served by several threads: the command line's
// `kdl mount` and the window program's mount command both come here.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/prompt.h"

namespace kdlmount {

// Messages of the images read while mounted: on standard error, or to the system log once the mount runs as
// a daemon. Each distinct text is told once. Safe to use from several threads.
class LogPrompter : public kdl::Prompter {
 public:
  kdl::Answer Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                  kdl::Icon icon) override;
  void UseSystemLog(bool on);

 private:
  std::mutex mutex_;
  std::set<std::string> told_;
  bool systemLog_ = false;
};

// True when this machine can mount FUSE file systems; else false with the reason in `why`.
bool FuseAvailable(std::string& why);

struct MountRequest {
  std::string source;                // an image, "ARCHIVE.KDZ:N", an archive or a folder
  std::string mountpoint;            // an existing, empty folder
  std::vector<std::string> options;  // FUSE mount options, each as given to -o
  bool foreground = false;
  size_t cacheBytes = 16u << 20;  // expanded units kept for all images together
};

// `kdl mount`: checks the source, mounts it and serves it from this process (which becomes a daemon unless
// foreground) until the file system is unmounted (fusermount3 -u) or the process is told to stop (Ctrl-C,
// SIGTERM), then unmounts. 0 after a clean end; 1 with the reason in `error` when it could not mount.
int ServeMount(const MountRequest& request, LogPrompter& prompter, std::string& error);

// A collection mounted and served by threads of this process until Stop (the window program's mounts).
class MountSession {
 public:
  MountSession();
  ~MountSession();
  MountSession(const MountSession&) = delete;
  MountSession& operator=(const MountSession&) = delete;

  // Mounts `source` on `mountpoint` and starts serving it. False with the reason in `error`.
  bool Start(const std::string& source, const std::string& mountpoint, std::string& error);
  // Unmounts and waits for the serving threads to end. Harmless when not running.
  void Stop();
  bool IsRunning() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kdlmount
