#pragma once

#include "AppVersion.h"

// The program's names as the operator sees them. The main window's caption
// is kMakerName, kTitle, a blank, kWebAddress, a blank and kVersion; the
// about box shows the same names.
namespace appinfo {
// The maker's company name.
inline constexpr auto kMakerName = "青岚测控";
// The program's name; also the title of message boxes that have none of
// their own.
inline constexpr auto kTitle = "温湿度采集软件";
// The maker's web site (a host name), on which the online manual lies.
inline constexpr auto kWebAddress = "www.qinglan-sensors.example";
// "版本 V" and the version set in project() of the top CMakeLists.txt.
inline constexpr auto kVersion = "版本 V" QX7_VERSION;
// The path of the online manual on the maker's web site (帮助 → 内容).
inline constexpr auto kManualPath = "/man/Qx5/index.html";
}  // namespace appinfo
