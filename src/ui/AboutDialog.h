#pragma once

#include <QDialog>

namespace rvw {

// The small modal box behind "About": logo, version, description, rights and two links.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);

    // The logo as shown: `width` device-independent pixels wide at the given pixel ratio.
    // A null pixmap when the image cannot be loaded.
    static QPixmap scaledLogo(const QString &resource, qreal devicePixelRatio, int width = 380);
};

} // namespace rvw
