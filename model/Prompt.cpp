#include "model/Prompt.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtDebug>

namespace {

QMutex handlerMutex;
Prompt::Handler currentHandler;

} // namespace

int Prompt::show(const PromptRequest &request)
{
    Handler handler;
    {
        QMutexLocker lock(&handlerMutex);
        handler = currentHandler;
    }
    // The log keeps every box's text: a box nobody sees (an unattended client, a display nobody
    // watches, or no display library at all) would otherwise leave no trace of why it waits.
    qWarning().noquote() << "prompt:" << request.title << request.text;
    if (!handler)
        return PromptRequest::NoButton;
    return handler(request);
}

int Prompt::error(const QString &text)
{
    PromptRequest request;
    request.icon = PromptRequest::Critical;
    request.title = QStringLiteral("error");
    request.text = text;
    request.buttons = PromptRequest::Yes;
    return show(request);
}

void Prompt::setHandler(Handler handler)
{
    QMutexLocker lock(&handlerMutex);
    currentHandler = std::move(handler);
}
