#pragma once
// Texts of the change reports, as bytes in code page 936.

namespace kw::texts {

// "警告！注册表更改 - 删除启动项"
inline constexpr char kTitleDeleted[] =
    "\xBE\xAF\xB8\xE6\xA3\xA1\xD7\xA2\xB2\xE1\xB1\xED\xB8\xFC\xB8\xC4 - "
    "\xC9\xBE\xB3\xFD\xC6\xF4\xB6\xAF\xCF\xEE";
// "警告！注册表更改 - 添加启动项"
inline constexpr char kTitleAdded[] =
    "\xBE\xAF\xB8\xE6\xA3\xA1\xD7\xA2\xB2\xE1\xB1\xED\xB8\xFC\xB8\xC4 - "
    "\xCC\xED\xBC\xD3\xC6\xF4\xB6\xAF\xCF\xEE";

// "警告！注册表更改 - 禁用启动项": an entry switched off in Task Manager's way
inline constexpr char kTitleSwitchedOff[] =
    "\xBE\xAF\xB8\xE6\xA3\xA1\xD7\xA2\xB2\xE1\xB1\xED\xB8\xFC\xB8\xC4 - "
    "\xBD\xFB\xD3\xC3\xC6\xF4\xB6\xAF\xCF\xEE";
// "警告！注册表更改 - 启用启动项": one switched on again
inline constexpr char kTitleSwitchedOn[] =
    "\xBE\xAF\xB8\xE6\xA3\xA1\xD7\xA2\xB2\xE1\xB1\xED\xB8\xFC\xB8\xC4 - "
    "\xC6\xF4\xD3\xC3\xC6\xF4\xB6\xAF\xCF\xEE";
// What such a record shows in place of a program: "启动开关：已禁用" and
// "启动开关：已重新启用"
inline constexpr char kSwitchedOffLine[] =
    "\xC6\xF4\xB6\xAF\xBF\xAA\xB9\xD8\xA3\xBA\xD2\xD1\xBD\xFB\xD3\xC3";
inline constexpr char kSwitchedOnLine[] =
    "\xC6\xF4\xB6\xAF\xBF\xAA\xB9\xD8\xA3\xBA\xD2\xD1\xD6\xD8\xD0\xC2\xC6\xF4\xD3\xC3";

// The changed-entry line: kChangedBegin + name + kChangedFrom + old data +
// kChangedTo + new data + kChangedEnd.
// " 程序 ("
inline constexpr char kChangedBegin[] = " \xB3\xCC\xD0\xF2 (";
// ") 路径更改从 \""
inline constexpr char kChangedFrom[] = ") \xC2\xB7\xBE\xB6\xB8\xFC\xB8\xC4\xB4\xD3 \"";
// "\" 到 \""
inline constexpr char kChangedTo[] = "\" \xB5\xBD \"";
inline constexpr char kChangedEnd[] = "\"; ";
// Ends a changed-entry line whose two sides show alike although their data
// differ (characters code page 936 lacks both show as '?'):
// "（显示相同，数据实际不同）"
inline constexpr char kChangedLookAlike[] =
    "\xA3\xA8\xCF\xD4\xCA\xBE\xCF\xE0\xCD\xAC\xA3\xAC\xCA\xFD\xBE\xDD\xCA\xB5\xBC\xCA\xB2\xBB"
    "\xCD\xAC\xA3\xA9";
// How a key's default value, whose name is empty, is named: "(默认)"
inline constexpr char kDefaultValue[] = "(\xC4\xAC\xC8\xCF)";

// "停止监视..."
inline constexpr char kMonitoringStopped[] = "\xCD\xA3\xD6\xB9\xBC\xE0\xCA\xD3...";
// "无法监视此位置，正在重试..."
inline constexpr char kNotWatched[] =
    "\xCE\xDE\xB7\xA8\xBC\xE0\xCA\xD3\xB4\xCB\xCE\xBB\xD6\xC3\xA3\xAC\xD5\xFD\xD4\xDA\xD6\xD8"
    "\xCA\xD4...";
// "恢复监视..."
inline constexpr char kWatchedAgain[] = "\xBB\xD6\xB8\xB4\xBC\xE0\xCA\xD3...";
// "启动文件夹": what the alert's hive field shows for a file in a startup folder.
inline constexpr char kStartupFolder[] = "\xC6\xF4\xB6\xAF\xCE\xC4\xBC\xFE\xBC\xD0";
// "无法监视启动文件夹"
inline constexpr char kCannotWatchFolder[] =
    "\xCE\xDE\xB7\xA8\xBC\xE0\xCA\xD3\xC6\xF4\xB6\xAF\xCE\xC4\xBC\xFE\xBC\xD0";
// "无法打开注册表项"
inline constexpr char kCannotOpenKey[] =
    "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xD7\xA2\xB2\xE1\xB1\xED\xCF\xEE";

}  // namespace kw::texts
