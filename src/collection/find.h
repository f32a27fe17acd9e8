// Searching a collection: entries whose long or 8.3 name matches a shell pattern, and whose contents hold a
// text. Directories are read through the units that hold them; file contents only when a text is searched.
#pragma once

#include <locale.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "collection/volume.h"
#include "common/bytes.h"

namespace kdl {

struct FindQuery {
  std::string pattern;      // shell pattern (*, ?, [...]); empty: every entry
  bool ignoreCase = false;  // long names and contents without regard to ASCII case; 8.3 names always are
  std::string text;         // UTF-8 text the contents must hold; empty: names alone
};

class FindMatcher {
 public:
  explicit FindMatcher(const FindQuery& query);
  ~FindMatcher();
  FindMatcher(const FindMatcher&) = delete;
  FindMatcher& operator=(const FindMatcher&) = delete;

  // The pattern matches the long (display) name, or the 8.3 name in any case, as DOS compares them.
  bool NameMatches(const VolumeEntry& entry) const;
  // The bytes hold the text as given (UTF-8, or any encoding where it is plain ASCII) or in Shift-JIS; the
  // Shift-JIS form only counts where it starts on a character of the Shift-JIS text, so that the second byte
  // of a double-byte character never starts a match.
  bool ContentMatches(ByteView bytes) const;
  bool searchesText() const { return !query_.text.empty(); }

 private:
  bool Glob(const std::string& pattern, const std::string& name) const;
  bool FindSjis(ByteView bytes) const;

  FindQuery query_;
  std::string foldedPattern_;  // ASCII letters in lower case, character class names kept
  std::string utf8Needle_;
  std::optional<std::string> sjisNeedle_;  // only when it differs from the UTF-8 form
  locale_t utf8Locale_ = nullptr;
};

struct FindHit {
  std::string path;  // "/DIR/NAME" with display names
  const VolumeEntry& entry;
};

// Walks every directory of the volume once, depth first in directory order, and calls `hit` for every entry
// that matches: by name, and with a text by its readable contents too (directories then never match). False
// when part of the volume could not be read (a directory sector, a searched file's unit or its broken chain),
// after a message; the walk goes on past it.
bool FindInVolume(Volume& volume, const FindMatcher& matcher, const std::function<void(const FindHit&)>& hit);

}  // namespace kdl
