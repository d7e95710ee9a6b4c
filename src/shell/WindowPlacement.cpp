#include "shell/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

// How much of the title bar must stay on the screen to drag the window back.
constexpr int GripWidth = 100;
constexpr int GripHeight = 30;

long long AreaOf(const QRect& ARect) {
    return ARect.isEmpty() ? 0 : static_cast<long long>(ARect.width()) * ARect.height();
}

} // namespace

QRect PlacedFrame(QRect AFrame, const QList<QRect>& AScreens, const QRect& APrimary) {
    QRect screen;
    long long best = 0;
    for (const QRect& candidate : AScreens) {
        const long long area = AreaOf(candidate.intersected(AFrame));
        if (area > best) {
            best = area;
            screen = candidate;
        }
    }
    if (best == 0) {
        AFrame.moveTopLeft(APrimary.topLeft());
        return AFrame;
    }
    const int lowestTop = std::max(screen.top(), screen.bottom() + 1 - GripHeight);
    AFrame.moveTop(std::clamp(AFrame.top(), screen.top(), lowestTop));
    if (AFrame.left() > screen.right() + 1 - GripWidth)
        AFrame.moveLeft(screen.right() + 1 - GripWidth);
    if (AFrame.right() < screen.left() + GripWidth - 1)
        AFrame.moveRight(screen.left() + GripWidth - 1);
    return AFrame;
}

QRect PlacedFrameOnScreens(const QRect& AFrame) {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    return PlacedFrame(AFrame, areas, primary ? primary->availableGeometry() : QRect());
}
