#pragma once
// A window whose controls are made when it is first shown, or first needed, while the window,
// its logic and its timers exist from the program's start: most runs never open most windows,
// and the start window shows sooner without them.

namespace kv {

template <typename Base>
class ControlsOnFirstShowing : public Base {
public:
    using Base::Base;

    // Makes the controls unless they exist. A handler that touches a control before the first
    // showing calls it first.
    void buildControls()
    {
        if (m_controlsBuilt)
            return;
        m_controlsBuilt = true;
        makeControls();
    }

    void setVisible(bool visible) override
    {
        // Made before the window first shows, so that they show with it.
        if (visible)
            buildControls();
        Base::setVisible(visible);
    }

protected:
    // Makes the controls, once.
    virtual void makeControls() = 0;

private:
    bool m_controlsBuilt = false;
};

} // namespace kv
