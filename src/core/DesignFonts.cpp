#include "core/DesignFonts.h"

#include <QFont>
#include <QStringList>

namespace qc {

void registerDesignFontSubstitutes()
{
    static const bool registered = [] {
        const QStringList sans{QStringLiteral("Microsoft Sans Serif"),
                               QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                               QStringLiteral("Arial")};
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
        QFont::insertSubstitutions(
            QStringLiteral("Tahoma"),
            QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
        return true;
    }();
    (void)registered;
}

QFont designFont(const QString& family, double pointSize, bool bold)
{
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace qc
