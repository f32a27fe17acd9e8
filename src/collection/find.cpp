#include "collection/find.h"

#include <fnmatch.h>

#include <algorithm>
#include <set>

#include "common/sjis.h"
#include "common/text_format.h"

namespace kdl {
namespace {

// Far deeper than any real disk's tree (its paths are limited to 260 characters).
constexpr int kMaxDepth = 128;
constexpr const char* kBrokenChain = "ファイル %s のクラスタチェーンが途中で切れています";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldAscii(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
  return out;
}

// Lower-cases the ASCII letters of a pattern except the names of character classes ("[:upper:]").
std::string FoldPattern(std::string_view pattern) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 2, "[:") == 0) {
      const size_t end = pattern.find(":]", i + 2);
      if (end != std::string_view::npos) {
        out.append(pattern.substr(i, end + 2 - i));
        i = end + 1;
        continue;
      }
    }
    out += LowerAscii(pattern[i]);
  }
  return out;
}

}  // namespace

FindMatcher::FindMatcher(const FindQuery& query) : query_(query), foldedPattern_(FoldPattern(query.pattern)) {
  // Patterns and names are UTF-8 whatever the program's locale, so that "?" matches one character.
  utf8Locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  utf8Needle_ = query.ignoreCase ? FoldAscii(query.text) : query.text;
  if (std::optional<std::string> sjis = Utf8ToSjis(query.text); sjis && *sjis != query.text)
    sjisNeedle_ = sjis;
}

FindMatcher::~FindMatcher() {
  if (utf8Locale_ != nullptr) freelocale(utf8Locale_);
}

bool FindMatcher::Glob(const std::string& pattern, const std::string& name) const {
  const locale_t previous = utf8Locale_ != nullptr ? uselocale(utf8Locale_) : nullptr;
  const bool match = fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
  if (previous != nullptr) uselocale(previous);
  return match;
}

bool FindMatcher::NameMatches(const VolumeEntry& entry) const {
  if (query_.pattern.empty()) return true;
  if (query_.ignoreCase ? Glob(foldedPattern_, FoldAscii(entry.name)) : Glob(query_.pattern, entry.name))
    return true;
  return Glob(foldedPattern_, FoldAscii(entry.shortName));
}

bool FindMatcher::FindSjis(ByteView bytes) const {
  const std::string& needle = *sjisNeedle_;
  const size_t n = bytes.size(), m = needle.size();
  // Which needle bytes are single-byte characters, the only ones case may be ignored in.
  std::vector<bool> single(m, false);
  for (size_t k = 0; k < m; ++k) {
    if (IsSjisLeadByte(static_cast<uint8_t>(needle[k]))) {
      ++k;
    } else {
      single[k] = true;
    }
  }
  for (size_t i = 0; i + m <= n; ++i) {
    size_t k = 0;
    for (; k < m; ++k) {
      const char c = static_cast<char>(bytes.data()[i + k]);
      const bool same =
          single[k] && query_.ignoreCase ? LowerAscii(c) == LowerAscii(needle[k]) : c == needle[k];
      if (!same) break;
    }
    if (k == m) return true;
    // Character by character: a lead byte takes its trail byte with it.
    if (IsSjisLeadByte(bytes.data()[i]) && i + 1 < n) ++i;
  }
  return false;
}

bool FindMatcher::ContentMatches(ByteView bytes) const {
  if (query_.text.empty()) return true;
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  const std::string_view content(begin, bytes.size());
  if (query_.ignoreCase) {
    if (FoldAscii(content).find(utf8Needle_) != std::string::npos) return true;
  } else if (content.find(utf8Needle_) != std::string_view::npos) {
    return true;
  }
  return sjisNeedle_ && FindSjis(bytes);
}

namespace {

struct Walk {
  Volume& volume;
  const FindMatcher& matcher;
  const std::function<void(const FindHit&)>& hit;
  std::set<uint16_t> seen{0};  // directories entered, by first cluster: each is walked once
  bool ok = true;

  void Directory(uint16_t cluster, const std::string& path, int depth) {
    const std::shared_ptr<const VolumeDirectory> dir = volume.Directory(cluster);
    if (dir->damaged) ok = false;
    for (const VolumeEntry& e : dir->entries) {
      const std::string here = path + "/" + e.name;
      if (e.IsDirectory()) {
        if (!matcher.searchesText() && matcher.NameMatches(e)) hit(FindHit{here, e});
        if (e.firstCluster >= 2 && depth < kMaxDepth && seen.insert(e.firstCluster).second)
          Directory(e.firstCluster, here, depth + 1);
        continue;
      }
      if (!matcher.NameMatches(e)) continue;
      if (matcher.searchesText() && !Contents(e, here)) continue;
      hit(FindHit{here, e});
    }
  }

  bool Contents(const VolumeEntry& e, const std::string& path) {
    const FileMap map = volume.MapFile(e);
    std::vector<std::pair<uint64_t, uint64_t>> readable;
    const std::vector<uint8_t> bytes = volume.ReadAll(map, readable);
    if (map.readable < map.size) {
      volume.Report(Format(kBrokenChain, path.c_str()));
      ok = false;
    } else if (readable.size() != 1 && map.size > 0) {
      ok = false;
    } else if (map.size > 0 && (readable[0].first != 0 || readable[0].second != map.size)) {
      ok = false;
    }
    // A match never spans bytes that could not be read.
    return std::any_of(readable.begin(), readable.end(), [&](const auto& r) {
      return matcher.ContentMatches(
          ByteView(bytes.data() + r.first, static_cast<size_t>(r.second - r.first)));
    });
  }
};

}  // namespace

bool FindInVolume(Volume& volume, const FindMatcher& matcher,
                  const std::function<void(const FindHit&)>& hit) {
  Walk walk{volume, matcher, hit};
  walk.Directory(0, "", 0);
  return walk.ok;
}

}  // namespace kdl
