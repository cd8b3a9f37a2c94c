// The floor that korvel's start-up and memory are held against: a bare frameless Qt 6 window with
// ten labels and two lists, the same kinds and number of widgets the player shows, and nothing
// else.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.resize(347, 197);
    for (int i = 0; i < 10; ++i) {
        auto* label = new QLabel(QStringLiteral("label %1").arg(i), &window);
        label->setGeometry(10 + (i % 5) * 30, 10 + (i / 5) * 20, 28, 17);
    }
    auto* directories = new QListWidget(&window);
    directories->setGeometry(160, 24, 169, 38);
    auto* files = new QListWidget(&window);
    files->setGeometry(160, 64, 169, 72);
    window.show();
    return app.exec();
}
