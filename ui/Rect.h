// A rectangle in pixels: where a control sits within its parent's client
// area, or a window's frame on the screen.
#pragma once
#include <ostream>

namespace ui {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int Right() const { return left + width; }
    int Bottom() const { return top + height; }
    int CentreX() const { return left + width / 2; }
    int CentreY() const { return top + height / 2; }
    // True when other lies wholly inside this rectangle.
    bool Contains(const Rect& other) const {
        return other.left >= left && other.top >= top && other.Right() <= Right() &&
               other.Bottom() <= Bottom();
    }
    // True when the two share at least one pixel.
    bool Intersects(const Rect& other) const {
        return width > 0 && height > 0 && other.width > 0 && other.height > 0 &&
               left < other.Right() && other.left < Right() && top < other.Bottom() &&
               other.top < Bottom();
    }
    bool operator==(const Rect&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.width << " x " << r.height << ")";
}

} // namespace ui
