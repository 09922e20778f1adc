#pragma once

// The program's own names and addresses. The maker is invented and its web
// address lies under the reserved .example domain, so nothing here ever sends
// anyone to a real site.
namespace appinfo {
inline constexpr auto kMakerName = "青岚测控";
inline constexpr auto kTitle = "温湿度采集软件";
inline constexpr auto kWebAddress = "www.qinglan-sensors.example";
inline constexpr auto kVersion = "版本 V1.0";
inline constexpr auto kManualPath = "/man/Qx5/index.html";
}  // namespace appinfo
