#include "app/icon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap sheet(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    // The sheet is a portrait page with a thin outline so it shows on light panels too.
    const int margin = size / 8;
    const QRect page(margin, 0, size - 2 * margin - 1, size - 1);
    painter.fillRect(page, Qt::white);
    painter.fillRect(QRect(page.left(), page.top(), page.width(), size / 4), QColor(0, 255, 255));
    painter.setPen(QColor(64, 64, 64));
    painter.drawRect(page);
    return pixmap;
}

}  // namespace

QIcon korvelIcon() {
    QIcon icon;
    icon.addPixmap(sheet(16));
    icon.addPixmap(sheet(32));
    return icon;
}
