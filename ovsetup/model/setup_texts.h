// Every text of the setup dialog that the rules produce (GBK at run time).
#pragma once

namespace ov::setup::text {

inline constexpr char kNotice[] = "提示";

// Accounts.
inline constexpr char kEnterName[] = "请输入用户名！";
inline constexpr char kEnterNameOrPassword[] = "请输入用户名或密码！";
inline constexpr char kNameExists[] = "该用户名已经存在！";
inline constexpr char kSelectRowToEdit[] = "请选中修改的行!";
inline constexpr char kSelectRowToDelete[] = "请选中删除的行!";
inline constexpr char kAdminNotDeleted[] = "管理员帐号不能被删除！";
inline constexpr char kReallyDelete[] = "确实要删除该用户帐号吗？";
inline constexpr char kPasswordsDiffer[] = "两次输入的密码不一致，请重新输入！";
inline constexpr char kSaveFailed[] = "保存改动失败!";
inline constexpr char kEnabled[] = "启用";
inline constexpr char kDisabled[] = "禁用";
inline constexpr char kHiddenPassword[] = "*****";
inline constexpr char kHiddenId[] = "****";
// The fields that a too long text is refused for.
inline constexpr char kNameField[] = "用户名";
inline constexpr char kPasswordField[] = "密码";
inline constexpr char kDescriptionField[] = "描述";
// A row whose account or ID another program removed since the list was shown.
inline constexpr char kAccountGone[] = "该用户帐号已被其它程序删除！";
inline constexpr char kIdGone[] = "该用户ID已被其它程序删除！";

// Switches.
inline constexpr char kIdCheckOn[] = "“鉴权”功能已经启用，只有通过ID认证的用户才能接入";
inline constexpr char kIdCheckOff[] = "“鉴权”功能已被禁用,用户接入不进行ID鉴权";
inline constexpr char kGuestOn[] = "Guest帐号已经启用，用户名：Guest，密码：Quell";
inline constexpr char kGuestOff[] = "Guest帐号已经被禁用";

// Ports.
inline constexpr char kPortInUse[] = "该端口已被占用，请选择其它端口";
inline constexpr char kPortRange[] = "请输入一个介于 0 和 65000 之间的整数。";

}  // namespace ov::setup::text
