// Conversion between the program's UTF-8 std::string and Qt's QString.
#pragma once
#include <QString>
#include <string>

namespace ui {

QString ToQ(const std::string& utf8);
std::string FromQ(const QString& text);

} // namespace ui
