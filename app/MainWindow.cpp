#include "app/MainWindow.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Varko文件传输客户端"));
}

MainWindow::~MainWindow() = default;
