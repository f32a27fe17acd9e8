#define FUSE_USE_VERSION 312
#include "kdl/mount/fuse_mount.h"

#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <thread>

#include "kdl/mount/mount_tree.h"

namespace kdlmount {
namespace {

// Host folder contents may change under a mount; what lies inside an image does not, but its file may be
// replaced, so the kernel is told to ask again after a second.
constexpr double kTimeoutSeconds = 1.0;
// Most distinct messages remembered; past it they are told again.
constexpr size_t kMaxToldMessages = 1024;

MountTree& Tree() { return *static_cast<MountTree*>(fuse_get_context()->private_data); }

void* Init(fuse_conn_info*, fuse_config* config) {
  config->entry_timeout = kTimeoutSeconds;
  config->attr_timeout = kTimeoutSeconds;
  config->negative_timeout = kTimeoutSeconds;
  return fuse_get_context()->private_data;
}

int Getattr(const char* path, struct stat* st, fuse_file_info*) {
  if (path == nullptr) return -ENOENT;
  Node node;
  if (const int r = Tree().Lookup(path, node); r != 0) return r;
  *st = Tree().Attributes(node);
  return 0;
}

int Readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (path == nullptr) return -ENOENT;
  MountTree& tree = Tree();
  Node node;
  if (const int r = tree.Lookup(path, node); r != 0) return r;
  std::vector<std::pair<std::string, Node>> children;
  if (const int r = tree.List(node, children); r != 0) return r;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const auto& [name, child] : children) {
    const struct stat st = tree.Attributes(child);
    if (fill(buffer, name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS) != 0) break;
  }
  return 0;
}

int Open(const char* path, fuse_file_info* info) {
  if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  if (path == nullptr) return -ENOENT;
  Node node;
  if (const int r = Tree().Lookup(path, node); r != 0) return r;
  auto file = std::make_unique<MountTree::OpenFile>();
  if (const int r = Tree().Open(node, *file); r != 0) return r;
  // A file that reads whole may stay in the kernel's cache. One with unreadable bytes is read around the
  // cache, so that exactly its unreadable bytes give EIO however a program reads it.
  info->keep_cache = file->readable ? 1 : 0;
  info->direct_io = file->readable ? 0 : 1;
  info->fh = reinterpret_cast<uint64_t>(Tree().Hold(std::move(file)));
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
  auto* file = reinterpret_cast<MountTree::OpenFile*>(info->fh);
  if (file == nullptr || offset < 0) return -EIO;
  const int64_t n =
      file->volume->Read(file->map, static_cast<uint64_t>(offset), size, reinterpret_cast<uint8_t*>(buffer));
  return n < 0 ? -EIO : static_cast<int>(n);
}

int Release(const char*, fuse_file_info* info) {
  Tree().Release(reinterpret_cast<const MountTree::OpenFile*>(info->fh));
  info->fh = 0;
  return 0;
}

int Getxattr(const char* path, const char* name, char* value, size_t size) {
  if (path == nullptr) return -ENOENT;
  Node node;
  if (const int r = Tree().Lookup(path, node); r != 0) return r;
  const std::optional<uint8_t> attribute = Tree().DosAttribute(node);
  if (!attribute || std::strcmp(name, kDosAttributeName) != 0) return -ENODATA;
  if (size == 0) return 1;
  value[0] = static_cast<char>(*attribute);
  return 1;
}

int Listxattr(const char* path, char* list, size_t size) {
  if (path == nullptr) return -ENOENT;
  Node node;
  if (const int r = Tree().Lookup(path, node); r != 0) return r;
  if (!Tree().DosAttribute(node)) return 0;
  const size_t length = std::strlen(kDosAttributeName) + 1;
  if (size == 0) return static_cast<int>(length);
  if (size < length) return -ERANGE;
  std::memcpy(list, kDosAttributeName, length);
  return static_cast<int>(length);
}

int Statfs(const char*, struct statvfs* st) {
  *st = {};
  st->f_bsize = 512;
  st->f_frsize = 512;
  st->f_namemax = 255;
  return 0;
}

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = Getattr;
  ops.readdir = Readdir;
  ops.open = Open;
  ops.read = Read;
  ops.release = Release;
  ops.getxattr = Getxattr;
  ops.listxattr = Listxattr;
  ops.statfs = Statfs;
  return ops;
}

