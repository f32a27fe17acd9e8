#include "drive/host_drive.h"

#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "common/file.h"
#include "common/text_format.h"
#include "drive/formats/container.h"
#include "drive/media.h"

namespace kdl {
namespace {

// The formats a floppy controller's driver does not find by itself; only these are ever set.
constexpr std::array<int32_t, 2> kProbeTypes = {0, kMediaTypeDmf};

// Read/write and format gaps of the floppy controller for a sector size and sectors per track (one head).
struct Gaps {
  uint8_t rw;
  uint8_t format;
};
Gaps GapsFor(int sectorSize, int sectorsPerHead) {
  if (sectorSize == 1024) return {0x35, 0x74};
  if (sectorsPerHead > 18) return {0x1C, 0x0C};
  return {0x1B, 0x6C};
}

// A regular file holding a raw disk image. It is read and written in place and never changes its length.
class FileDevice : public SectorDevice {
 public:
  explicit FileDevice(File file) : file_(std::move(file)) {}

  bool ReadAt(uint64_t offset, uint8_t* data, size_t length) override {
    scratch_.resize(length);
    if (file_.ReadAt(offset, scratch_.data(), length) != static_cast<int64_t>(length)) return false;
    std::memcpy(data, scratch_.data(), length);
    return true;
  }

  bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) override {
    const int64_t size = file_.Size();
    if (size < 0 || !RangeFits(offset, length, static_cast<uint64_t>(size))) return false;
    return file_.WriteAt(offset, data, length) == static_cast<int64_t>(length);
  }

 private:
  File file_;
  std::vector<uint8_t> scratch_;
};

// A disk image of another tool's format (D88, FDI, ImageDisk, gzip), read whole when the drive is opened. It
// is never written: the container's own structure would have to be rebuilt around the new sectors. Reads
// fail where they touch a damaged sector, which the drive layer then reads around sector by sector.
class ContainerDevice : public SectorDevice {
 public:
  ContainerDevice(ContainerDisk disk, std::string path)
      : disk_(std::move(disk)),
        path_(std::move(path)),
        sectorSize_(MediaGeometryOf(disk_.mediaType).sectorSize) {}

  bool ReadAt(uint64_t offset, uint8_t* data, size_t length) override {
    if (length == 0 || sectorSize_ <= 0 || !RangeFits(offset, length, disk_.bytes.size())) return false;
    const auto first = static_cast<int32_t>(offset / static_cast<uint64_t>(sectorSize_));
    const auto last = static_cast<int32_t>((offset + length - 1) / static_cast<uint64_t>(sectorSize_));
    const auto damaged = std::lower_bound(disk_.damage.begin(), disk_.damage.end(), first,
                                          [](const DamagedSector& d, int32_t s) { return d.sector < s; });
    if (damaged != disk_.damage.end() && damaged->sector <= last) return false;
    std::memcpy(data, disk_.bytes.data() + offset, length);
    return true;
  }
  bool WriteAt(uint64_t, const uint8_t*, size_t) override { return false; }
  int32_t KnownMediaType() const override { return disk_.mediaType; }
  bool FailsBySector() const override { return true; }
  std::string DamageReport() const override {
    const std::string details = DescribeDamage(disk_);
    if (details.empty()) return {};
    return Format("%s : %s 形式のイメージに損傷があります（読めないセクタ %zu 個）\n%s", path_.c_str(),
                  std::string(ContainerFormatName(disk_.inner)).c_str(), disk_.damage.size(),
                  details.c_str());
  }

