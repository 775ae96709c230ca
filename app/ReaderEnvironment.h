// The environment variables the reader sets for itself at start, and the environment of the
// programs it starts for the user.
//
// Every variable is set before the first thread of the process starts: setenv while another
// thread is in getenv is undefined behaviour (glibc may move the table the other thread reads,
// and fontconfig, the C locale and Qt all read it from their threads). For the same reason
// nothing is unset later. A variable meant for the reader alone (how it draws) is kept from the
// programs it starts on the user's behalf (a browser, a PDF viewer) by giving those
// forStartedPrograms() instead of the reader's own environment.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

namespace ReaderEnvironment {

enum class Scope { InheritedByPrograms, ReaderOnly };

// Sets the variable unless the user has set it (the user decides alone). Answers whether it
// was set here. Call before any thread starts.
bool setUnlessGiven(const char* name, const QByteArray& value, Scope scope);

// The environment as the user gave it, for a program the reader starts: the reader's own
// minus the variables set here for the reader alone.
QProcessEnvironment forStartedPrograms();

} // namespace ReaderEnvironment
