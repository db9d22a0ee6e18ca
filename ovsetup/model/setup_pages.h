// The pages of the setup dialog without their windows: what each button
// does to the lists, the files and the settings, and what it says. The
// dialog only moves values between its controls and these objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/account_file.h"
#include "common/file_ops.h"
#include "common/trusted_id_file.h"
#include "ovsetup/model/account_rules.h"

namespace ov::setup {

// What a command tells the operator: nothing, or one box. ok says whether
// the command did what was asked.
struct Outcome {
    bool ok = true;
    std::string message;  // empty: no box
    std::string caption;  // empty: the default caption
    enum class Icon { None, Information, Exclamation } icon = Icon::None;

    static Outcome Done() { return {}; }
    static Outcome From(const Refusal& r) { return {!r, r.message, r.caption}; }
    static Outcome FromFile(const FileOpResult& r);
};

// The icon ids of the switch states (resources of ovsetup.dll).
enum SwitchIcon : int {
    kIconIdCheckOn = 201,
    kIconIdCheckOff = 202,
    kIconGuestOn = 203,
    kIconGuestOff = 204,
};
struct SwitchView {
    std::string button;
    std::string status;
    int icon;
};
SwitchView IdCheckView(int32_t flg_encrypt);
SwitchView GuestView(int32_t guest);
// Both switches store 1 or 0.
inline int32_t Toggled(int32_t value) {
    return value ? 0 : 1;
}

class AccountsPage {
  public:
    // path: the account file (empty: the one beside the program).
    explicit AccountsPage(std::string path = {}, DataFileAccess access = {});

    // Reads the file. On failure the page keeps no list and its message
    // says why; every command but the Guest switch then does nothing.
    Outcome Open();
    bool HasList() const { return m_list.has_value(); }
    const AccountList& List() const;

    struct Row {
        std::string name, password, state, description;
    };
    std::vector<Row> Rows() const;
    // What the edit dialog starts from; REQUIRES: row < List().size()
    AccountEntry Entry(size_t row) const;
    // Whether the edit dialog lets the name, state and description change.
    bool CanEditAll(size_t row) const;

    // Each change is one read-modify-write under the file's lock, as every
    // program that changes the file does: the file is read, the one change
    // is made to what it holds now (accounts another program added since
    // the list was shown stay), the list is saved and the page shows it.
    // Rows name the accounts as shown; one that is gone by then is told.
    // A refusal or a failed save ("保存改动失败!") leaves the file as it
    // was, and the page shows what the file holds.
    Outcome Add(const AccountEntry& entry);
    Outcome CheckAdd(const AccountEntry& entry) const;  // the add dialog's OK
    Outcome CheckEdit(size_t row, const AccountEntry& entry) const;
    // Only the texts that differ from Entry(row) are changed in the file.
    Outcome Edit(size_t row, const AccountEntry& entry);
    // Before the question: nothing selected, or the administrator among them.
    Outcome CheckDelete(const std::vector<size_t>& selected) const;
    Outcome Delete(const std::vector<size_t>& selected);
    Outcome Backup(const std::string& chosen);
    Outcome Restore(const std::string& chosen);

  private:
    // change works on the file's list; its refusal saves nothing.
    template <class Fn>
    Outcome ReadModifyWrite(Fn change);
    // Where the shown row's account is in stored: the same name, counted
    // among equal names as in the shown list.
    std::optional<size_t> Find(size_t row, const AccountList& stored) const;

    std::string m_path;
    DataFileAccess m_access;
    std::optional<AccountList> m_list;
};

class TrustedIdsPage {
  public:
    explicit TrustedIdsPage(std::string path = {}, DataFileAccess access = {});

    // Reads the file; one that cannot be read leaves the page empty, silently.
    // Every change is a read-modify-write under the file's lock: a file that
    // cannot be read then is refused with the save failure, so that an empty
    // list never replaces the IDs the file holds, and IDs added by another
    // program meanwhile stay. Rows name their IDs as shown.
    void Open();
    const TrustedIdList& List() const { return m_list; }

    struct Row {
        std::string serial, id, kind, description;
    };
    std::vector<Row> Rows() const;

    // The add dialog's OK: the ID file is read, then imported unless the
    // same ID is listed (then *select names its row and nothing changes).
    // A refused file keeps the dialog open (ok false, with its message).
    Outcome Add(const std::string& id_file, const std::string& description,
                std::optional<size_t>* select);
    // The edit dialog's OK: a chosen file must be a readable ID file, but
    // the entry keeps its ID; the description is replaced. A description
    // longer than the record keeps (kMaxStoredIdDescription bytes) is
    // refused in both.
    Outcome Edit(size_t row, const std::string& id_file, const std::string& description);
    Outcome Delete(const std::vector<size_t>& selected);
    Outcome Backup(const std::string& chosen);
    Outcome Restore(const std::string& chosen);

  private:
    template <class Fn>
    Outcome ReadModifyWrite(Fn change);
    std::optional<size_t> Find(size_t row, const TrustedIdList& stored) const;

    std::string m_path;
    DataFileAccess m_access;
    TrustedIdList m_list;
};

}  // namespace ov::setup
