#include "ovsetup/model/setup_pages.h"

#include <gtest/gtest.h>

#include <asio.hpp>

#include <functional>

#include "common/tea.h"
#include "common/test_dir.h"
#include "ovsetup/model/port_check.h"
#include "ovsetup/model/setup_texts.h"
#include "platform/data_file_lock.h"

namespace ov::setup {
namespace {

class SetupPages : public ov::testing::TestDir {
  public:
    void SetUp() override {
        TestDir::SetUp();
        ASSERT_TRUE(SaveAccounts({AccountRecord::Make("Administrator", "pw", true, ""),
                                  AccountRecord::Make("alice", "a", true, "")},
                                 Accounts()));
    }
    std::string Accounts() const { return Path("uinfo.dat"); }
    std::string Ids() const { return Path("TrustID.dat"); }
    AccountList Stored() const {
        AccountList list;
        EXPECT_EQ(LoadAccounts(&list, Accounts()), AccountLoadResult::Ok);
        return list;
    }
    // An ID file holding id at its place, enciphered as ID files are.
    std::string IdFile(const std::string& name, uint8_t first, size_t size = 1024) {
        std::vector<uint8_t> f(size, 0);
        IdValue id{first, 2, 3, 4, 0x55, 6, 7, 8, 9, 10, 11};
        std::copy(id.begin(), id.end(), f.begin() + 1010);
        EncipherBlocks(f.data(), std::min<size_t>(size, 1024));
        Spit(Path(name), f);
        return Path(name);
    }
};

TEST_F(SetupPages, EveryAccountChangeIsInTheFileAtOnce) {
    AccountsPage page(Accounts());
    ASSERT_TRUE(page.Open().ok);
    EXPECT_TRUE(page.Add({"bob", "b", false, "desc"}).ok);
    EXPECT_EQ(Stored().size(), 3u);
    EXPECT_EQ(page.Rows()[2].state, text::kDisabled);
    EXPECT_EQ(page.Rows()[2].password, "*****");

    Outcome dup = page.Add({"bob", "x"});
    EXPECT_FALSE(dup.ok);
    EXPECT_EQ(dup.message, text::kNameExists);

    EXPECT_TRUE(page.Edit(2, {"bobby", "b2", true, "d"}).ok);
    EXPECT_EQ(Stored()[2].Name(), "bobby");
    EXPECT_TRUE(Stored()[2].Enabled());
    EXPECT_FALSE(page.CanEditAll(0));

    EXPECT_EQ(page.CheckDelete({0, 2}).message, text::kAdminNotDeleted);
    EXPECT_TRUE(page.Delete({1}).ok);
    AccountList stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].Name(), "bobby");
}

// Another program (ovadmin) changes the file while the window is open: each
// change of the page starts from what the file holds then.
TEST_F(SetupPages, ChangesKeepWhatAnotherProgramStoredMeanwhile) {
    AccountsPage page(Accounts());
    ASSERT_TRUE(page.Open().ok);
    auto other = [&](const std::function<void(AccountList*)>& change) {
        AccountList list = Stored();
        change(&list);
        ASSERT_TRUE(SaveAccounts(list, Accounts()));
    };
    other([](AccountList* l) { l->push_back(AccountRecord::Make("carol", "c", true, "")); });
    ASSERT_TRUE(page.Add({"dave", "d"}).ok);
    AccountList stored = Stored();
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[2].Name(), "carol");
    EXPECT_EQ(stored[3].Name(), "dave");
    EXPECT_EQ(page.List().size(), 4u) << "the page shows the file";

    // A name another program took meanwhile is refused; the rows show it.
    other([](AccountList* l) { l->push_back(AccountRecord::Make("erin", "e", true, "")); });
    Outcome taken = page.Add({"erin", "x"});
    EXPECT_EQ(taken.message, text::kNameExists);
    EXPECT_EQ(page.List().size(), 5u);

    // Rows are found by name after others moved them; only the texts the
    // dialog changed are written over what another program changed.
    other([](AccountList* l) {
        l->erase(l->begin() + 1);      // alice
        (*l)[2].SetPassword("d-new");  // dave, now at 2
    });
    ASSERT_TRUE(page.Edit(3, {"dave", "d", true, "desk"}).ok);  // dave, shown at 3
    stored = Stored();
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[2].Name(), "dave");
    EXPECT_EQ(stored[2].Password(), "d-new");
    EXPECT_EQ(stored[2].Description(), "desk");

    // An account deleted elsewhere: its edit is told, its delete is done.
    other([](AccountList* l) { l->pop_back(); });  // erin
    EXPECT_EQ(page.Edit(3, {"erin", "e", false, ""}).message, text::kAccountGone);
    EXPECT_EQ(page.List().size(), 3u);
    other([](AccountList* l) { l->push_back(AccountRecord::Make("fred", "f", true, "")); });
    ASSERT_TRUE(page.Delete({1}).ok);  // carol
    stored = Stored();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[1].Name(), "dave");
    EXPECT_EQ(stored[2].Name(), "fred");

    // Trusted IDs alike.
    TrustedIdsPage ids(Ids());
    ids.Open();
    std::optional<size_t> select;
    ASSERT_TRUE(ids.Add(IdFile("u1.id", 1), "one", &select).ok);
    TrustedIdsPage elsewhere(Ids());
    elsewhere.Open();
    ASSERT_TRUE(elsewhere.Add(IdFile("u2.id", 2), "two", &select).ok);
    ASSERT_TRUE(ids.Add(IdFile("u3.id", 3), "three", &select).ok);
    EXPECT_EQ(Slurp(Ids()).size(), 750u) << "the ID added elsewhere stays";
    ASSERT_TRUE(elsewhere.Delete({0}).ok);
    ASSERT_TRUE(ids.Edit(2, "", "third").ok);  // shown at 2, stored at 1
    ASSERT_EQ(ids.List().size(), 2u);
    EXPECT_EQ(ids.List()[0].Description(), "two");
    EXPECT_EQ(ids.List()[1].Description(), "third");
}

