#include "app/lookandfeel.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QStyleFactory>
#include <QTranslator>

namespace LookAndFeel {

void apply(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // Liberation Sans has the widths of Arial, so captions laid out for the 8-point
    // Windows dialog font fit the same boxes; 11 pixels is 8 points at 96 dpi.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    app.setFont(font);
    app.setWindowIcon(appIcon());
    // Qt's own texts (standard buttons, the file dialog) in Russian, as the rest of the program.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

QIcon appIcon()
{
    // A card with its magnetic stripe.
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(QPen(QColor(0, 0, 128), u * 0.8));
        p.setBrush(QColor(255, 255, 224));
        p.drawRoundedRect(QRectF(u * 0.5, u * 3, u * 15, u * 10), u, u);
        p.fillRect(QRectF(u * 0.9, u * 5, u * 14.2, u * 2.5), Qt::black);
        p.fillRect(QRectF(u * 2, u * 9.5, u * 6, u * 1.2), QColor(0, 0, 128));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace LookAndFeel
