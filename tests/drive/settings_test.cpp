#include <gtest/gtest.h>

#include <filesystem>

#include "common/ini.h"
#include "drive/drive_settings.h"
#include "support/test_support.h"

namespace kdl {
namespace {

using kdltest::TempDir;

TEST(IniFile, ReadsSectionsKeysAndValuesWithoutRegardToCase) {
  IniFile ini;
  ini.Parse(
      "; comment\r\n"
      "stray=before any section\n"
      "[Directory]\r\n"
      "Path = C:\\KDL\\ \n"
      "  [mainform]  \n"
      "Left=-12\n"
      "Width=+640\n"
      "Bad=12px\n"
      "Huge=99999999999\n"
      "Quoted=\"  spaced  \"\n"
      "# another comment\n"
      "left=30\n"
      "=no key\n"
      "no equals sign\n"
      "[Drives]\n"
      "A=/dev/fd0");
  EXPECT_EQ(ini.GetString("DIRECTORY", "path", ""), "C:\\KDL\\");
  EXPECT_EQ(ini.GetInt("MainForm", "LEFT", 0), 30);  // the later line wins
  EXPECT_EQ(ini.GetInt("MainForm", "Width", 0), 640);
  EXPECT_EQ(ini.GetInt("MainForm", "Bad", 7), 7);
  EXPECT_EQ(ini.GetInt("MainForm", "Huge", 7), 7);
  EXPECT_EQ(ini.GetInt("MainForm", "Missing", -3), -3);
  EXPECT_EQ(ini.GetString("MainForm", "Quoted", ""), "  spaced  ");
  EXPECT_EQ(ini.GetString("Drives", "a", ""), "/dev/fd0");  // last line without a newline
  EXPECT_FALSE(ini.Get("", "stray"));
  EXPECT_EQ(ini.Keys("mainform"), (std::vector<std::string>{"Left", "Width", "Bad", "Huge", "Quoted"}));
  EXPECT_TRUE(ini.Keys("nothing").empty());
}

TEST(IniFile, SavesWhatItReadsAndWhatWasSet) {
  TempDir dir;
  const auto path = dir / "sub" / "KDLW.INI";
  IniFile ini;
  ini.SetString("Directory", "Path", "/home/user/disks");
  ini.SetInt("MainForm", "Top", -5);
  ini.SetInt("mainform", "TOP", 40);
  ASSERT_TRUE(ini.Save(path));
  IniFile again;
  ASSERT_TRUE(again.Load(path));
  EXPECT_EQ(again.GetString("directory", "path", ""), "/home/user/disks");
  EXPECT_EQ(again.GetInt("MainForm", "Top", 0), 40);
  EXPECT_EQ(again.Text(), ini.Text());
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1);
  IniFile missing;
  EXPECT_FALSE(missing.Load(dir / "none.ini"));
}

TEST(SettingsFile, LivesBesideTheProgramWhenThatFolderIsWritable) {
  TempDir dir;
  EXPECT_EQ(SettingsFilePathFor(dir.path(), "/xdg", "/home/u"), dir / "KDLW.INI");
  const std::filesystem::path gone = dir / "no-such-folder";
  EXPECT_EQ(SettingsFilePathFor(gone, "/xdg", "/home/u"), std::filesystem::path("/xdg/kdlw/KDLW.INI"));
  EXPECT_EQ(SettingsFilePathFor(gone, "", "/home/u"), std::filesystem::path("/home/u/.config/kdlw/KDLW.INI"));
  EXPECT_EQ(SettingsFilePathFor(gone, nullptr, "/home/u"),
            std::filesystem::path("/home/u/.config/kdlw/KDLW.INI"));
  EXPECT_EQ(SettingsFilePath().filename(), "KDLW.INI");
  // An installed program never writes its settings into a system folder, even as root.
  EXPECT_EQ(SettingsFilePathFor("/usr/bin", "/xdg", "/home/u"), std::filesystem::path("/xdg/kdlw/KDLW.INI"));
  EXPECT_EQ(SettingsFilePathFor("/usr/local/bin", "/xdg", "/home/u"),
            std::filesystem::path("/xdg/kdlw/KDLW.INI"));
}

TEST(DriveSettings, DefaultsToTwoFloppyDevicesAndFailingRuns) {
  const DriveSettings s = DriveSettingsFromIni(IniFile());
  ASSERT_EQ(s.devices.size(), 26u);
  EXPECT_EQ(s.devices[0], "/dev/fd0");
  EXPECT_EQ(s.devices[1], "/dev/fd1");
  EXPECT_EQ(s.devices[2], "");
  EXPECT_EQ(s.readFailure, ReadFailure::kFailRun);
}

TEST(DriveSettings, TheDriveListReplacesTheDefaultsAndLettersResolveThroughIt) {
  IniFile ini;
  ini.Parse("[Drives]\nb=/dev/sdb\nZ=/dev/sdz\nFloppy=ignored\n[DriveAccess]\nSectorRetry=1\n");
  const DriveSettings s = DriveSettingsFromIni(ini);
  EXPECT_EQ(s.devices[0], "");
  EXPECT_EQ(s.devices[1], "/dev/sdb");
  EXPECT_EQ(s.devices[25], "/dev/sdz");
  EXPECT_EQ(s.readFailure, ReadFailure::kSectorBySector);

  std::string error;
  std::optional<DriveOperand> b = ResolveDriveOperand("b:", s, error);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->driveNumber, 2);
  EXPECT_EQ(b->devices[1], "/dev/sdb");
  EXPECT_FALSE(ResolveDriveOperand("A:", s, error));
  EXPECT_NE(error.find("A:"), std::string::npos);
}

TEST(DriveSettings, APathOperandIsDriveOneOfItsOwnList) {
  TempDir dir;
  kdltest::WriteFile(dir / "disk.img", std::vector<uint8_t>(512));
  std::string error;
  std::optional<DriveOperand> file = ResolveDriveOperand((dir / "disk.img").string(), DriveSettings{}, error);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->driveNumber, 1);
  EXPECT_EQ(file->devices, std::vector<std::string>{(dir / "disk.img").string()});
  EXPECT_FALSE(ResolveDriveOperand((dir / "none.img").string(), DriveSettings{}, error));
  EXPECT_FALSE(ResolveDriveOperand(dir.path().string(), DriveSettings{}, error));
  EXPECT_NE(error.find("neither"), std::string::npos);
}

}  // namespace
}  // namespace kdl
