// Qt backend: conversion between the program's UTF-8 std::string and QString.
#pragma once
#include <QString>
#include <string>

namespace ui::qt {

QString ToQ(const std::string& utf8);
std::string FromQ(const QString& text);

} // namespace ui::qt
