// Texts of the operations that change what an image holds. Errors are shown with the image caption; questions
// with the caption of their operation.
#pragma once

#include <string_view>

#include "image/drive_messages.h"

namespace kdl::edit_text {

// Refusals before anything is changed.
inline constexpr const char* kInArchive =
    "%s はＫＤＺの中のイメージです\n取り出してから変更し、ＫＤＺに追加し直してください";
inline constexpr const char* kReadOnlyFile = "%s は読み込み専用です";
inline constexpr const char* kOtherToolsImage =
    "%s は他のツールの形式のディスクイメージで、読み込み専用です\n.KDL のイメージにしてから変更してください";
inline constexpr const char* kNotRegularFile = "%s は通常のファイルではありません";
inline constexpr const char* kBadGeometry = "%s のディスク形式情報が正しくありません";
inline constexpr const char* kOwnLayoutOmitted =
    "%s はＦＡＴの配置が標準と違うディスクを未使用クラスタを省いて保存しています\n"
    "「未使用クラスタのファイル化」で作り直してから変更してください";
inline constexpr const char* kUnreadable = "%s には読めないトラックがあるため変更できません";
inline constexpr const char* kDamaged = "ＦＡＴに異常があります（%s : %s）\n変更できません";
inline constexpr const char* kDamageLoop = "クラスタチェーンがループしています";
inline constexpr const char* kDamageCross = "クラスタが他のファイルと重なっています";
inline constexpr const char* kDamageBroken = "クラスタチェーンが途中で切れています";
inline constexpr const char* kDamageShort = "クラスタチェーンがファイルサイズより短くなっています";

// Refusals of one change.
inline constexpr const char* kNotFound = "%s が見つかりません";
inline constexpr const char* kNotADirectory = "%s はディレクトリではありません";
inline constexpr const char* kIsADirectory = "%s はディレクトリです";
inline constexpr const char* kAlreadyExists = "%s はすでに存在します";
inline constexpr const char* kBadName = "%s はＤＯＳのファイル名にできません";
inline constexpr const char* kRootFull = "ルートディレクトリが一杯です（%s）";
inline constexpr const char* kNoRoom = "%s が入りません（%lld バイト必要、空きは %lld バイト）";
inline constexpr const char* kIntoItself = "%s をそれ自身の中へは移動できません";
inline constexpr const char* kBadLabel = "%s はボリュームラベルにできません（半角11文字まで）";
inline constexpr const char* kCannotRead = "ファイル %s が読み込めません";
inline constexpr const char* kNotAFile = "%s はファイルでもディレクトリでもありません";
inline constexpr const char* kFolderLoop = "%s はフォルダの中の同じフォルダを指しています";
inline constexpr const char* kTargetIsFolder = "%s はフォルダです";

// Questions; a file that exists is asked about as when an image is made.
using drive_text::kExists;
inline constexpr const char* kEntryExists = "ファイル：%s  %s はすでに存在します\n%s%s";
inline constexpr const char* kOlder = "古いファイルですが ";
inline constexpr const char* kOverwrite = "上書きしますか？";
inline constexpr const char* kReadOnlyReplace = "%s は読み込み専用です。上書きしますか？";
inline constexpr const char* kReadOnlyRemove = "%s は読み込み専用です。削除しますか？";
inline constexpr const char* kReadOnlyInside = "%s の中に読み込み専用のファイルがあります。削除しますか？";

// Captions of the questions, and operation names in the interruption question.
inline constexpr std::string_view kCaptionPut = "ファイル追加";
inline constexpr std::string_view kCaptionRemove = "ファイル削除";
inline constexpr std::string_view kCaptionMove = "名称変更";
inline constexpr std::string_view kCaptionFormat = "フォーマット";
inline constexpr std::string_view kOpPut = "ファイル追加";

// Status line while files are added: the path in the image, its date text and its size.
inline constexpr const char* kAdding = "追加中 : %s %s %u bytes";

}  // namespace kdl::edit_text
