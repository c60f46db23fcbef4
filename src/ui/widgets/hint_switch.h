#pragma once
// Switches the tool tips of one window on and off.  Qt has no per-window
// switch, so this filter, installed on the application, swallows the tool
// tip requests of every widget inside the window while hints are off.

#include <QObject>

class QWidget;

namespace toka {

class HintSwitch : public QObject {
    Q_OBJECT
public:
    explicit HintSwitch(QWidget* window);
    ~HintSwitch() override;

    bool enabled() const { return m_enabled; }
    /// Off also hides a tip that is showing.
    void setEnabled(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    bool m_enabled = true;
};

} // namespace toka
