#include "CHMOpenFailure.h"

QString CHMOpenFailure::message(const QString& shownName) const {
    switch (kind) {
    case Damaged:
        return QStringLiteral("“%1” is damaged: %2.").arg(shownName, reason);
    case NotCompiledHelp:
        return QStringLiteral("“%1” could not be opened as a compiled help file.").arg(shownName);
    case CannotOpen:
    case None:
        break;
    }
    return QStringLiteral("“%1” could not be opened: %2.").arg(shownName, reason);
}
