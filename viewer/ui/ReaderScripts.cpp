#include "ReaderScripts.h"

#include "JavaScriptStringLiteral.h"
#include "ResourceLocator.h"

#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

void ReaderScripts::insert(QWebEngineProfile& profile, const QString& name, const QString& source,
                           bool runsOnSubFrames) {
    QWebEngineScript script;
    script.setName(name);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setRunsOnSubFrames(runsOnSubFrames);
    script.setSourceCode(source);
    profile.scripts()->insert(script);
}

void ReaderScripts::installUserStyleSheet(QWebEngineProfile& profile) {
    const QString css =
        ResourceLocator::readText(QStringLiteral("Lumeno.css"), "pages show unstyled");
    if (css.isNull())
        return;
    // The sheet travels as a string literal, so no character of it can end the script early.
    insert(profile, QStringLiteral("Lumeno user style sheet"),
           QStringLiteral("(function(){var id='lumeno-user-style-sheet';"
                          "if(document.getElementById(id))return;"
                          "var s=document.createElement('style');s.id=id;"
                          "s.textContent=%1;"
                          "(document.head||document.documentElement).appendChild(s);})();")
               .arg(javaScriptStringLiteral(css)),
           true);
}

void ReaderScripts::installConsoleFilter(QWebEngineProfile& profile) {
    QWebEngineScript script;
    script.setName(QStringLiteral("Lumeno console filter"));
    script.setWorldId(QWebEngineScript::MainWorld);
    // Before any script of the page, in every frame.
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral(
        "(function(){var quiet=function(){};"
        "try{Object.defineProperty(console,'info',{value:quiet,writable:false,configurable:false});"
        "Object.defineProperty(console,'debug',{value:quiet,writable:false,configurable:false});}"
        "catch(e){}})();"));
    profile.scripts()->insert(script);
}
