// The launcher's pure functions: command tail, path split, argument and command composition,
// time stamp, "%d" reading and device-path translation.
#include <gtest/gtest.h>

#include <string>

#include "check/check.h"
#include "driver/driver.h"
#include "launch/launch.h"
#include "patchinfo/patchinfo.h"
#include "runlog/runlog.h"
#include "settings/settings.h"

namespace {

bool NoLeadBytes(unsigned char) { return false; }

// Code page 932: the lead bytes of Shift JIS.
bool Cp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(CommandTail, SkipsTheProgramNameByTheLaunchersRule) {
  struct Case {
    const char* line;
    LeadByteRule rule;
    const char* tail;
  } cases[] = {
      {"setup.exe /q /norestart", NoLeadBytes, "/q /norestart"},
      {"\"C:\\My Tools\\setup.exe\"  /x", NoLeadBytes, "/x"},
      {"\"C:\\Program Files\\x\\setup.exe\"/q", NoLeadBytes, "/q"},
      {"C:\\Program Files\\x\\setup.exe /q", NoLeadBytes, "Files\\x\\setup.exe /q"},
      {"\"C:\\a b\"c.exe d", NoLeadBytes, "c.exe d"},
      {"C:\\a\"b c\"d.exe e", NoLeadBytes, "c\"d.exe e"},
      {"setup.exe\t/q", NoLeadBytes, "/q"},
      {"setup.exe \t \x01\x02/q", NoLeadBytes, "/q"},
      {"\"setup.exe /q", NoLeadBytes, ""},
      {"setup.exe", NoLeadBytes, ""},
      {"setup.exe   \"a b\"  ", NoLeadBytes, "\"a b\"  "},
      {"", NoLeadBytes, ""},
      // Bytes above 127 and 127 itself belong to an unquoted name.
      {"C:\\dir\\Setup\xE9.exe /q", NoLeadBytes, "/q"},
      {"setup\x7F.exe /q", NoLeadBytes, "/q"},
      // The second byte of a double-byte character (0x94 0x22) never closes the quotes.
      {"\"C:\\\x94\"\\setup.exe\" /q", Cp932LeadByte, "/q"},
      {"\"C:\\\x94\"\\setup.exe\" /q", NoLeadBytes, "\\setup.exe\" /q"},
      {"\"C:\\\x94", Cp932LeadByte, ""},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(SkipProgramName(c.line, c.rule), c.tail) << c.line;
  }
}

TEST(LauncherLocation, SplitsTheModulePath) {
  struct Case {
    const char* path;
    LeadByteRule rule;
    const char* directory;
    const char* name;
  } cases[] = {
      {"D:\\updates\\kb1\\setup.exe", NoLeadBytes, "D:\\updates\\kb1\\", "setup"},
      {"C:\\setup.exe", NoLeadBytes, "C:\\", "setup"},
      {"setup", NoLeadBytes, "", "setup"},
      {"C:\\dir.v2\\name", NoLeadBytes, "C:\\dir.v2\\", "name"},
      {"C:\\dir\\.hidden", NoLeadBytes, "C:\\dir\\", ""},
      {"\\\\server\\share\\a.b.c", NoLeadBytes, "\\\\server\\share\\", "a.b"},
      {"a/b\\c.d", NoLeadBytes, "a/b\\", "c"},
      {"/usr/lib/hotfix-launcher/hotfix-launcher", NoLeadBytes, "/usr/lib/hotfix-launcher/",
       "hotfix-launcher"},
      {"", NoLeadBytes, "", ""},
      // 0x95 0x5C is one character whose second byte is a backslash.
      {"C:\\kb\x95\\\\setup.exe", Cp932LeadByte, "C:\\kb\x95\\\\", "setup"},
      {"C:\\kb\\\x95\\.exe", Cp932LeadByte, "C:\\kb\\", "\x95\\"},
      {"C:\\kb\\\x95\\.exe", NoLeadBytes, "C:\\kb\\\x95\\", ""},
  };
  for (const Case& c : cases) {
    LauncherLocation location;
    SplitModulePath(c.path, c.rule, &location);
    EXPECT_STREQ(location.directory.text, c.directory) << c.path;
    EXPECT_STREQ(location.name.text, c.name) << c.path;
  }
}

TEST(LauncherLocation, CutsDirectoryAndNameTo255Characters) {
  std::string directory = "C:\\" + std::string(300, 'd') + "\\";
  std::string path = directory + std::string(300, 'n') + ".exe";
  LauncherLocation location;
  SplitModulePath(path.c_str(), NoLeadBytes, &location);
  EXPECT_EQ(std::string(location.directory.text), "C:" + directory.substr(2, 255));
  EXPECT_EQ(std::string(location.name.text), std::string(255, 'n'));
}

TEST(InstallerArguments, AreTheFixedHeadThenSwitchesThenTail) {
  const std::string head = "/norestart /log:\"c:\\tmp.log\" ";
  ASSERT_EQ(head.size(), 29u);
  const std::string longSwitches(99, 'p');
  struct Case {
    const char* extraSwitches;
    std::string tail;
    int whole;
    int length;  // also past 99 characters
    std::string arguments;
  } cases[] = {
      {"", "", 1, 29, head},
      {"/quiet", "/passive", 1, 44, head + "/quiet /passive"},
      {"", "/quiet", 1, 35, head + "/quiet"},
      {"/quiet", "", 1, 36, head + "/quiet "},
      {"", std::string(70, 'x'), 1, 99, head + std::string(70, 'x')},
      {"", std::string(71, 'x'), 0, 100, head + std::string(70, 'x')},
      {"/q", std::string(67, 'x'), 1, 99, head + "/q " + std::string(67, 'x')},
      {"/q", std::string(68, 'x'), 0, 100, head + "/q " + std::string(67, 'x')},
      {longSwitches.c_str(), std::string(500, 'x'), 0, 629, head + std::string(70, 'p')},
  };
  for (const Case& c : cases) {
    InstallerArguments arguments;
    int length = 0;
    EXPECT_EQ(AssembleInstallerArguments(c.extraSwitches, c.tail.c_str(), &arguments, &length),
              c.whole)
        << c.extraSwitches << "|" << c.tail;
    EXPECT_EQ(arguments.text, c.arguments);
    EXPECT_EQ(length, c.length);
  }
}

TEST(InstallerCommand, QuotesThePathBeforeTheArguments) {
  LaunchText path;
  LaunchText line;
  ASSERT_EQ(ComposeInstallerCommand("C:\\kb 1\\", "up date.exe", "/a /b", &path, &line), 1);
  EXPECT_STREQ(path.text, "C:\\kb 1\\up date.exe");
  EXPECT_STREQ(line.text, "\"C:\\kb 1\\up date.exe\" /a /b");
  std::string longName(1100, 'n');
  EXPECT_EQ(ComposeInstallerCommand("C:\\", longName.c_str(), "", &path, &line), 0);
}

TEST(TimeStamp, IsUnpaddedMonthDayYearAndTime) {
  char stamp[80];
  FormatTimeStamp(LocalTime{2006, 1, 1, 1, 2, 3}, stamp, sizeof stamp);
  EXPECT_STREQ(stamp, "1/1/2006 1:2:3 : ");
  FormatTimeStamp(LocalTime{2005, 12, 6, 23, 59, 0}, stamp, sizeof stamp);
  EXPECT_STREQ(stamp, "12/6/2005 23:59:0 : ");
  FormatTimeStamp(LocalTime{}, stamp, sizeof stamp);  // no time could be had
  EXPECT_STREQ(stamp, "0/0/0 0:0:0 : ");
  FormatTimeStamp(LocalTime{2005, 12, 6, 23, 59, 0}, stamp, 7);  // cut as snprintf cuts
  EXPECT_STREQ(stamp, "12/6/2");
}

TEST(ReadDecimal, ReadsAsFormattedInputWithPercentD) {
  struct Case {
    const char* text;
    int found;
    int32_t number;
  } cases[] = {
      {"1", 1, 1},
      {"01", 1, 1},
      {"+1", 1, 1},
      {"-7", 1, -7},
      {" \t\n\v\f\r42x", 1, 42},
      {"0x1", 1, 0},
      {"257", 1, 257},
      {"yes", 0, 0},
      {"+", 0, 0},
      {"-", 0, 0},
      {"", 0, 0},
      {"+-1", 0, 0},
      {"2147483647", 1, 2147483647},
      {"2147483648", 1, INT32_MIN},
      {"4294967297", 1, 1},
      {"-2147483648", 1, INT32_MIN},
  };
  for (const Case& c : cases) {
    int32_t number = 12345;
    EXPECT_EQ(ReadDecimal(c.text, &number), c.found) << c.text;
    if (c.found) EXPECT_EQ(number, c.number) << c.text;
  }
}

TEST(PatchInfoPath, TranslatesTheDevicePathOntoTheServerRoot) {
  PatchPath path;
  TranslateDevicePath(kPatchInfoDevicePath, &path);
  EXPECT_STREQ(path.text, "e:/qor/server/persist/patchInfo");
}

TEST(FixedText, NeverOverrunsAndReportsACut) {
  FixedText<4> text;
  EXPECT_EQ(CopyText(&text, "abc"), 1);
  EXPECT_EQ(AppendText(&text, ""), 1);
  EXPECT_EQ(AppendText(&text, "d"), 0);
  EXPECT_STREQ(text.text, "abc");
  EXPECT_EQ(CopyText(&text, "abcdef"), 0);
  EXPECT_STREQ(text.text, "abc");
}

}  // namespace