TEST_F(SetupPages, TextsThatDoNotFitAreRefusedNotCut) {
    AccountsPage page(Accounts());
    ASSERT_TRUE(page.Open().ok);
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "码";
    EXPECT_NE(page.Add({"carol", ten}).message.find("16"), std::string::npos);
    EXPECT_EQ(Stored().size(), 2u);

    TrustedIdsPage ids(Ids());
    ids.Open();
    std::optional<size_t> select;
    // The record keeps 147 bytes of a description.
    Outcome too_long = ids.Add(IdFile("u.id", 1), std::string(148, 'x'), &select);
    EXPECT_FALSE(too_long.ok);
    EXPECT_NE(too_long.message.find("147"), std::string::npos);
    EXPECT_TRUE(Slurp(Ids()).empty());
    ASSERT_TRUE(ids.Add(IdFile("u.id", 1), std::string(147, 'x'), &select).ok);
    EXPECT_EQ(ids.List()[0].Description(), std::string(147, 'x'));
    EXPECT_FALSE(ids.Edit(0, "", std::string(146, 'x') + "长").ok);
}

TEST_F(SetupPages, AFailedSaveIsReportedAndTheListShowsTheFileAgain) {
    AccountsPage page(Accounts());
    ASSERT_TRUE(page.Open().ok);
    // Another program is changing the file for longer than we wait.
    platform::DataFileLock other;
    ASSERT_TRUE(other.Acquire(Accounts(), std::chrono::milliseconds(0)));
    Outcome r = page.Add({"carol", "c"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, text::kSaveFailed);
    EXPECT_EQ(r.caption, text::kNotice);
    EXPECT_EQ(page.List().size(), 2u) << "the row that is not stored is gone";
    EXPECT_EQ(page.Delete({1}).message, text::kSaveFailed);
    EXPECT_EQ(page.List().size(), 2u);
    other.Release();
    EXPECT_TRUE(page.Add({"carol", "c"}).ok);
    EXPECT_EQ(Stored().size(), 3u);
}

TEST_F(SetupPages, WithoutAnAccountFileOnlyTheMessageRemains) {
    Spit(Accounts(), {});
    AccountsPage page(Accounts());
    Outcome r = page.Open();
    EXPECT_EQ(r.message, "用户帐号文件uinfo.dat被损坏!");
    EXPECT_FALSE(page.HasList());
    EXPECT_FALSE(page.Add({"bob", "b"}).ok);
    EXPECT_TRUE(page.Add({"bob", "b"}).message.empty()) << "does nothing, says nothing";
    EXPECT_TRUE(page.Backup(Path("b.dat")).message.empty());
    EXPECT_TRUE(Slurp(Accounts()).empty());

    AccountsPage missing(Path("none.dat"));
    EXPECT_EQ(missing.Open().message, "读用户帐号文件uinfo.dat出错!");
}

TEST_F(SetupPages, AccountBackupAndRestore) {
    AccountsPage page(Accounts());
    ASSERT_TRUE(page.Open().ok);
    Outcome b = page.Backup(Path("copy"));
    EXPECT_EQ(b.message, "备份帐号文件成功!");
    EXPECT_EQ(b.icon, Outcome::Icon::Information);
    ASSERT_TRUE(page.Add({"bob", "b"}).ok);
    Outcome r = page.Restore(Path("copy.dat"));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(page.List().size(), 2u);
    EXPECT_EQ(Stored().size(), 2u);
    EXPECT_EQ(page.Restore(Path("gone.dat")).message, "读备份的帐号文件错误!");
}

TEST_F(SetupPages, TrustedIdsAreImportedOnceAndRenumberedAfterADelete) {
    TrustedIdsPage page(Ids());
    page.Open();
    EXPECT_TRUE(page.List().empty());
    std::optional<size_t> select;
    for (uint8_t first : {1, 2, 3}) {
        EXPECT_TRUE(page.Add(IdFile("u.id", first), "user", &select).ok);
        EXPECT_EQ(select, size_t(first - 1));
    }
    EXPECT_EQ(Slurp(Ids()).size(), 750u);
    // The same ID again selects its row and adds nothing.
    EXPECT_TRUE(page.Add(IdFile("again.id", 2), "dup", &select).ok);
    EXPECT_EQ(select, size_t(1));
    EXPECT_EQ(page.List().size(), 3u);

    Outcome short_file = page.Add(IdFile("short.id", 9, 1023), "", &select);
    EXPECT_FALSE(short_file.ok);
    EXPECT_EQ(short_file.message, "the ID file is  corrupted");
    EXPECT_FALSE(page.Add("", "no file chosen", &select).ok);
    EXPECT_EQ(page.List().size(), 3u);

    EXPECT_FALSE(page.Edit(0, Path("short.id"), "x").ok);
    EXPECT_TRUE(page.Edit(2, "", "third").ok);
    EXPECT_EQ(page.Delete({}).message, text::kSelectRowToDelete);
    EXPECT_TRUE(page.Delete({1}).ok);
    std::vector<TrustedIdsPage::Row> rows = page.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].serial, "1");
    EXPECT_EQ(rows[1].serial, "2");
    EXPECT_EQ(rows[1].description, "third");
    EXPECT_EQ(rows[1].id, "****");
    EXPECT_TRUE(page.Delete({0, 1}).ok);
    EXPECT_EQ(Slurp(Ids()).size(), 0u);
}

