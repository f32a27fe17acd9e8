// Mending an archive whose chain of records and count disagree: what a stopped addition or a damaged file
// leaves behind.
#include <limits>
#include <vector>

#include "archive/archive.h"
#include "archive/messages.h"

namespace kdl {

using namespace archive_text;

namespace {

// A record whose length is to be set to what its image's own track directory says.
struct LengthFix {
  int32_t index;  // from 0
  int64_t at;     // the record's position
  int32_t length;
};

// What a repair finds: the records to keep, the lengths to mend, and where the chain is to end.
struct RepairPlan {
  int32_t records = 0;
  std::vector<LengthFix> fixes;
  int64_t end = kFirstRecordOffset;
  bool cut = false;  // a broken record at `end` and everything behind it are cut off
};

// The length by which the record at `at` leads on to a sound record or the end of the chain, when its own
// length does not and its image's track directory gives another; -1 when there is none.
int64_t MendedLength(const File& file, int64_t at) {
  const int64_t imageStart = at + static_cast<int64_t>(kArchiveEntrySize);
  const int64_t end = StoredImageEnd(file, imageStart);
  if (end <= 0 || end > std::numeric_limits<int32_t>::max() || imageStart + end > file.Size()) return -1;
  ArchiveEntry next;
  return ReadRecord(file, imageStart + end, next) == RecordKind::kBroken ? -1 : end;
}

RepairPlan PlanRepair(const File& file) {
  RepairPlan plan;
  ArchiveEntry entry;
  for (int64_t at = kFirstRecordOffset;;) {
    plan.end = at;
    const RecordKind kind = ReadRecord(file, at, entry);
    if (kind == RecordKind::kEnd) return plan;
    int64_t length = entry.length;
    ArchiveEntry next;
    // A length that is off (a damaged record) shows where it leads: to a broken record, or past its own
    // image. It is mended when the image's own directory leads on to a sound record instead.
    const bool leadsOn =
        kind == RecordKind::kInUse &&
        ReadRecord(file, at + static_cast<int64_t>(kArchiveEntrySize) + length, next) != RecordKind::kBroken;
    if (!leadsOn) {
      const int64_t mended = entry.marker == kEntryInUse ? MendedLength(file, at) : -1;
      if (mended >= 0 && mended != length) {
        length = mended;
        plan.fixes.push_back({plan.records, at, static_cast<int32_t>(mended)});
      } else if (kind == RecordKind::kBroken) {
        plan.cut = true;
        return plan;
      }
    }
    ++plan.records;
    at += static_cast<int64_t>(kArchiveEntrySize) + length;
  }
}

}  // namespace

int32_t RepairArchive(ArchiveState& archive, const std::string& path) {
  if (OpenArchive(archive, path) < 0) return -1;
  int32_t result = -1;
  if (archive.work().readOnly) {
    ShowArchiveError(archive, kWriteProtected);
  } else if (LockArchive(archive)) {
    const RepairPlan plan = PlanRepair(archive.file());
    Prompter* prompter = archive.work().prompter;
    if (!plan.cut && plan.fixes.empty() && plan.records == archive.header.count) {
      if (prompter != nullptr)
        prompter->Ask(kCaptionArchive, Format(kNothingToRepair, archive.path.c_str()), Buttons::kOk,
                      Icon::kInformation);
      result = plan.records;
    } else {
      std::string text = Format(kRepairPlan, archive.path.c_str(), archive.header.count, plan.records);
      for (const LengthFix& fix : plan.fixes) text += Format(kRepairLength, fix.index + 1, fix.length);
      if (plan.cut) text += Format(kRepairCut, plan.records + 1);
      text += kRepairAsk;
      bool ok = prompter != nullptr &&
                prompter->Ask(kCaptionArchive, text, Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
      // The records first, then the terminator, then the count: a repair that stops halfway leaves an archive
      // that the next repair finds as it was or mends further.
      for (const LengthFix& fix : plan.fixes) {
        std::array<uint8_t, kArchiveEntrySize> bytes{};
        ok = ok && archive.file().ReadAt(static_cast<uint64_t>(fix.at), bytes.data(), bytes.size()) ==
                       static_cast<int64_t>(bytes.size());
        if (!ok) break;
        ArchiveEntry entry = ParseArchiveEntry(ByteView(bytes.data(), bytes.size()));
        entry.length = fix.length;
        SerializeArchiveEntry(entry, ByteSpan(bytes.data(), bytes.size()));
        ok = archive.WriteAt(fix.at, bytes.data(), bytes.size());
      }
      static constexpr std::array<uint8_t, kArchiveEntrySize> kTerminator{};
      if (ok && plan.cut) ok = archive.WriteAt(plan.end, kTerminator.data(), kTerminator.size());
      if (ok) {
        archive.header.count = static_cast<int16_t>(plan.records);
        ok = archive.file().Sync() && WriteArchiveHeader(archive) && archive.file().Sync();
        if (!ok) ShowArchiveError(archive, kOutputError);
        if (ok) {
          archive.work().listChanged = true;
          result = plan.records;
        }
      }
    }
  }
  CloseArchive(archive);
  return result;
}

}  // namespace kdl
