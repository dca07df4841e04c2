#pragma once

// Joins the platform layer's event loop to Qt's, so that there is one loop:
//
// - Qt watches the platform's pollable descriptor and dispatches the
//   platform's messages when it becomes readable, so socket notifications
//   arrive while the window is idle and inside the nested loops of modal
//   message boxes;
// - a single-shot Qt timer is kept armed to the platform's next timer, so
//   component timers fire while Qt waits;
// - the platform's pump, which every blocking operation turns while it waits,
//   runs Qt's waiting events and blocks inside Qt, so the window repaints and
//   its buttons (the abort buttons above all) work during an operation.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace app {

class LoopBridge : public QObject {
    Q_OBJECT
public:
    explicit LoopBridge(QObject* parent = nullptr);
    // Detaches the platform's pump from Qt.
    ~LoopBridge() override;

private:
    void DispatchPlatform();
    void ArmTimer();

    QSocketNotifier m_notifier;
    QTimer m_timer;
};

} // namespace app
