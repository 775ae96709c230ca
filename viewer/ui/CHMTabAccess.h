// What the controllers of a document window may ask of its tabs: the selected one, the one that
// shows a given web view, and all of them. The window fills it in and hands it to the
// controllers, which so never reach the window itself. Once the tabs are gone (the window is
// tearing down) the accessors answer null and the empty list. GUI thread only.
#pragma once

#include <QList>
#include <functional>

class CHMWebView;
class CHMWebViewController;

struct CHMTabAccess {
    // The selected tab's controller; null without tabs.
    std::function<CHMWebViewController*()> current;
    // The controller of the tab that shows the view; null when no tab does.
    std::function<CHMWebViewController*(const CHMWebView*)> controllerOf;
    // Every tab's controller, in the order of the tabs.
    std::function<QList<CHMWebViewController*>()> all;
};
