// Finds where link targets fall on a printed page by walking the page's printed words along the
// page text collected from the DOM.
//
// Both sides count in UTF-8 bytes, so offsets agree whatever the script. The page text need not
// be NUL-terminated; nothing past `textLength` is read, and a text position that has run past
// the end (words stepped over) simply matches nothing more. The text position and record index
// carry over from one printed page of an HTML page to the next. Pure functions, any thread.
//
// The words come in the order the engine painted them, which is not always the order of the
// text: a float (a heading boxed to one side, say) is painted before the text around it, and a
// text shadow paints its text twice. The walk takes a short run of words that continues the
// text further ahead, and after which the walk resumes where it was, as painted early: targets
// just before it land on it, and the walk steps over its text when it gets there.
#pragma once

#include "LinkDestLocation.h"
#include "PrintedWord.h"

#include <utility>
#include <vector>

// Advances pos over spaces, tabs, line feeds, carriage returns and UTF-8 no-break spaces.
void skipTextWhitespace(const char* text, int* pos, int length);

// What the walk carries from one printed page of an HTML page to the next.
struct LinkDestMatchState {
    int textPos = 0;
    int recordIndex = 0;
    // Stretches of the text [begin, end) whose words were painted ahead of their turn.
    std::vector<std::pair<int, int>> paintedEarly;
};

// Fills records from state->recordIndex on with the positions of the words at which their
// character indexes are reached; records are in character order. Answers 0 when done (all
// records placed, words used up, nothing to do), 1 when it lost track of the text. A record
// placed by a run painted early may lie past the text position; it is never placed again.
int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int textLength,
                         LinkDestLocation* records, int recordCount, LinkDestMatchState* state);

// The same walk with only the text position and record index carried over (nothing painted
// early is remembered from one call to the next).
int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int* textPos,
                         int textLength, LinkDestLocation* records, int recordCount,
                         int* recordIndex);

// The words without those painted again at the same place: a text shadow draws its text a
// pixel or so away from the text itself, and both come out of the text engine.
std::vector<PrintedWord> withoutRepaintedWords(const std::vector<PrintedWord>& words);
