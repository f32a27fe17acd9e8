// Texts of the operations that move a disk between a drive and an image, and their printf-style formatting.
#pragma once

#include <string>
#include <string_view>

#include "common/text_format.h"

namespace kdl::drive_text {

// Errors, shown with the image caption.
inline constexpr const char* kCannotCreate = "ファイルが作成できません";
inline constexpr const char* kWriteError = "ファイル出力エラー";
inline constexpr const char* kDriveReadError = "Drv Read Err";
inline constexpr const char* kFddInputError = "ＦＤＤ入力エラー";
inline constexpr const char* kMediaDiffers = "メディアのタイプが違います";
inline constexpr const char* kFileInputError = "ファイル入力エラー発生";
inline constexpr const char* kDriveOutputError = "ドライブ出力エラー発生";
inline constexpr const char* kDmfNotRestorable = "ＤＭＦディスクは再生できません";
inline constexpr const char* kLabelTooLong = "ラベルは40バイトまでです";
inline constexpr const char* kRestoreNothingReadable =
    "イメージが壊れていて書き込めるトラックがありません\nディスクには何も書き込んでいません";
inline constexpr const char* kRestoreDamagedRefused =
    "イメージの TRK %s が壊れているため再生しません\nディスクには何も書き込んでいません";
inline constexpr const char* kRestoreFilled = "イメージの TRK %s は読めないため %02X で埋めて書き込みました";
inline constexpr const char* kRawFilled = "イメージの TRK %s は読めないため %02X で埋めて出力しました";
inline constexpr const char* kNotARegularFile = "%s は通常のファイルではありません";

// Notices.
inline constexpr const char* kStoredWholeOwnLayout =
    "このディスクは標準と異なる形式です（クラスタ %d バイト、ルート %d エントリー）\n"
    "未使用クラスタも含めて全てファイル化します";
inline constexpr const char* kStoredWholeFatCopies =
    "このディスクは FAT の複製どうしが一致しません\n未使用クラスタも含めて全てファイル化します";

// Questions.
inline constexpr const char* kExists = "%s は存在します。上書きしますか？";
inline constexpr const char* kUnsupportedDisk = "サポートしていないディスクです";
inline constexpr const char* kOtherMedia = "違うタイプのメディアです( %s )\n交換してやり直しますか";
inline constexpr const char* kRestoreDamagedAsk =
    "イメージの TRK %s が壊れています\n読めるトラックだけを書き込み、壊れたトラックは %02X で埋めますか？";
inline constexpr const char* kVerifyDiffers = "ベリファイエラーがありました\nベリファイを続けますか";
inline constexpr std::string_view kCaptionVerify = "ベリファイ";
inline constexpr std::string_view kCaptionRestore = "ＦＤ再生";
inline constexpr std::string_view kCaptionRawOutput = "img FILE";
inline constexpr const char* kRetryQuestion = "\nやり直しますか";

// Names of the operations in the interruption question.
inline constexpr std::string_view kOpCreate = "ＫＤＬ作成";
inline constexpr std::string_view kOpRawCreate = "Image File 作成";
inline constexpr std::string_view kOpRestore = "ＦＤ再生";
inline constexpr std::string_view kOpVerify = "べりファイ";

// Status lines, one per track unit: the unit and the last unit's number.
inline constexpr const char* kReading = "入力中　　：TRK %3d / %2d         ";
inline constexpr const char* kReadingSame = "入力中　　：TRK %3d / %2d Data: %02x";
inline constexpr const char* kReadingPacking = "入力中　　：TRK %3d / %2d Packing ";
inline constexpr const char* kVerifying = "ベリファイ：TRK %3d / %2d         ";
inline constexpr const char* kRestoring = "リストア中：TRK %3d /%3d";
inline constexpr const char* kWritingRaw = "出力中　　：TRK %3d / %2d         ";

// The type line of a new image.
inline constexpr const char* kTypeLine = "タイプ：%s  %s";
inline constexpr const char* kVolumeLabel = "Volume LABEL : %s";
inline constexpr const char* kNoVolumeLabel = "NO VOLUME LABEL";

using kdl::Format;

}  // namespace kdl::drive_text
