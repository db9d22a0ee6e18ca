#include "ovsetup/model/account_rules.h"

#include <gtest/gtest.h>

#include "ovsetup/model/setup_texts.h"

namespace ov::setup {
namespace {

AccountList ThreeAccounts() {
    return {AccountRecord::Make("Administrator", "pw", true, ""),
            AccountRecord::Make("alice", "a", true, "first"),
            AccountRecord::Make("bob", "b", false, "")};
}

TEST(AccountRules, NamesMustBeGivenAndUniqueByteForByte) {
    AccountList list = ThreeAccounts();
    EXPECT_EQ(CheckNewAccount(list, {"", "x"}).message, text::kEnterName);
    EXPECT_EQ(CheckNewAccount(list, {"alice", "x"}).message, text::kNameExists);
    // Case-sensitive: another letter case is another account.
    EXPECT_FALSE(CheckNewAccount(list, {"Alice", "x"}));
    EXPECT_FALSE(CheckNewAccount(list, {"carol", ""})) << "an empty password is accepted";

    EXPECT_EQ(CheckEditedAccount(list, 1, {"", "a"}).message, text::kEnterNameOrPassword);
    EXPECT_FALSE(CheckEditedAccount(list, 1, {"alice", "new"})) << "keeping its own name";
    EXPECT_EQ(CheckEditedAccount(list, 1, {"bob", "a"}).message, text::kNameExists);
}

TEST(AccountRules, TheAdministratorKeepsEverythingButItsPassword) {
    AccountList list = ThreeAccounts();
    ApplyEdit(&list, 0, {"root", "secret", false, "changed"});
    EXPECT_EQ(list[0].Name(), "Administrator");
    EXPECT_EQ(list[0].Password(), "secret");
    EXPECT_TRUE(list[0].Enabled());
    EXPECT_EQ(list[0].Description(), "");
    ApplyEdit(&list, 2, {"robert", "b2", true, "now on"});
    EXPECT_EQ(list[2].Name(), "robert");
    EXPECT_TRUE(list[2].Enabled());
    EXPECT_EQ(list[2].Description(), "now on");
}

TEST(AccountRules, DeletingTheAdministratorAmongOthersDeletesNothing) {
    AccountList list = ThreeAccounts();
    EXPECT_EQ(CheckDelete(list, {}).message, text::kSelectRowToDelete);
    EXPECT_EQ(CheckDelete(list, {}).caption, text::kNotice);
    EXPECT_EQ(CheckDelete(list, {1, 2, 0}).message, text::kAdminNotDeleted);
    // The first record is the one the console checks, whatever its name.
    AccountList renamed = {AccountRecord::Make("root", "pw", true, ""),
                           AccountRecord::Make("Administrator", "x", true, "")};
    EXPECT_EQ(CheckDelete(renamed, {0}).message, text::kAdminNotDeleted);
    EXPECT_EQ(CheckDelete(renamed, {1}).message, text::kAdminNotDeleted);
    EXPECT_FALSE(CheckDelete(list, {2, 1}));
}

TEST(AccountRules, RowsAreDeletedFromTheHighestWithinTheLimit) {
    std::vector<size_t> many;
    for (size_t i = 300; i-- > 0;) many.push_back(i);
    std::vector<size_t> rows = RowsToDelete(many, 250, kMaxDeletedAccounts);
    ASSERT_EQ(rows.size(), 101u);
    EXPECT_EQ(rows.front(), 0u);
    EXPECT_EQ(rows.back(), 100u);
    EXPECT_EQ(RowsToDelete({5, 2, 2, 9}, 6, kMaxDeletedIds), (std::vector<size_t>{2, 5}));

    std::vector<int> list = {0, 1, 2, 3, 4};
    EraseRows(&list, {1, 3});
    EXPECT_EQ(list, (std::vector<int>{0, 2, 4}));
}

TEST(AccountRules, NewPasswordsMustMatch) {
    EXPECT_EQ(CheckNewPassword("a", "b").message, text::kPasswordsDiffer);
    EXPECT_FALSE(CheckNewPassword("", ""));
}

// The edit controls count characters; a Chinese character is 2 bytes of the
// field. A text over its limit is refused with the limit in bytes, never cut.
TEST(AccountRules, TextsAreMeasuredInBytesOfGbk) {
    AccountList list = ThreeAccounts();
    std::string eight, nine;
    for (int i = 0; i < 8; ++i) eight += "密";
    nine = eight + "码";
    EXPECT_FALSE(CheckNewAccount(list, {eight, eight, true, ""})) << "16 bytes fit";
    Refusal name = CheckNewAccount(list, {nine, "x"});
    EXPECT_EQ(name.message, "用户名最多16个字节（一个汉字占2个字节），输入的有18个字节！");
    EXPECT_NE(CheckNewAccount(list, {"carol", nine}).message.find("密码最多16个字节"),
              std::string::npos);
    EXPECT_NE(CheckNewAccount(list, {"carol", "", true, std::string(61, 'd')})
                  .message.find("描述最多60个字节"),
              std::string::npos);
    EXPECT_NE(CheckEditedAccount(list, 1, {"alice", nine}).message.find("16"), std::string::npos);
    EXPECT_NE(CheckNewPassword(nine, nine).message.find("密码最多16个字节"), std::string::npos);
    EXPECT_FALSE(CheckNewPassword(eight, eight));

    // What the record holds already stays as it is: an edit of the password
    // alone is not refused for a longer name that another program stored.
    list[2].SetName(nine);
    EXPECT_FALSE(CheckEditedAccount(list, 2, {nine, "new"}));
    EXPECT_TRUE(CheckEditedAccount(list, 2, {nine + "a", "new"}));
}

}  // namespace
}  // namespace ov::setup
