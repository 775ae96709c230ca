#include "ReaderEnvironment.h"

#include <QStringList>

namespace {

// Written only before the first thread starts, read afterwards: no lock is needed.
QStringList& readerOnlyNames() {
    static QStringList names;
    return names;
}

} // namespace

namespace ReaderEnvironment {

bool setUnlessGiven(const char* name, const QByteArray& value, Scope scope) {
    if (qEnvironmentVariableIsSet(name))
        return false;
    qputenv(name, value);
    if (scope == Scope::ReaderOnly)
        readerOnlyNames() << QString::fromLatin1(name);
    return true;
}

QProcessEnvironment forStartedPrograms() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : readerOnlyNames())
        environment.remove(name);
    return environment;
}

} // namespace ReaderEnvironment
