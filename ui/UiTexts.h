#pragma once
// The windows' texts, as bytes in code page 936.

namespace kw::texts {

inline constexpr char kAlertCaption[] = "\xC6\xF4\xB6\xAF\xCF\xEE\xBC\xEC\xB2\xE2";  // 启动项检测
inline constexpr char kAlertPage[] = "\xC6\xF4\xB6\xAF\xCF\xEE\xD0\xC5\xCF\xA2";  // 启动项信息
// After the count on the alert's tab, before the number of changes a flood
// pushed out before they could be shown: " (已丢弃 N)"
inline constexpr char kDroppedPrefix[] = " (\xD2\xD1\xB6\xAA\xC6\xFA ";
inline constexpr char kOk[] = "\xC8\xB7\xB6\xA8";                                 // 确定
inline constexpr char kDelete[] = "\xC9\xBE\xB3\xFD";                             // 删除
inline constexpr char kScanFile[] = "\xC9\xA8\xC3\xE8\xCE\xC4\xBC\xFE";           // 扫描文件
// 打开注册表位置
inline constexpr char kOpenRegistryLocation[] =
    "\xB4\xF2\xBF\xAA\xD7\xA2\xB2\xE1\xB1\xED\xCE\xBB\xD6\xC3";
// 打开程序文件夹
inline constexpr char kOpenProgramFolder[] =
    "\xB4\xF2\xBF\xAA\xB3\xCC\xD0\xF2\xCE\xC4\xBC\xFE\xBC\xD0";
inline constexpr char kFileProperties[] = "\xCE\xC4\xBC\xFE\xCA\xF4\xD0\xD4";  // 文件属性
inline constexpr char kRegistryChange[] = "\xD7\xA2\xB2\xE1\xB1\xED\xB8\xFC\xB8\xC4";  // 注册表更改
inline constexpr char kMainCaption[] = "\xC6\xF4\xB6\xAF\xCF\xEE\xBC\xE0\xCA\xD3";  // 启动项监视
inline constexpr char kStartMonitoring[] = "\xBF\xAA\xCA\xBC\xBC\xE0\xCA\xD3";      // 开始监视
inline constexpr char kStopMonitoring[] = "\xCD\xA3\xD6\xB9\xBC\xE0\xCA\xD3";       // 停止监视
inline constexpr char kOptionsCaption[] = "\xD1\xA1\xCF\xEE";                       // 选项
inline constexpr char kHome[] = "\xD6\xF7\xD2\xB3";                                 // 主页
inline constexpr char kExit[] = "\xCD\xCB\xB3\xF6";                                 // 退出
inline constexpr char kGeneral[] = "\xD2\xBB\xB0\xE3";                              // 一般
inline constexpr char kStartWithWindows[] = "\xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF";     // 开机启动
// 检测到修改启动项时声音报警
inline constexpr char kAlarmOption[] =
    "\xBC\xEC\xB2\xE2\xB5\xBD\xD0\xDE\xB8\xC4\xC6\xF4\xB6\xAF\xCF\xEE\xCA\xB1\xC9\xF9\xD2\xF4\xB1"
    "\xA8\xBE\xAF";

inline constexpr char kKeyNotFound[] = "Key not found";
inline constexpr char kDeletedPrefix[] = "\xC9\xBE\xB3\xFD\xA3\xBA";           // 删除：
inline constexpr char kNotFoundPrefix[] = "\xCE\xB4\xD5\xD2\xB5\xBD\xA3\xBA";  // 未找到：
inline constexpr char kScanTool[] = "VirusTotalUpload.exe";
// "这是 Windows 的设置，删除会使系统无法正常启动，请在注册表编辑器中改回：" + name
inline constexpr char kSettingNotDeletedPrefix[] =
    "\xD5\xE2\xCA\xC7 Windows \xB5\xC4\xC9\xE8\xD6\xC3\xA3\xAC\xC9\xBE\xB3\xFD\xBB\xE1\xCA\xB9\xCF\xB5"
    "\xCD\xB3\xCE\xDE\xB7\xA8\xD5\xFD\xB3\xA3\xC6\xF4\xB6\xAF\xA3\xAC\xC7\xEB\xD4\xDA\xD7\xA2\xB2\xE1"
    "\xB1\xED\xB1\xE0\xBC\xAD\xC6\xF7\xD6\xD0\xB8\xC4\xBB\xD8\xA3\xBA";
// 未找到扫描工具：
inline constexpr char kScanToolNotFoundPrefix[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xC9\xA8\xC3\xE8\xB9\xA4\xBE\xDF\xA3\xBA";
// 不是文件路径：
inline constexpr char kNotAFilePathPrefix[] =
    "\xB2\xBB\xCA\xC7\xCE\xC4\xBC\xFE\xC2\xB7\xBE\xB6\xA3\xBA";
// 未找到文件夹：
inline constexpr char kFolderNotFoundPrefix[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xCE\xC4\xBC\xFE\xBC\xD0\xA3\xBA";
inline constexpr char kFileNotFoundPrefix[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xCE\xC4\xBC\xFE\xA3\xBA";  // 未找到文件：
// " 处未监视": after the count of locations not watched, in the tray's tooltip.
inline constexpr char kLocationsNotWatched[] = " \xB4\xA6\xCE\xB4\xBC\xE0\xCA\xD3";
// 无法读取上次保存的启动项状态，已将它另存为：(then the name it was moved to)
inline constexpr char kSavedStateSetAside[] =
    "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xC9\xCF\xB4\xCE\xB1\xA3\xB4\xE6\xB5\xC4\xC6\xF4\xB6\xAF\xCF"
    "\xEE\xD7\xB4\xCC\xAC\xA3\xAC\xD2\xD1\xBD\xAB\xCB\xFC\xC1\xED\xB4\xE6\xCE\xAA\xA3\xBA";
// 无法读取上次保存的启动项状态，本次不会保存：(then the file's name)
inline constexpr char kSavedStateUnusable[] =
    "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xC9\xCF\xB4\xCE\xB1\xA3\xB4\xE6\xB5\xC4\xC6\xF4\xB6\xAF\xCF"
    "\xEE\xD7\xB4\xCC\xAC\xA3\xAC\xB1\xBE\xB4\xCE\xB2\xBB\xBB\xE1\xB1\xA3\xB4\xE6\xA3\xBA";

}  // namespace kw::texts