// A value for fsname: commas and backslashes would end or change the option.
std::string EscapeOption(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == ',' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// A FUSE file system made over `tree` and mounted on `mountpoint`, with the arguments it was made from.
class Mounted {
 public:
  Mounted(MountTree& tree, const std::string& source, const std::vector<std::string>& options) {
    arguments_ = {"kdl", "-o", "ro,default_permissions,subtype=kdl,fsname=" + EscapeOption(source)};
    for (const std::string& o : options) {
      arguments_.push_back("-o");
      arguments_.push_back(o);
    }
    for (std::string& a : arguments_) pointers_.push_back(a.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(pointers_.size()), pointers_.data());
    const fuse_operations ops = Operations();
    fuse_ = fuse_new(&args, &ops, sizeof ops, &tree);
    fuse_opt_free_args(&args);
  }
  ~Mounted() {
    if (fuse_ != nullptr) {
      if (mounted_) fuse_unmount(fuse_);
      fuse_destroy(fuse_);
    }
  }
  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

  bool Created() const { return fuse_ != nullptr; }
  bool Mount(const std::string& mountpoint) {
    mounted_ = fuse_mount(fuse_, mountpoint.c_str()) == 0;
    return mounted_;
  }
  // Serves requests on several threads until the file system is unmounted or the session told to end.
  int Loop() {
    fuse_loop_config* config = fuse_loop_cfg_create();
    const int r = fuse_loop_mt(fuse_, config);
    fuse_loop_cfg_destroy(config);
    return r;
  }
  fuse* get() { return fuse_; }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
  fuse* fuse_ = nullptr;
  bool mounted_ = false;
};

bool CheckMountpoint(const std::string& mountpoint, std::string& error) {
  struct stat st {};
  if (::stat(mountpoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = mountpoint + ": not a folder to mount on";
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

}  // namespace

kdl::Answer LogPrompter::Ask(std::string_view, std::string_view text, kdl::Buttons buttons, kdl::Icon) {
  const std::lock_guard lock(mutex_);
  if (told_.size() >= kMaxToldMessages) told_.clear();
  if (told_.insert(std::string(text)).second) {
    if (systemLog_) {
      syslog(LOG_WARNING, "%.*s", static_cast<int>(text.size()), text.data());
    } else {
      std::cerr << "kdl: " << text << std::endl;
    }
  }
  // Nobody can be asked while a file system is being served: the safe answer.
  return buttons == kdl::Buttons::kOk ? kdl::Answer::kOk : kdl::Answer::kNo;
}

void LogPrompter::UseSystemLog(bool on) {
  const std::lock_guard lock(mutex_);
  if (on && !systemLog_) openlog("kdl", LOG_PID, LOG_USER);
  systemLog_ = on;
}

bool FuseAvailable(std::string& why) {
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  why = errno == ENOENT
            ? "FUSE is not available: /dev/fuse is missing (load the fuse module, or give the container "
              "/dev/fuse)"
            : std::string("FUSE is not available: /dev/fuse cannot be opened (") + std::strerror(errno) + ")";
  return false;
}

int ServeMount(const MountRequest& request, LogPrompter& prompter, std::string& error) {
  if (!FuseAvailable(error) || !CheckMountpoint(request.mountpoint, error)) return 1;
  // A daemon works from "/": every path it keeps must not depend on where it was started, the mount point
  // included, which it unmounts by name when a signal ends it.
  const std::string mountpoint = AbsolutePath(request.mountpoint);
  TreeOptions options;
  options.cacheBytes = request.cacheBytes;
  MountTree tree(AbsolutePath(request.source), prompter, options);
  if (!tree.Open(error)) return 1;
  Mounted mounted(tree, request.source, request.options);
  if (!mounted.Created()) {
    error = "the mount options were not accepted";
    return 1;
  }
  if (!mounted.Mount(mountpoint)) {
    error = "cannot mount on " + request.mountpoint;
    return 1;
  }
  if (fuse_daemonize(request.foreground ? 1 : 0) != 0) {
    error = "cannot run in the background";
    return 1;
  }
  if (!request.foreground) prompter.UseSystemLog(true);
  fuse_session* session = fuse_get_session(mounted.get());
  // libfuse only takes signals nobody handles yet; Ctrl-C and SIGTERM must end the loop and unmount.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
  fuse_set_signal_handlers(session);
  mounted.Loop();
  fuse_remove_signal_handlers(session);
  return 0;
}

struct MountSession::Impl {
  LogPrompter prompter;
  std::unique_ptr<MountTree> tree;
  std::unique_ptr<Mounted> mounted;
  std::string mountpoint;
  std::thread loop;
  std::future<void> ended;
};

MountSession::MountSession() : impl_(std::make_unique<Impl>()) {}

MountSession::~MountSession() { Stop(); }

bool MountSession::Start(const std::string& source, const std::string& mountpoint, std::string& error) {
  Stop();
  if (!FuseAvailable(error) || !CheckMountpoint(mountpoint, error)) return false;
  auto tree = std::make_unique<MountTree>(AbsolutePath(source), impl_->prompter);
  if (!tree->Open(error)) return false;
  auto mounted = std::make_unique<Mounted>(*tree, source, std::vector<std::string>{});
  const std::string absolute = AbsolutePath(mountpoint);
  if (!mounted->Created() || !mounted->Mount(absolute)) {
    error = "cannot mount on " + mountpoint;
    return false;
  }
  impl_->tree = std::move(tree);
  impl_->mounted = std::move(mounted);
  impl_->mountpoint = absolute;
  std::promise<void> ended;
  impl_->ended = ended.get_future();
  impl_->loop = std::thread([mounted = impl_->mounted.get(), ended = std::move(ended)]() mutable {
    mounted->Loop();
    ended.set_value();
  });
  return true;
}

void MountSession::Stop() {
  if (!impl_->loop.joinable()) return;
  std::thread poke;
  if (impl_->ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    // The serving threads only see that they are to end when a request wakes one of them: one more is made.
    // Reading an extended attribute of the root always reaches the file system (the kernel keeps none) and
    // leaves no handle behind to be released. The request may be taken and never answered as the threads
    // end, so it is made from a thread of its own, which closing the device releases.
    fuse_session_exit(fuse_get_session(impl_->mounted->get()));
    poke = std::thread([point = impl_->mountpoint] {
      char byte = 0;
      (void)::getxattr(point.c_str(), kDosAttributeName, &byte, sizeof byte);
    });
  }
  if (impl_->ended.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Still serving: leave it running rather than free what its threads use.
    impl_->loop.detach();
    if (poke.joinable()) poke.detach();
    (void)impl_.release();
    impl_ = std::make_unique<Impl>();
    return;
  }
  impl_->loop.join();
  // Unmounting closes the device first, which ends the connection: what other programs still hold open fails
  // from now on, and a request left unanswered returns.
  impl_->mounted.reset();
  impl_->tree.reset();
  impl_->mountpoint.clear();
  if (poke.joinable()) poke.join();
}

bool MountSession::IsRunning() const {
  return impl_->loop.joinable() &&
         impl_->ended.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

}  // namespace kdlmount
