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
    if (!handler) {
        // No display library installed a handler (a headless use of the core): the box is lost,
        // so at least the log keeps its text.
        qWarning() << "prompt:" << request.title << request.text;
        return PromptRequest::NoButton;
    }
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
