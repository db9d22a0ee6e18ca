// Every text of the web agent dialogs that the rules produce (GBK at run time).
#pragma once

namespace ov::agentset::text {

inline constexpr char kEqualUrls[] =
    "主WebAgent同备份WebAgent不能配置成同样，若没有备份WebAgent，你可以将备份WebAgent配置成空";
inline constexpr char kUrlTooLong[] = "WebAgent地址不能超过199个字节";
inline constexpr char kEnterUrl[] = "请输入WebAgent地址";
inline constexpr char kKeysDiffer[] = "输入的密码不一致，请重新输入";
inline constexpr char kConfirmKey[] = "您确信要更改密码么,确定请按是，取消修改请按否?";
inline constexpr char kTesting[] = "正在进行连接测试......";
inline constexpr char kTestDone[] = "测试结束";
inline constexpr char kCancel[] = "取消";
inline constexpr char kOk[] = "确定";
inline constexpr char kNoOvhttp[] = "ovhttp.dll not found";
inline constexpr char kNoConnectTest[] = "not find the ConnectTest in ovhttp.dll";

}  // namespace ov::agentset::text
