// The reader ended from outside (SIGTERM at logout or from `kill`, SIGINT, SIGHUP) quits as if
// the user had quit, whatever is on screen: the windows close, their documents go, and the
// search index's folders in the memory-backed runtime folder are removed. A modal message open
// meanwhile (one shown at start, before the event loop runs, included) is closed, and no new
// one opens. A second signal before that is done removes the folders at once and ends the
// reader.
#pragma once

// Call once the application object exists.
void quitOnTerminationSignals();

// Whether a termination signal has arrived: work still under way stops, messages stay unshown,
// and a start that has not reached the event loop yet ends instead. Any thread.
bool terminationRequested();
