// The reader ended from outside (SIGTERM at logout or from `kill`, SIGINT, SIGHUP) quits as if
// the user had quit: the windows close, their documents go, and the search index's folders in
// the memory-backed runtime folder are removed. A second signal before that is done removes
// the folders at once and ends the reader.
#pragma once

// Call once the application object exists.
void quitOnTerminationSignals();