 private:
  ContainerDisk disk_;
  std::string path_;
  int32_t sectorSize_;
};

// Reads a regular file's first bytes to tell a container of another tool from a raw image.
ContainerFormat ProbeFile(const File& file) {
  const int64_t size = file.Size();
  std::array<uint8_t, 4096> head{};
  const int64_t got = size > 0 ? file.ReadAt(0, head.data(), head.size()) : 0;
  if (got <= 0) return ContainerFormat::kUnknown;
  return DetectContainer(ByteView(head.data(), static_cast<size_t>(got)), static_cast<uint64_t>(size));
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

// A block device read and written past the page cache, so that a verification reads the medium and not what
// was just written, and a bad sector in a neighbouring unit never fails a read that does not ask for it.
class BlockDevice : public SectorDevice {
 public:
  BlockDevice(int fd, bool direct) : fd_(fd), direct_(direct) {
    int size = 0;
    if (::ioctl(fd_, BLKSSZGET, &size) == 0 && size >= 512 && (size & (size - 1)) == 0)
      align_ = static_cast<uint64_t>(size);
    // Without direct transfers, at least drop what the cache holds of an earlier disk.
    if (!direct_) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
  }
  ~BlockDevice() override {
    if (!direct_) ::fdatasync(fd_);
    ::close(fd_);
  }
  BlockDevice(const BlockDevice&) = delete;
  BlockDevice& operator=(const BlockDevice&) = delete;

  bool ReadAt(uint64_t offset, uint8_t* data, size_t length) override {
    if (!direct_) return ReadFull(offset, data, length);
    const Span s = SpanOf(offset, length);
    if (!Reserve(s.length) || !ReadFull(s.start, bounce_.get(), s.length)) return false;
    std::memcpy(data, bounce_.get() + (offset - s.start), length);
    return true;
  }

  bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) override {
    if (!direct_) return WriteFull(offset, data, length) && ::fdatasync(fd_) == 0;
    const Span s = SpanOf(offset, length);
    if (!Reserve(s.length)) return false;
    // A run that does not cover whole device blocks keeps the bytes of those blocks around it.
    if ((s.start != offset || s.length != length) && !ReadFull(s.start, bounce_.get(), s.length))
      return false;
    std::memcpy(bounce_.get() + (offset - s.start), data, length);
    return WriteFull(s.start, bounce_.get(), s.length);
  }

 protected:
  int fd() const { return fd_; }

 private:
  struct Span {
    uint64_t start;
    size_t length;
  };
  Span SpanOf(uint64_t offset, size_t length) const {
    const uint64_t start = offset / align_ * align_;
    const uint64_t end = (offset + length + align_ - 1) / align_ * align_;
    return {start, static_cast<size_t>(end - start)};
  }
  bool Reserve(size_t length) {
    if (length <= capacity_) return true;
    void* p = nullptr;
    if (::posix_memalign(&p, 4096, length) != 0) return false;
    bounce_.reset(static_cast<uint8_t*>(p));
    capacity_ = length;
    return true;
  }
  bool ReadFull(uint64_t offset, uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_, data + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool WriteFull(uint64_t offset, const uint8_t* data, size_t length) {
    return WriteAllAt(fd_, offset, data, length) == length;
  }

  int fd_;
  bool direct_;
  uint64_t align_ = 512;
  std::unique_ptr<uint8_t, FreeDeleter> bounce_;
  size_t capacity_ = 0;
};

// A drive of the PC floppy controller. Formats its driver does not detect are set through the driver's
// parameter request, which needs a descriptor opened for control only (it works on a write-protected disk).
class FloppyDevice : public BlockDevice {
 public:
  FloppyDevice(int fd, bool direct, std::string path) : BlockDevice(fd, direct), path_(std::move(path)) {}

  std::span<const int32_t> ProbeTypes() const override { return kProbeTypes; }

  bool UseMediaType(int32_t type) override {
    const bool mustTell = type == 0 || type == kMediaType8Inch || type == kMediaTypeDmf;
    if (type >= 0 && !mustTell) return true;
    const int control = ::open(path_.c_str(), O_ACCMODE | O_NONBLOCK | O_CLOEXEC);
    if (control < 0) return false;
    bool ok;
    if (type < 0) {
      ok = ::ioctl(control, FDCLRPRM) == 0;
    } else {
      const std::optional<FloppyParameters> p = FloppyParametersFor(type);
      ok = p.has_value();
      if (ok) {
        floppy_struct f{};
        f.size = p->size;
        f.sect = p->sect;
        f.head = p->head;
        f.track = p->track;
        f.stretch = p->stretch;
        f.gap = p->gap;
        f.rate = p->rate;
        f.spec1 = p->spec1;
        f.fmt_gap = p->fmtGap;
        ok = ::ioctl(control, FDSETPRM, &f) == 0;
      }
    }
    ::close(control);
    return ok;
  }

 private:
  std::string path_;
};

}  // namespace

std::optional<FloppyParameters> FloppyParametersFor(int32_t type) {
  if (type != 0 && type != kMediaType8Inch && type != kMediaTypeDmf) return std::nullopt;
  const MediaRow& row = MediaTable()[static_cast<size_t>(type)];
  const MediaGeometry& g = row.geometry;
  const int heads = type == kMediaType8Inch ? 1 : 2;
  const int trackBytes = g.trackSize / heads;
  // The driver counts a track in 512-byte units: a track that is not a whole number of them cannot be read.
  if (trackBytes % 512 != 0 || g.sectorSize < 128 || g.sectorSize > 1024) return std::nullopt;
  FloppyParameters p;
  p.size = static_cast<uint32_t>(row.totalSectors * g.sectorSize / 512);
  p.sect = static_cast<uint32_t>(trackBytes / 512);
  p.head = static_cast<uint32_t>(heads);
  p.track = static_cast<uint32_t>(g.cylinders);
  int code = 0;  // 128 << code is the sector size
  while ((128 << code) < g.sectorSize) ++code;
  // The driver stores the size code less two, modulo 8, in bits 3-5; data rate 0 is 500 kbit/s.
  p.rate = static_cast<uint8_t>(((code + 6) % 8) << 3);
  const Gaps gaps = GapsFor(g.sectorSize, g.sectorsPerTrack / heads);
  p.gap = gaps.rw;
  p.fmtGap = gaps.format;
  p.spec1 = g.sectorsPerTrack / heads > 18 ? 0xCF : 0xDF;
  return p;
}

std::span<const int32_t> FloppyProbeTypes() { return kProbeTypes; }

std::optional<std::string> ForeignContainerProblem(const std::string& path) {
  File file;
  if (!file.Open(path, File::Mode::kRead) || !IsForeignContainer(ProbeFile(file))) return std::nullopt;
  const ContainerRead read = ReadContainerFile(path);
  if (read.disk) return std::nullopt;
  return read.error;
}

bool IsForeignContainerFile(const std::string& path) {
  struct stat st {};
  File file;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && file.Open(path, File::Mode::kRead) &&
         IsForeignContainer(ProbeFile(file));
}

std::unique_ptr<SectorDevice> OpenHostDevice(const std::string& path, bool forWriting) {
  struct stat st {};
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  if (S_ISREG(st.st_mode)) {
    // A file without write bits is a write-protected disk, also for a user whom permissions do not stop.
    if (forWriting && IsWriteProtected(path, st)) {
      errno = EROFS;
      return nullptr;
    }
    File file;
    if (!file.Open(path, forWriting ? File::Mode::kReadWrite : File::Mode::kRead)) return nullptr;
    if (IsForeignContainer(ProbeFile(file))) {
      // Another tool's image is never written: to the drive layer it is a write-protected disk.
      if (forWriting) {
        errno = EROFS;
        return nullptr;
      }
      ContainerRead read = ReadContainerFile(path);
      if (!read.disk) {
        errno = EMEDIUMTYPE;
        return nullptr;
      }
      return std::make_unique<ContainerDevice>(std::move(*read.disk), path);
    }
    return std::make_unique<FileDevice>(std::move(file));
  }
  if (!S_ISBLK(st.st_mode)) {
    errno = ENOTBLK;
    return nullptr;
  }
  // Writing takes the device for itself: it fails while the disk is mounted or in use elsewhere.
  const int flags = (forWriting ? O_RDWR | O_EXCL : O_RDONLY) | O_CLOEXEC;
  bool direct = true;
  int fd = ::open(path.c_str(), flags | O_DIRECT);
  if (fd < 0 && errno == EINVAL) {
    direct = false;
    fd = ::open(path.c_str(), flags);
  }
  if (fd < 0) return nullptr;
  if (major(st.st_rdev) == FLOPPY_MAJOR) return std::make_unique<FloppyDevice>(fd, direct, path);
  return std::make_unique<BlockDevice>(fd, direct);
}

std::unique_ptr<SectorDevice> HostDrives::Open(int32_t index, bool forWriting) {
  failedIndex_ = index;
  failedErrno_ = ENOENT;
  if (index < 0 || static_cast<size_t>(index) >= paths_.size()) return nullptr;
  std::unique_ptr<SectorDevice> device = OpenHostDevice(paths_[static_cast<size_t>(index)], forWriting);
  failedErrno_ = device ? 0 : errno;
  return device;
}

std::string HostDrives::WhyNotOpen(int32_t index) const {
  if (index != failedIndex_ || failedErrno_ == 0) return {};
  const std::string path =
      index >= 0 && static_cast<size_t>(index) < paths_.size() ? paths_[static_cast<size_t>(index)] : "";
  if (path.empty()) return Format("ドライブ %c: にはデバイスがありません", static_cast<char>('A' + index));
  return DeviceOpenFailureText(path, failedErrno_);
}

std::string DeviceOpenFailureText(const std::string& path, int error) {
  switch (error) {
    case ENOMEDIUM:
    case EIO:
      // The device is there; the disk is what cannot be read.
      return {};
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return Format("ドライブのデバイス %s がありません", path.c_str());
    case EROFS:
      return Format("%s のディスクは書き込み禁止です", path.c_str());
    case EACCES:
    case EPERM:
      return Format("ドライブのデバイス %s を使う権限がありません", path.c_str());
    case EBUSY:
      return Format("ドライブのデバイス %s は使用中です", path.c_str());
    case ENOTBLK:
      return Format("%s はドライブのデバイスではありません", path.c_str());
    default:
      return Format("ドライブのデバイス %s が開けません (%s)", path.c_str(), std::strerror(error));
  }
}

}  // namespace kdl
