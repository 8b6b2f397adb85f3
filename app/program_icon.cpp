#include "program_icon.h"

#include <QString>

namespace lumivox::app {

QIcon programIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/lumivox/lumivox-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace lumivox::app
