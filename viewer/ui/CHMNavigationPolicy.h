// What the reader does with a navigation a page asks for. Pages of a .chm are untrusted: they
// stay inside their container, and only a deliberate user action reaches the outside world.
//
// - "itss" URLs load in the web view (any frame, any cause).
// - An http, https or mailto URL goes to the system's handler only when the user clicked a
//   link in the main frame; the web view never loads it.
// - Everything else (file:, data:, other schemes, sub-frames, scripted moves) is ignored.
// - A new window needs a user action whatever its URL; with one, itss opens a tab and the
//   outside schemes go to the system.
//
// The web engine reports scripted moves ("location.href = ...") as link clicks, so the caller
// says whether a user action stands behind the request (see CHMWebPage). Pure functions.
#pragma once

#include <QUrl>

class CHMNavigationPolicy {
public:
    enum class Decision {
        Load,           // in the web view (or, for a new window, in a new tab)
        OpenExternally, // QDesktopServices::openUrl, the web view stays where it is
        Ignore,         // dropped and logged
    };

    // A navigation inside an existing web view.
    static Decision forNavigation(const QUrl& url, bool isLinkClick, bool isMainFrame,
                                  bool isUserAction);
    // A request for a new window (a link with a target, a modifier click, window.open).
    static Decision forNewWindow(const QUrl& url, bool isUserAction);

    // Whether the system may be asked to open the URL: http, https or mailto.
    static bool isExternalScheme(const QUrl& url);
};
