// Win32 backend: conversion between the program's UTF-8 std::string and the
// UTF-16 text of the wide-character Windows functions.
#pragma once
#include <string>

namespace ui::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, int length);

} // namespace ui::win32
