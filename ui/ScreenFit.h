#pragma once
// Keeps a window that is about to be shown whole inside the available area of its screen (the
// screen less the desktop's panels), whatever the screen's size and scale: a window larger than
// that area is made smaller, one that reaches past its edges is moved in.
class QWidget;
class QScreen;

namespace vantrel {

class ScreenFit {
  public:
    // Room left for the window manager's frame and title bar, which are not known before the
    // window is first shown.
    static constexpr int kFrameWidth = 8;
    static constexpr int kTitleHeight = 32;

    // Resizes and moves `window` into the available area of `screen` (its own screen when null).
    // Centres it there when `centre` is set, or when it is not yet placed.
    static void fit(QWidget* window, const QScreen* screen = nullptr, bool centre = false);
};

}  // namespace vantrel
