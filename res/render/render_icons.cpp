// Renders the bitmap images of the resource bundle from their SVG sources:
//   render_icons SOURCE.svg TARGET.(png|ico) SIZE [SOURCE TARGET SIZE ...]
// Qt's own SVG renderer draws them, so the bitmaps look like the SVG icons the client shows.
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

namespace {

bool render(const QString &source, const QString &target, int size)
{
    QSvgRenderer renderer(source);
    if (!renderer.isValid() || size <= 0)
        return false;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    QImageWriter writer(target);
    return writer.write(image);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty() || args.size() % 3 != 0) {
        err << "usage: render_icons SOURCE.svg TARGET SIZE [SOURCE TARGET SIZE ...]\n";
        return 2;
    }
    for (int i = 0; i < args.size(); i += 3) {
        if (!render(args[i], args[i + 1], args[i + 2].toInt())) {
            err << "cannot render " << args[i] << " to " << args[i + 1] << "\n";
            return 1;
        }
    }
    return 0;
}
