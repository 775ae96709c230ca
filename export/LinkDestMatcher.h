// Finds where link targets fall on a printed page by walking the page's printed words along the
// page text collected from the DOM.
//
// Both sides count in UTF-8 bytes, so offsets agree whatever the script. The page text need not
// be NUL-terminated; nothing past `textLength` is read, and a text position that has run past
// the end (words stepped over) simply matches nothing more. The text position and record index
// carry over from one printed page of an HTML page to the next. Pure functions, any thread.
#pragma once

#include "LinkDestLocation.h"
#include "PrintedWord.h"

#include <vector>

// Advances pos over spaces, tabs, line feeds, carriage returns and UTF-8 no-break spaces.
void skipTextWhitespace(const char* text, int* pos, int length);

// Fills records from *recordIndex on with the positions of the words at which their character
// indexes are reached. Answers 0 when done (all records placed, words used up, nothing to do),
// 1 when it lost track of the text.
int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int* textPos,
                         int textLength, LinkDestLocation* records, int recordCount,
                         int* recordIndex);
