// The scripts and the style sheet the reader puts into every page of a document's profile.
//
// Reader scripts run in the reader's own script world (ApplicationWorld): page scripts can
// neither see nor replace what they define, and they work with page scripts off. The console
// filter alone runs in the page's world, before the page's own scripts, because it changes what
// the page's console does. GUI thread only.
#pragma once

#include <QString>

class QWebEngineProfile;

namespace ReaderScripts {

// Inserts the script, run when each document is ready, in the reader's world.
void insert(QWebEngineProfile& profile, const QString& name, const QString& source,
            bool runsOnSubFrames);
// The user style sheet "Lumeno.css" in every frame; logged and skipped when missing.
void installUserStyleSheet(QWebEngineProfile& profile);
// Only console.log reaches the log: console.info and console.debug (which the engine reports at
// the same level as log) do nothing.
void installConsoleFilter(QWebEngineProfile& profile);

} // namespace ReaderScripts
