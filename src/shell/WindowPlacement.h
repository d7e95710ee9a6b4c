// Where the main window's frame goes when its saved position is restored.
// Pure functions of rectangles; window's thread (they are called with the screens' areas).
#pragma once

#include <QList>
#include <QRect>

// AFrame as saved, kept where its title bar can be reached: on the screen that holds most of
// it, its top edge is not above that screen and at least a grip's width of it lies on the
// screen. A frame that lies off every screen moves to the top left of APrimary. AScreens and
// APrimary are the screens' available areas.
QRect PlacedFrame(QRect AFrame, const QList<QRect>& AScreens, const QRect& APrimary);

// The same for the screens the application has now.
QRect PlacedFrameOnScreens(const QRect& AFrame);
