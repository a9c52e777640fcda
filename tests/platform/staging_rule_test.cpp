// The staging rule over security descriptors made from SDDL: the defaults Windows gives a drive's
// root and the folders made in it, one made admin-only, a NULL DACL and deny entries.
#include "platform/win32/staging_rule.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

// The account the check runs as, and another user.
constexpr wchar_t kSelf[] = L"S-1-5-21-1-2-3-500";
constexpr wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";
// The ACL Windows Server gives C:\: users may read, create folders in the root and files in the
// folders below it (inherit-only), and a folder's creator gets full control of it.
const std::wstring kDriveAces =
    L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
    L"(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)";
// The same entries as a folder made in C:\ inherits them.
const std::wstring kInheritedAces =
    L"(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
    L"(A;CIID;LC;;;BU)(A;CIID;DC;;;BU)";

struct Row {
  const char* name;
  std::wstring sddl;  // {USER} stands for kUser
  StagingObject object;
  std::vector<std::string> expected;  // per finding: the account's SID and what it may do
};

std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

std::vector<std::string> Judge(const Row& row) {
  std::wstring sddl = row.sddl;
  for (size_t at; (at = sddl.find(L"{USER}")) != std::wstring::npos;) sddl.replace(at, 6, kUser);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID self = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor, nullptr))
      << row.name;
  EXPECT_TRUE(ConvertStringSidToSidW(kSelf, &self));
  SecurityFinding findings[kMostSecurityFindings];
  int count = descriptor != nullptr ? JudgeSecurityDescriptor(descriptor, row.object, self,
                                                              findings, kMostSecurityFindings)
                                    : 0;
  std::vector<std::string> judged;
  for (int i = 0; i < count; ++i) {
    LPWSTR sid = nullptr;
    ConvertSidToStringSidW(findings[i].who, &sid);
    char how[300];
    DescribeRights(findings[i], row.object, how, sizeof how);
    judged.push_back(Narrow(sid) + " " + how);
    LocalFree(sid);
  }
  LocalFree(self);
  LocalFree(descriptor);
  return judged;
}

class StagingRuleRows : public ::testing::TestWithParam<Row> {};

TEST_P(StagingRuleRows, FindsWhoElseCanChangeIt) {
  EXPECT_EQ(Judge(GetParam()), GetParam().expected);
}

const std::string kOwns = "owns it, and may change who may change it";

INSTANTIATE_TEST_SUITE_P(
    All, StagingRuleRows,
    ::testing::Values(
        // Creating folders in the root is no right over what others made there.
        Row{"server_drive_root",
            L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
            L"G:SYD:PAI" +
                kDriveAces,
            StagingObject::kDriveRoot,
            {}},
        Row{"folder_a_user_made",
            L"O:{USER}G:SYD:AI(A;ID;FA;;;{USER})" + kInheritedAces,
            StagingObject::kFolder,
            {std::string("S-1-5-21-1-2-3-1001 ") + kOwns,
             "S-1-5-21-1-2-3-1001 may change its permissions, take ownership of it, delete or "
             "rename it, delete entries in it, add files to it, add folders to it",
             "S-1-5-32-545 may add files to it, add folders to it"}},
        Row{"folder_inheriting_from_the_root",
            L"O:BAG:SYD:AI" + kInheritedAces,
            StagingObject::kFolder,
            {"S-1-5-32-545 may add files to it, add folders to it"}},
        Row{"admin_only_folder",
            L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
            StagingObject::kFolder,
            {}},
        Row{"the_running_account_owns_it",
            L"O:S-1-5-21-1-2-3-500D:(A;;FA;;;S-1-5-21-1-2-3-500)",
            StagingObject::kFile,
            {}},
        // No DACL: Everyone may do anything. (Wine's parser makes "D:NO_ACCESS_CONTROL" an
        // empty DACL, which denies all, so the row leaves the DACL out.)
        Row{"null_dacl",
            L"O:BA",
            StagingObject::kFile,
            {"S-1-1-0 may do anything with it, write to it, change its permissions, take "
             "ownership of it, delete or rename it, write its data, append to it"}},
        // Entries are read in order: a deny before the allow takes its rights off, one after
        // it does not.
        Row{"deny_before_allow", L"O:BAD:(D;;FA;;;WD)(A;;FA;;;WD)", StagingObject::kFile, {}},
        Row{"deny_after_allow",
            L"O:BAD:(A;;0x2;;;WD)(D;;FA;;;WD)",
            StagingObject::kFile,
            {"S-1-1-0 may write its data"}},
        Row{"deny_for_another_account",
            L"O:BAD:(D;;FA;;;BU)(A;;0x10000;;;WD)",
            StagingObject::kFile,
            {"S-1-1-0 may delete or rename it"}},
        // Reading and running count for nothing; inherit-only entries apply to what is inside.
        Row{"read_and_inherit_only",
            L"O:BAD:(A;;0x1200a9;;;WD)(A;OICIIO;FA;;;WD)",
            StagingObject::kFile,
            {}},
        // Wine's folder of mode 0777: Everyone may write, append and delete.
        Row{"wine_mode_0777",
            L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;0x1301ff;;;WD)",
            StagingObject::kFolder,
            {"S-1-1-0 may delete or rename it, delete entries in it, add files to it, add folders "
             "to it"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
