#pragma once

#include <QObject>

struct PromptRequest;

// Lives in the GUI thread and shows the boxes that workers ask for. A worker reaches it through a
// blocking queued call by name, which carries no functor of its own that two threads would share.
// The boxes read in Chinese: the error title "error" shows as "错误", and a box with the single
// button Yes, which asks nothing, shows "确定" (and no question mark) and still answers Yes.
class PromptPresenter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Shows the box in the GUI thread and returns the button pressed; from a worker, waits.
    int ask(const PromptRequest &request);

private:
    Q_INVOKABLE void present(const PromptRequest *request, int *answer);
};
