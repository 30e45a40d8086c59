#pragma once

#include "core/PillPresenter.h"

#include <QPointer>
#include <QPropertyAnimation>

#include <functional>
#include <memory>

namespace quenda {

class FloatingPillView;

// The pill as a real window: frameless, above every window, never focused or activated, and transparent to
// the mouse, so the field the user dictates into keeps the keyboard focus and stays the active window. It
// sits next to the pointer, inside the available area of the pointer's screen.
class FloatingPillWindow final : public PillPresenter {
public:
    // `isCompositing` says whether a compositing manager runs right now: only then can the pill fade and
    // have smooth edges. Without one the pill is shaped by a mask and simply hides.
    explicit FloatingPillWindow(std::function<bool()> isCompositing);
    ~FloatingPillWindow() override;

    void show(const PillContent& content) override;
    void refresh(const PillContent& content) override;
    void fadeOutAndHide(double seconds) override;

    // The window, for tests and benchmarks.
    FloatingPillView& view() { return *m_view; }
    bool isFading() const;

private:
    void place();

    std::function<bool()> m_isCompositing;
    std::unique_ptr<FloatingPillView> m_view;
    QPropertyAnimation m_fade;
};

} // namespace quenda
