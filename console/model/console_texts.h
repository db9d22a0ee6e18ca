// Every text the console shows: captions, messages and the fixed texts of
// its windows (GBK at run time, as every literal of ours).
#pragma once

namespace ov::console::text {

// Captions.
inline constexpr char kAppTitle[] = "ovconsole";
inline constexpr char kConsoleCaption[] = "OV Gateway 控制台";
inline constexpr char kRestartCaption[] = "重启服务";
inline constexpr char kFrameTitle[] = "OVG控制台";
inline constexpr char kTrayTip[] = "OVG控制台";

// Start-up.
inline constexpr char kSecondInstance[] = "ORVIK Gateway控制台已经在运行！\n不能运行第二个实例。";
inline constexpr char kSocketsFailed[] = "Windows 通信端口初始化失败。";
inline constexpr char kWillInstall[] = "系统将要安装ORVIK Gateway服务。\n请确定。";
inline constexpr char kTrayIconFailed[] = "Failed to create tray icon";

// The service controller.
inline constexpr char kAlreadyInstalled[] = "ORVIK Gateway服务已经安装!";
inline constexpr char kNotInstalled[] = "ORVIK Gateway服务没有安装!";
inline constexpr char kRunServicesUnreadable[] = "打开注册表RunServices失败!";
inline constexpr char kStartFailed[] = "启动OVG服务失败!";
inline constexpr char kStopFailed[] = "停止OVG服务失败!";
inline constexpr char kServiceNotAllowed[] =
    "没有权限查看ORVIK Gateway服务的状态。\n请以管理员身份运行控制台，或请管理员检查服务的权限。";
inline constexpr char kElevationRefused[] = "没有得到管理员权限，操作已取消，什么都没有改变。";
inline constexpr char kElevationFailed[] = "不能以管理员身份运行";
inline constexpr char kInstallFailed[] = "安装ORVIK Gateway服务失败!";
inline constexpr char kRemoveFailed[] = "删除ORVIK Gateway服务失败!";
inline constexpr char kExitCode[] = "返回值";

// The main dialog.
inline constexpr char kRunning[] = "OVG服务状态: 运行中...";
inline constexpr char kStopped[] = "OVG服务状态: 已停止!";
inline constexpr char kStartService[] = "启动服务";
inline constexpr char kStopService[] = "停止服务";
inline constexpr char kTooManyComputers[] = "受控计算机个数超过250个, 请与开发人员联系!!";
inline constexpr char kColumnName[] = "名称";
inline constexpr char kColumnAddress[] = "地址";

// Settings.
inline constexpr char kIniCreateFailed[] = "创建ini文件失败";
inline constexpr char kIniWriteFailed[] = "写ini文件失败";
inline constexpr char kRestartService[] = "配置发生了变化，请重新启动服务";
inline constexpr char kLoadAgentSetFailed[] = "Load ovagentset.dll Failed!";
inline constexpr char kGetAgentSetFailed[] = "Get dllConfigure.dll Failed!";
inline constexpr char kLoadSetupFailed[] = "Load ovsetup.dll Failed!";
inline constexpr char kGetSetupFailed[] = "Get ovsetup.dll Failed!";
inline constexpr char kAccountsCorrupt[] = "用户帐号文件uinfo.dat被损坏!";
inline constexpr char kAccountsUnreadable[] = "读用户帐号文件uinfo.dat出错!";
inline constexpr char kAccountsUnknownError[] = "读用户信息时发生未知错误!";
inline constexpr char kWrongPassword[] = "输入的管理员密码错误！";
inline constexpr char kAliasSet[] = "计算机别名设置生效";
inline constexpr char kAliasCleared[] = "计算机别名设置被取消,将使用计算机的默认名称";
inline constexpr char kAliasWriteFailed[] = "写配置文件失败，别名设置失败";

}  // namespace ov::console::text
