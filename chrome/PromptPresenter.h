#pragma once

#include <QObject>

struct PromptRequest;

// Lives in the GUI thread and shows the boxes that workers ask for. A worker reaches it through a
// blocking queued call by name, which carries no functor of its own that two threads would share.
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
