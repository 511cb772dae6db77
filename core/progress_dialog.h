#pragma once
#include <windows.h>
#include <string_view>
namespace dm { struct ProgressDialog { bool Start(UINT, UINT, UINT) { return false; } void SetText(std::string_view) {} bool IsCancelled() { return false; } void Step() {} void Stop() {} }; }
