#include "ui/qt/QtText.h"

namespace ui::qt {

QString ToQ(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQ(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace ui::qt