TEST_F(SetupPages, AnUnreadableIdFileIsNeverReplacedByAnEmptyList) {
    // A directory where the file should be: it exists and cannot be read.
    std::filesystem::create_directory(Ids());
    TrustedIdsPage page(Ids());
    page.Open();
    EXPECT_TRUE(page.List().empty());
    std::optional<size_t> select;
    Outcome r = page.Add(IdFile("u.id", 1), "", &select);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, text::kSaveFailed);
    EXPECT_TRUE(std::filesystem::is_directory(Ids()));
    // Readable again: the change goes through on the file's own list.
    std::filesystem::remove(Ids());
    std::vector<uint8_t> one(250, 0);
    one[4] = 0x55;
    Spit(Ids(), one);
    EXPECT_TRUE(page.Add(IdFile("u.id", 1), "", &select).ok);
    EXPECT_EQ(page.List().size(), 2u);
}

TEST_F(SetupPages, TrustedIdBackupAndRestore) {
    TrustedIdsPage page(Ids());
    page.Open();
    std::optional<size_t> select;
    ASSERT_TRUE(page.Add(IdFile("u.id", 1), "", &select).ok);
    EXPECT_EQ(page.Backup(Path("ids")).message, "备份配置文件成功!");
    ASSERT_TRUE(page.Delete({0}).ok);
    Outcome r = page.Restore(Path("ids.dat"));
    EXPECT_EQ(r.message, "恢复配置文件成功!");
    EXPECT_EQ(page.List().size(), 1u);
    Spit(Path("empty.dat"), {});
    EXPECT_EQ(page.Restore(Path("empty.dat")).message, "恢复配置文件成功!");
    EXPECT_TRUE(page.List().empty());
}

TEST(SetupSwitches, TextsFollowTheValue) {
    EXPECT_EQ(IdCheckView(1).button, "禁用");
    EXPECT_EQ(IdCheckView(1).status, text::kIdCheckOn);
    EXPECT_EQ(IdCheckView(0).button, "启用");
    EXPECT_EQ(IdCheckView(0).icon, kIconIdCheckOff);
    EXPECT_EQ(GuestView(7).status, text::kGuestOn);
    EXPECT_EQ(GuestView(0).status, text::kGuestOff);
    EXPECT_EQ(Toggled(7), 0);
    EXPECT_EQ(Toggled(0), 1);
}

TEST(SetupPorts, RangeAndBindTest) {
    uint32_t port = 1;
    std::string message;
    EXPECT_TRUE(ParsePort("0", &port, &message));
    EXPECT_EQ(port, 0u);
    EXPECT_TRUE(ParsePort("65000", &port, &message));
    for (const char* bad : {"65001", "", "-1", "12a", "999999"}) {
        EXPECT_FALSE(ParsePort(bad, &port, &message)) << bad;
        EXPECT_EQ(message, text::kPortRange);
    }
    EXPECT_TRUE(PortIsFree(0)) << "port 0 passes the range and the bind test";

    asio::io_context io;
    asio::ip::tcp::acceptor listener(io, {asio::ip::tcp::v4(), 0});
    const uint16_t held = listener.local_endpoint().port();
    if (held <= kMaxPort) {
        EXPECT_FALSE(AcceptPort(std::to_string(held), &port, &message));
        EXPECT_EQ(message, text::kPortInUse);
    }
}

}  // namespace
}  // namespace ov::setup
