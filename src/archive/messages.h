// The texts the archive operations show, and printf-style formatting into a std::string.
#pragma once

#include <string>

#include "common/text_format.h"

namespace kdl::archive_text {

inline constexpr const char* kCannotOpen = "%s がオープンできません";
inline constexpr const char* kCannotCreate = "ファイルが作れません";
inline constexpr const char* kWriteProtected = "書き込み禁止ファイルです。更新できません";
inline constexpr const char* kNoInputFile = "入力ファイルがありません";
inline constexpr const char* kCannotOpenInput = "入力ファイルがオープンできません";
inline constexpr const char* kInputError = "ファイル入力エラー";
inline constexpr const char* kOutputError = "ファイル出力エラー";
inline constexpr const char* kUnsupportedDisk = "サポートしていないディスクです";
inline constexpr const char* kCannotOpenOutput = "出力ファイルがオープンできません";
inline constexpr const char* kCannotMakeFolder = "コピー先ディレクトリが作成できません";
inline constexpr const char* kProcessing = "処理中　KDL:%s";
inline constexpr const char* kImageCount = "ＫＤＬ数：%3d";
inline constexpr const char* kReportFirstLine = "FILE:%s %8lld Bytes  Created %s";
inline constexpr const char* kNotAnImage = "%s はカドローンではありません";
inline constexpr const char* kBadGeometry = "%s のディスク形式情報が正しくありません";
inline constexpr const char* kBadTrackEntry = "%s TRK:%2d  トラック情報が正しくありません";
// Texts for faults the archive operations refuse rather than pass on.
inline constexpr const char* kBrokenEntry = "%s : %d 番目のエントリーが正しくありません";
inline constexpr const char* kNothingToRepair = "%s は修復の必要がありません";
inline constexpr const char* kRepairPlan = "%s を修復します\nイメージ数 : %d → %d";
inline constexpr const char* kRepairLength = "\n%d 番目のエントリーの長さを %d バイトに直します";
inline constexpr const char* kRepairCut = "\n%d 番目以降の壊れたエントリーを切り離します";
inline constexpr const char* kRepairAsk = "\nよろしいですか？";
inline constexpr const char* kCountMismatch =
    "%s : ヘッダーのイメージ数 %d とエントリーの数 %d が一致しません";
inline constexpr const char* kNoSuchEntry = "%s に %d 番目のイメージはありません";
inline constexpr const char* kNoSuchName = "%s に %s はありません";
inline constexpr const char* kBusy = "%s は他のプログラムが更新中です";
inline constexpr const char* kArchiveFull = "アーカイブに追加できるのは %d 枚までです";
inline constexpr const char* kIsTheArchive = "%s はアーカイブ自身です";
inline constexpr const char* kTooLarge = "%s は大きすぎます";
inline constexpr const char* kRawTooShort = "%s はディスクの大きさに足りません";
inline constexpr const char* kImagesNotCopied = "次のイメージは正しくコピーできませんでした : %s";

using kdl::Format;

}  // namespace kdl::archive_text
